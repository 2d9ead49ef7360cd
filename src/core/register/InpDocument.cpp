#include "register/InpDocument.h"


#include "app/Settings.h"
#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"
#include "inbox/CodePage.h"
#include "platform/Platform.h"
#include "register/HandOff.h"
#include "register/InvoiceEntry.h"
#include "register/RegisterTexts.h"
#include "register/uDMGlavni.h"
#include "util/Digest.h"

namespace kv::reg {

std::string ContentDigest(std::string_view bytes) { return Sha256Hex(bytes); }

void EnsureInpTable(TDMGlavni& db) {
    try {
        db.Baza().db().exec(
            "CREATE TABLE IF NOT EXISTS UlazFajl (Mapa TEXT NOT NULL, Naziv TEXT NOT NULL, Digest TEXT NOT NULL, "
            "Godina INTEGER NOT NULL, Broj INTEGER NOT NULL, Gotov INTEGER NOT NULL DEFAULT 0);\n"
            "CREATE INDEX IF NOT EXISTS UlazFajlNaziv ON UlazFajl (Mapa, Naziv, Gotov);");
    } catch (const std::exception& e) {
        db.Baza().fail(e, "UlazFajl");
    }
}

std::optional<Record> FindInpDocument(TDMGlavni& db, const InpSource& src) {
    std::int64_t godina = 0, broj = 0;
    try {
        auto st = db.Baza().prepare(
            "SELECT Godina, Broj FROM UlazFajl WHERE Mapa = ? AND Naziv = ? AND Digest = ? AND Gotov = 0 "
            "ORDER BY rowid DESC LIMIT 1");
        BindText(st, 1, src.folder);
        BindText(st, 2, src.name);
        BindText(st, 3, src.digest);
        if (!st.executeStep()) return std::nullopt;
        godina = st.getColumn(0).getInt64();
        broj = st.getColumn(1).getInt64();
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        db.Baza().fail(e, "UlazFajl");
    }
    return db.Dokument(static_cast<int>(godina), kRacun, broj);
}

namespace {
const char* CheckText(LineCheck c) {
    switch (c) {
        case LineCheck::NoAmount: return texts::kNoAmount;
        case LineCheck::QuantityTooBig: return texts::kQuantityTooBig;
        case LineCheck::PriceTooBig: return texts::kPriceTooBig;
        case LineCheck::NoStock: return texts::kNoStock;
        case LineCheck::Ok: break;
    }
    return "";
}
}  // namespace

Record CreateInpDocument(TDMGlavni& db, const inbox::InpSale& sale, const InpSource& src, const InpDefaults& d) {
    if (sale.items.empty()) throw inbox::InpError(texts::kNoLines);
    Record h = TDMGlavni::NewRecord("Doku");
    db.Baza().immediate([&] {
        h.set("Godina", std::int64_t(d.year)).set("UI", std::int64_t(kRacun)).set("Opis", std::string());
        // Confirmed as it is written: nobody ever sees it open.
        h.set("Storno", std::int64_t(0)).set("Status", std::int64_t(1)).set("Datum", d.workDate);
        h.set("NacinPL", sale.nacinPL.value_or(d.nacinPL)).set("Placeno", Currency());
        h.set("ID", platform::NewGuid()).set("Cashier", d.cashier).set("SysTime", d.sysTime);
        db.NewDocument(h);
        const std::int64_t broj = *h.integer("Broj");
        int n = 0;
        for (const auto& item : sale.items) {
            ++n;
            Record l = TDMGlavni::NewRecord("Prom");
            l.set("DokuGodina", std::int64_t(d.year)).set("DokuUI", std::int64_t(kRacun)).set("DokuBroj", broj);
            l.set("Artikl", item.artikl).set("Opis", item.opis).set("BarKod", std::string());
            l.set("Cijena", item.cijena).set("KolIzlaz", item.kolicina).set("Iznos", item.iznos);
            l.set("Tarifa", item.tarifa).set("Stopa", item.stopa);
            Currency available;
            if (d.stockMode == 2) available = db.Zalihe(d.year, item.artikl).value_or(Currency());
            if (LineCheck c = CheckLine(l, d.stockMode, available); c != LineCheck::Ok)
                throw inbox::InpError("item " + std::to_string(n) + " (" + item.artikl + "): " + CheckText(c));
            db.Save(l);
        }
        try {
            auto st = db.Baza().prepare(
                "INSERT INTO UlazFajl (Mapa, Naziv, Digest, Godina, Broj, Gotov) VALUES (?, ?, ?, ?, ?, 0)");
            BindText(st, 1, src.folder);
            BindText(st, 2, src.name);
            BindText(st, 3, src.digest);
            st.bind(4, static_cast<std::int64_t>(d.year));
            st.bind(5, broj);
            st.exec();
        } catch (const std::exception& e) {
            db.Baza().fail(e, "UlazFajl");
        }
    });
    return h;
}

void RetireInpFile(TDMGlavni& db, const InpSource& src) {
    try {
        db.Baza().immediate([&] {
            auto st = db.Baza().prepare(
                "UPDATE UlazFajl SET Gotov = 1 WHERE Mapa = ? AND Naziv = ? AND Digest = ? AND Gotov = 0");
            BindText(st, 1, src.folder);
            BindText(st, 2, src.name);
            BindText(st, 3, src.digest);
            st.exec();
        });
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        db.Baza().fail(e, "UlazFajl");
    }
}

void RetireInpFiles(TDMGlavni& db, const std::string& folder,
                    const std::vector<std::pair<std::string, std::string>>& nameDigest) {
    if (nameDigest.empty()) return;
    db.Baza().immediate([&] {
        for (const auto& [name, digest] : nameDigest) RetireInpFile(db, {folder, name, digest});
    });
}

void SweepInpFiles(TDMGlavni& db, const std::string& folder, const std::set<std::string>& present) {
    try {
        db.Baza().immediate([&] {
            std::vector<std::pair<std::int64_t, std::string>> waiting;
            auto st = db.Baza().prepare("SELECT rowid, Naziv FROM UlazFajl WHERE Mapa = ? AND Gotov = 0");
            BindText(st, 1, folder);
            while (st.executeStep()) waiting.emplace_back(st.getColumn(0).getInt64(), st.getColumn(1).getString());
            auto up = db.Baza().prepare("UPDATE UlazFajl SET Gotov = 1 WHERE rowid = ?");
            for (const auto& [rowid, name] : waiting) {
                if (present.count(name)) continue;
                up.reset();
                up.bind(1, rowid);
                up.exec();
            }
        });
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        db.Baza().fail(e, "UlazFajl");
    }
}

RegisterInpRoad::RegisterInpRoad(std::function<TDMGlavni*()> db, SettingsRecord& kasaBaf, device::InvoiceModel& model,
                                 device::Fiscalizer& fisk, device::RequestLedger* ledger, bool* fiskIzKase)
    : db_(std::move(db)), kasaBaf_(kasaBaf), model_(model), fisk_(fisk), ledger_(ledger), fiskIzKase_(fiskIzKase) {}

DateTime RegisterInpRoad::workDate() const {
    auto d = kasaBaf_.date("Datum");
    if (d.ok())
        return DateTime::fromParts(static_cast<int>(d.year()), static_cast<int>(static_cast<unsigned>(d.month())),
                                   static_cast<int>(static_cast<unsigned>(d.day())));
    std::time_t t = clock();
    std::tm tm{};
    localtime_r(&t, &tm);
    return DateTime::fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

InpDefaults RegisterInpRoad::defaults() const {
    std::time_t t = clock();
    std::tm tm{};
    localtime_r(&t, &tm);
    InpDefaults d;
    d.year = static_cast<int>(kasaBaf_.integer("Godina"));
    d.workDate = workDate();
    d.sysTime = DateTime::fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    d.nacinPL = kasaBaf_.text("NacPl");
    d.cashier = kasaBaf_.text("Cashier");
    d.stockMode = static_cast<int>(kasaBaf_.integer("Zalihe"));
    return d;
}

std::vector<inbox::InpRoad::Result> RegisterInpRoad::Take(const std::string& folder, const std::vector<File>& files,
                                                          bool fiscalise) {
    const std::size_t n = files.size();
    std::vector<Result> r(n);
    for (std::size_t i = 0; i < n; ++i) r[i].name = files[i].name;
    TDMGlavni* db = db_();
    if (!db) {
        for (auto& x : r) x.message = std::string("the cash register's database ") + kDatabaseName + " is not open";
        return r;
    }
    std::vector<std::optional<Record>> docs(n);
    std::vector<bool> resumed(n, false);
    const char sep = decimalSep ? decimalSep : platform::DecimalSeparator();
    try {
        if (ensured_ != db) {
            EnsureInpTable(*db);
            ensured_ = db;
        }
        const InpDefaults d = defaults();
        auto& sql = db->Baza().db();
        // One commit for all: each file inside its own savepoint, so one that
        // cannot be taken leaves nothing and the others stay.
        db->Baza().immediate([&] {
            for (std::size_t i = 0; i < n; ++i) {
                const InpSource src{folder, files[i].name, ContentDigest(files[i].bytes)};
                r[i].digest = src.digest;
                docs[i] = FindInpDocument(*db, src);
                if (docs[i]) {
                    resumed[i] = !fresh_.count(docs[i]->text("ID"));
                    continue;
                }
                sql.exec("SAVEPOINT inp");
                try {
                    docs[i] = CreateInpDocument(*db, inbox::ParseInp(inbox::DecodeText(files[i].bytes), sep), src, d);
                    sql.exec("RELEASE inp");
                    fresh_.insert(docs[i]->text("ID"));
                } catch (const std::exception& e) {
                    sql.exec("ROLLBACK TO inp");
                    sql.exec("RELEASE inp");
                    if (!dynamic_cast<const inbox::InpError*>(&e) && !dynamic_cast<const inbox::CodePageError*>(&e))
                        throw;
                    docs[i].reset();
                    r[i].message = e.what();
                }
            }
        });
    } catch (const std::exception& e) {
        // The database could not serve (locked by another program, disk
        // full): nothing was written, the files are tried again later.
        for (auto& x : r) {
            x.outcome = Outcome::Pending;
            x.message = e.what();
        }
        return r;
    }
    std::vector<std::size_t> toHandOff;
    for (std::size_t i = 0; i < n; ++i) {
        if (!docs[i]) continue;  // NotLoaded with its message
        r[i].broj = docs[i]->integer("Broj").value_or(0);
        const std::string no = "invoice " + std::to_string(r[i].broj);
        if (!docs[i]->text("PFRBROJ").empty()) {
            r[i].outcome = Outcome::Signed;
            r[i].message = no + " signed " + docs[i]->text("PFRBROJ") + " " + docs[i]->text("PFRTIME");
        } else {
            r[i].outcome = Outcome::Loaded;
            r[i].message = no + " confirmed";
            if (fiscalise) toHandOff.push_back(i);
        }
    }
    if (toHandOff.empty()) return r;

    // The device's answers are written back in one commit. Should that commit
    // fail, or Kovira stop before it, the request record holds every
    // signature, and the files (still there) resume their documents from it.
    std::vector<std::size_t> signedNow;
    // The model's saved copy is written once for the batch: these invoices
    // are recovered from their files, documents and the request record,
    // never from that copy.
    device::InvoiceModel::Batch modelBatch(model_);
    try {
        db->Baza().immediate([&] {
            for (std::size_t i : toHandOff) {
                Result& x = r[i];
                const std::string no = "invoice " + std::to_string(x.broj);
                HandOffContext hc{*db, model_, fisk_, ledger_, fiskIzKase_, kasaBaf_.text("Cashier"), resumed[i]};
                std::string error;
                try {
                    error = PrintFisk(hc, *docs[i], 0, docs[i]->date("Datum").value_or(workDate()), clock());
                } catch (const std::exception& e) {
                    // The answer could not be kept: the device may have signed it.
                    x.outcome = Outcome::Pending;
                    x.message = no + ": " + e.what();
                    break;
                }
                fresh_.erase(docs[i]->text("ID"));
                if (fisk_.pending()) {
                    x.outcome = Outcome::Pending;
                    x.message = no + ": " + error;
                    break;
                }
                if (!error.empty()) {
                    x.outcome = Outcome::Failed;
                    x.message = no + ": " + error;
                    break;
                }
                const auto& inv = model_.Invoice;
                x.outcome = Outcome::Signed;
                x.message = no + " signed " + inv.field("PFRnumber").asString() + " " + inv.field("PFRvrijeme").asString();
                signedNow.push_back(i);
            }
        });
    } catch (const std::exception& e) {
        for (std::size_t i : signedNow) {
            r[i].outcome = Outcome::Pending;
            r[i].message = "invoice " + std::to_string(r[i].broj) + " signed, its number not stored: " + e.what();
        }
    }
    return r;
}

void RegisterInpRoad::Retired(const std::string& folder,
                              const std::vector<std::pair<std::string, std::string>>& nameDigest) {
    if (TDMGlavni* db = db_()) RetireInpFiles(*db, folder, nameDigest);
}

void RegisterInpRoad::Sweep(const std::string& folder, const std::set<std::string>& present) {
    if (TDMGlavni* db = db_()) {
        EnsureInpTable(*db);
        SweepInpFiles(*db, folder, present);
    }
}

}  // namespace kv::reg
