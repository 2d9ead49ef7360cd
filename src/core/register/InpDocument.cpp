#include "register/InpDocument.h"

#include <sodium.h>

#include "app/Settings.h"
#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"
#include "inbox/CodePage.h"
#include "platform/Platform.h"
#include "register/HandOff.h"
#include "register/InvoiceEntry.h"
#include "register/RegisterTexts.h"
#include "register/uDMGlavni.h"

namespace kv::reg {

std::string ContentDigest(std::string_view bytes) {
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(hash, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned char b : hash) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

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

inbox::InpRoad::Result RegisterInpRoad::Take(const std::string& folder, const std::string& name,
                                             const std::string& bytes, bool fiscalise) {
    Result r;
    TDMGlavni* db = db_();
    if (!db) {
        r.message = std::string("the cash register's database ") + kDatabaseName + " is not open";
        return r;
    }
    const InpSource src{folder, name, ContentDigest(bytes)};
    r.digest = src.digest;
    std::optional<Record> h;
    bool resumed = false;
    try {
        EnsureInpTable(*db);
        h = FindInpDocument(*db, src);
        resumed = h.has_value();
        if (!h) {
            const inbox::InpSale sale =
                inbox::ParseInp(inbox::DecodeText(bytes), decimalSep ? decimalSep : platform::DecimalSeparator());
            std::time_t t = clock();
            std::tm tm{};
            localtime_r(&t, &tm);
            InpDefaults d;
            d.year = static_cast<int>(kasaBaf_.integer("Godina"));
            d.workDate = workDate();
            d.sysTime = DateTime::fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                            tm.tm_sec);
            d.nacinPL = kasaBaf_.text("NacPl");
            d.cashier = kasaBaf_.text("Cashier");
            d.stockMode = static_cast<int>(kasaBaf_.integer("Zalihe"));
            h = CreateInpDocument(*db, sale, src, d);
        }
    } catch (const inbox::InpError& e) {
        r.message = e.what();
        return r;
    } catch (const inbox::CodePageError& e) {
        r.message = e.what();
        return r;
    } catch (const std::exception& e) {
        // The database could not serve (locked by another program, disk
        // full): nothing was written, the file is tried again later.
        r.outcome = Outcome::Pending;
        r.message = e.what();
        return r;
    }
    r.broj = h->integer("Broj").value_or(0);
    if (!h->text("PFRBROJ").empty()) {
        r.outcome = Outcome::Signed;
        r.message = "invoice " + std::to_string(r.broj) + " signed " + h->text("PFRBROJ") + " " + h->text("PFRTIME");
        return r;
    }
    if (!fiscalise) {
        r.outcome = Outcome::Loaded;
        r.message = "invoice " + std::to_string(r.broj) + " confirmed";
        return r;
    }
    HandOffContext hc{*db, model_, fisk_, ledger_, fiskIzKase_, kasaBaf_.text("Cashier"), resumed};
    std::string error;
    try {
        error = PrintFisk(hc, *h, 0, h->date("Datum").value_or(workDate()), clock());
    } catch (const std::exception& e) {
        // The answer could not be kept: the device may have signed it.
        r.outcome = Outcome::Pending;
        r.message = e.what();
        return r;
    }
    if (fisk_.pending()) {
        r.outcome = Outcome::Pending;
        r.message = error;
    } else if (error.empty()) {
        r.outcome = Outcome::Signed;
        const auto& inv = model_.Invoice;
        r.message = "invoice " + std::to_string(r.broj) + " signed " + inv.field("PFRnumber").asString() + " " +
                    inv.field("PFRvrijeme").asString();
    } else {
        r.outcome = Outcome::Failed;
        r.message = "invoice " + std::to_string(r.broj) + ": " + error;
    }
    return r;
}

void RegisterInpRoad::Retired(const std::string& folder, const std::string& name, const std::string& digest) {
    if (TDMGlavni* db = db_()) RetireInpFile(*db, {folder, name, digest});
}

void RegisterInpRoad::Sweep(const std::string& folder, const std::set<std::string>& present) {
    if (TDMGlavni* db = db_()) {
        EnsureInpTable(*db);
        SweepInpFiles(*db, folder, present);
    }
}

}  // namespace kv::reg
