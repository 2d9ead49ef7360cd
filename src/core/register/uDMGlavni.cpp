#include "register/uDMGlavni.h"

#include <sqlite3.h>

#include "platform/Platform.h"
#include "register/Passwords.h"
#include "util/Utf8.h"

namespace kv::reg {

namespace {

std::string ColumnList(const Table& t) {
    std::string s;
    for (const auto& c : t.columns) {
        if (!s.empty()) s += ", ";
        s += c.name;
    }
    return s;
}

void BindParams(SQLite::Statement& st, const std::vector<Value>& params) {
    int i = 1;
    for (const auto& p : params) {
        if (auto* s = std::get_if<std::string>(&p))
            st.bind(i, *s);
        else if (auto* n = std::get_if<std::int64_t>(&p))
            st.bind(i, static_cast<int64_t>(*n));
        else
            st.bind(i);
        ++i;
    }
}

bool Missing(const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return true;
    auto* s = std::get_if<std::string>(&v);
    return s && s->empty();
}

// Totals and stock are summed in whole hundredths / ten-thousandths, so a
// thousand lines of 0.10 make exactly 100.00 whatever SQLite stored.
const char* kSumIznos = "SUM(CAST(ROUND(Iznos * 100) AS INTEGER))";

}  // namespace

TDMGlavni::TDMGlavni(const std::string& path) : baza_(path) {}

std::vector<Record> TDMGlavni::Select(const Table& t, const std::string& tail, const std::vector<Value>& params) {
    std::vector<Record> rows;
    try {
        auto st = baza_.prepare("SELECT " + ColumnList(t) + ", rowid FROM " + t.name + " " + tail);
        BindParams(st, params);
        const int n = static_cast<int>(t.columns.size());
        while (st.executeStep()) {
            Record r(t);
            for (int i = 0; i < n; ++i) r.values[i] = Read(st, i, t.columns[i]);
            r.rowid = st.getColumn(n).getInt64();
            r.stored = r.values;
            rows.push_back(std::move(r));
        }
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, t.name);
    }
    return rows;
}

std::vector<Record> TDMGlavni::Grupa() { return Select(TableDef("Grupa"), "ORDER BY rowid"); }
std::vector<Record> TDMGlavni::Radnik() { return Select(TableDef("Radnik"), "ORDER BY rowid"); }
std::vector<Record> TDMGlavni::Tarifa() { return Select(TableDef("Tarifa"), "ORDER BY rowid"); }
std::vector<Record> TDMGlavni::Artikl() { return Select(TableDef("Artikl"), "ORDER BY rowid"); }
std::vector<Record> TDMGlavni::NacPl() { return Select(TableDef("PaymentType"), "ORDER BY rowid"); }
std::vector<Record> TDMGlavni::Partner() { return Select(TableDef("Partner"), "ORDER BY rowid"); }
std::vector<Record> TDMGlavni::Kart() { return Select(TableDef("Kart"), "ORDER BY rowid"); }
std::vector<Record> TDMGlavni::Barkod(const std::string& artiklSifra) {
    return Select(TableDef("Barkod"), "WHERE Artikl = ? ORDER BY rowid", {artiklSifra});
}
std::vector<Record> TDMGlavni::Rabat(const std::string& kartSifra) {
    return Select(TableDef("Rabat"), "WHERE RABATKART = ? ORDER BY rowid", {kartSifra});
}

Record TDMGlavni::NewRecord(const std::string& table) { return Record(TableDef(table)); }

Record TDMGlavni::NewArtikl(const std::optional<std::string>& currentGrupa,
                            const std::optional<std::string>& currentTarifa) {
    Record r(TableDef("Artikl"));
    if (currentGrupa) r.set("Grupa", *currentGrupa);
    if (currentTarifa) r.set("Tarifa", *currentTarifa);
    r.set("Cijena", Currency(0));
    return r;
}

Record TDMGlavni::NewBarkod(const std::optional<std::string>& currentArtikl) {
    Record r(TableDef("Barkod"));
    if (currentArtikl) r.set("Artikl", *currentArtikl);
    r.set("Sifra", std::string());
    return r;
}

void TDMGlavni::Insert(Record& row) {
    const Table& t = *row.table;
    std::string marks;
    for (size_t i = 0; i < t.columns.size(); ++i) marks += i ? ", ?" : "?";
    auto st = baza_.prepare(std::string("INSERT INTO ") + t.name + " (" + ColumnList(t) + ") VALUES (" + marks + ")");
    for (size_t i = 0; i < t.columns.size(); ++i) Bind(st, static_cast<int>(i) + 1, t.columns[i], row.values[i]);
    st.exec();
    row.rowid = baza_.db().getLastInsertRowid();
}

void TDMGlavni::Update(Record& row) {
    const Table& t = *row.table;
    std::string sql = std::string("UPDATE ") + t.name + " SET ";
    for (size_t i = 0; i < t.columns.size(); ++i) sql += std::string(i ? ", " : "") + t.columns[i].name + " = ?";
    sql += " WHERE rowid = ?";
    const auto keys = t.keyColumns();
    for (int k : keys) sql += std::string(" AND ") + t.columns[k].name + " = ?";
    auto st = baza_.prepare(sql);
    int p = 1;
    for (size_t i = 0; i < t.columns.size(); ++i) Bind(st, p++, t.columns[i], row.values[i]);
    st.bind(p++, static_cast<int64_t>(row.rowid));
    for (int k : keys) Bind(st, p++, t.columns[k], row.stored[k]);
    if (st.exec() == 0)
        throw DatabaseError(DatabaseError::Kind::Other, std::string("Zapis u tabeli ") + t.name +
                                                            " je u međuvremenu promijenjen ili obrisan.");
}

bool TDMGlavni::Save(Record& row) {
    const Table& t = *row.table;
    if (!row.isNew() && t.codeList && ServerLinkOn()) return false;
    const bool doku = t.name == std::string("Doku"), prom = t.name == std::string("Prom");
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const Column& c = t.columns[i];
        if (!(c.key || c.required)) continue;
        // The number of a new document or line is taken when it is saved.
        if (row.isNew() && ((doku && c.name == std::string("Broj")) || (prom && c.name == std::string("Stavka"))))
            continue;
        if (Missing(row.values[i])) throw RequiredFieldError(c.name);
    }
    try {
        if (row.isNew() && doku && row.isNull("Broj")) {
            NewDocument(row);
        } else if (row.isNew() && prom && row.isNull("Stavka")) {
            baza_.immediate([&] {
                auto st = baza_.prepare(
                    "SELECT IFNULL(MAX(Stavka), 0) + 1 FROM Prom WHERE DokuGodina = ? AND DokuUI = ? AND DokuBroj = ?");
                for (int i = 0; i < 3; ++i) Bind(st, i + 1, t.columns[i], row.values[i]);
                st.executeStep();
                vStavka = static_cast<std::int32_t>(st.getColumn(0).getInt64());
                row.set("Stavka", std::int64_t(vStavka));
                Insert(row);
            });
        } else if (row.isNew()) {
            baza_.immediate([&] { Insert(row); });
        } else {
            baza_.immediate([&] { Update(row); });
        }
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, t.name);
    }
    row.stored = row.values;
    return true;
}

bool TDMGlavni::Delete(const Record& row) {
    const Table& t = *row.table;
    if (row.isNew()) return true;
    if (t.codeList && ServerLinkOn()) return false;
    if (t.name == std::string("Doku")) {
        auto key = [&](int i) {
            auto* v = std::get_if<std::int64_t>(&row.stored[i]);
            return v ? *v : 0;
        };
        DeleteDocument(static_cast<int>(key(0)), static_cast<int>(key(1)), key(2));
        return true;
    }
    try {
        baza_.immediate([&] {
            std::string sql = std::string("DELETE FROM ") + t.name + " WHERE rowid = ?";
            const auto keys = t.keyColumns();
            for (int k : keys) sql += std::string(" AND ") + t.columns[k].name + " = ?";
            auto st = baza_.prepare(sql);
            st.bind(1, static_cast<int64_t>(row.rowid));
            int p = 2;
            for (int k : keys) Bind(st, p++, t.columns[k], row.stored[k]);
            st.exec();
        });
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, t.name);
    }
    return true;
}

std::vector<Record> TDMGlavni::Racuni(int godina) {
    return Select(TableDef("Doku"), "WHERE Godina = ? AND UI = 1 ORDER BY Broj", {std::int64_t(godina)});
}

std::optional<Record> TDMGlavni::Dokument(int godina, int ui, std::int64_t broj) {
    auto rows = Select(TableDef("Doku"), "WHERE Godina = ? AND UI = ? AND Broj = ?",
                       {std::int64_t(godina), std::int64_t(ui), broj});
    if (rows.empty()) return std::nullopt;
    return std::move(rows.front());
}

std::vector<Record> TDMGlavni::Ulazi(int godina) {
    return Select(TableDef("Doku"), "WHERE Godina = ? AND UI = 0 ORDER BY Broj DESC", {std::int64_t(godina)});
}

std::vector<Record> TDMGlavni::StavkeRac(int godina, int ui, std::int64_t broj) {
    return Select(TableDef("Prom"), "WHERE DokuGodina = ? AND DokuUI = ? AND DokuBroj = ? ORDER BY Stavka",
                  {std::int64_t(godina), std::int64_t(ui), broj});
}

std::optional<Currency> TDMGlavni::ZbirRac(int godina, int ui, std::int64_t broj) {
    try {
        auto st = baza_.prepare(std::string("SELECT ") + kSumIznos +
                                " FROM Prom WHERE DokuGodina = ? AND DokuUI = ? AND DokuBroj = ?");
        BindParams(st, {std::int64_t(godina), std::int64_t(ui), broj});
        st.executeStep();
        if (st.getColumn(0).isNull()) return std::nullopt;
        return Currency::fromRaw(st.getColumn(0).getInt64() * 100);
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "ZbirRac");
    }
}

std::int64_t TDMGlavni::NoviDoku(int godina, int ui) {
    try {
        auto st = baza_.prepare("SELECT IFNULL(MAX(Broj), 0) + 1 AS Broj FROM Doku WHERE Godina = ? AND UI = ?");
        BindParams(st, {std::int64_t(godina), std::int64_t(ui)});
        st.executeStep();
        return st.getColumn(0).getInt64();
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "NoviDoku");
    }
}

std::int64_t TDMGlavni::NewDocument(Record& header) {
    if (header.isNull("Godina")) throw RequiredFieldError("Godina");
    if (header.isNull("UI")) throw RequiredFieldError("UI");
    const int godina = static_cast<int>(*header.integer("Godina"));
    const int ui = static_cast<int>(*header.integer("UI"));
    if (header.text("ID").empty()) header.set("ID", platform::NewGuid());
    try {
        baza_.immediate([&] {
            const std::int64_t broj = NoviDoku(godina, ui);
            // Lines of a document deleted outside Kovira must not turn up
            // under the new one.
            auto del = baza_.prepare("DELETE FROM Prom WHERE DokuGodina = ? AND DokuUI = ? AND DokuBroj = ?");
            BindParams(del, {std::int64_t(godina), std::int64_t(ui), broj});
            del.exec();
            header.set("Broj", broj);
            Insert(header);
        });
    } catch (const std::exception&) {
        header.values[header.table->index("Broj")] = std::monostate{};
        header.rowid = 0;
        throw;
    }
    header.stored = header.values;
    return *header.integer("Broj");
}

std::optional<std::int64_t> TDMGlavni::Otvoren(int godina) {
    try {
        auto st = baza_.prepare("SELECT MIN(Broj) FROM Doku WHERE Godina = ? AND UI = 1 AND Status = 0");
        BindParams(st, {std::int64_t(godina)});
        st.executeStep();
        if (st.getColumn(0).isNull()) return std::nullopt;
        return st.getColumn(0).getInt64();
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "Otvoren");
    }
}

std::optional<Currency> TDMGlavni::Zalihe(int godina, const std::string& sifra) {
    try {
        auto st = baza_.prepare(
            "SELECT SUM(CAST(ROUND(IFNULL(KolUlaz, 0) * 10000) AS INTEGER) - "
            "CAST(ROUND(IFNULL(KolIzlaz, 0) * 10000) AS INTEGER)) AS Stanje "
            "FROM Prom WHERE Artikl = ? AND DokuGodina = ?");
        BindParams(st, {sifra, std::int64_t(godina)});
        st.executeStep();
        if (st.getColumn(0).isNull()) return std::nullopt;
        return Currency::fromRaw(st.getColumn(0).getInt64());
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "Zalihe");
    }
}

void TDMGlavni::DeleteDocument(int godina, int ui, std::int64_t broj) {
    try {
        baza_.immediate([&] {
            for (const char* sql : {"DELETE FROM Prom WHERE DokuGodina = ? AND DokuUI = ? AND DokuBroj = ?",
                                    "DELETE FROM Doku WHERE Godina = ? AND UI = ? AND Broj = ?"}) {
                auto st = baza_.prepare(sql);
                BindParams(st, {std::int64_t(godina), std::int64_t(ui), broj});
                st.exec();
            }
        });
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "Doku");
    }
}

namespace {
// Columns of the article search list, in this order.
const char* kArtiklBarKod =
    "SELECT Artikl.Sifra, Artikl.Naziv, Artikl.Grupa, Artikl.Tarifa, Artikl.Cijena, Tarifa.STOPA, "
    "Barkod.Sifra AS Barkod "
    "FROM Artikl LEFT OUTER JOIN Barkod ON Artikl.Sifra = Barkod.Artikl, Tarifa "
    "WHERE Tarifa.SIFRA = Artikl.Tarifa";

ArtiklBarKodRow ReadArtiklBarKod(SQLite::Statement& st) {
    auto text = [&](int i) {
        const SQLite::Column c = st.getColumn(i);
        return std::string(c.getText(), c.getBytes());
    };
    ArtiklBarKodRow r;
    r.Sifra = text(0);
    r.Naziv = text(1);
    r.Grupa = text(2);
    r.Tarifa = text(3);
    r.Cijena = ReadDecimal(st, 4, 2).value_or(Currency());
    r.STOPA = ReadDecimal(st, 5, 2);
    r.Barkod = text(6);
    return r;
}
}  // namespace

std::vector<ArtiklBarKodRow> TDMGlavni::ArtiklBarKod() {
    std::vector<ArtiklBarKodRow> rows;
    try {
        auto st = baza_.prepare(kArtiklBarKod);
        while (st.executeStep()) rows.push_back(ReadArtiklBarKod(st));
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "ArtiklBarKod");
    }
    return rows;
}

std::optional<ArtiklBarKodRow> TDMGlavni::FindOne(const std::string& sql, const std::string& param) {
    try {
        auto st = baza_.prepare(sql);
        st.bind(1, param);
        if (!st.executeStep()) return std::nullopt;
        return ReadArtiklBarKod(st);
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "ArtiklBarKod");
    }
}

std::optional<ArtiklBarKodRow> TDMGlavni::FindBarcode(const std::string& barkod) {
    return FindOne(
        "SELECT Artikl.Sifra, Artikl.Naziv, Artikl.Grupa, Artikl.Tarifa, Artikl.Cijena, Tarifa.STOPA, Barkod.Sifra "
        "FROM Barkod JOIN Artikl ON Artikl.Sifra = Barkod.Artikl JOIN Tarifa ON Tarifa.SIFRA = Artikl.Tarifa "
        "WHERE Barkod.Sifra = ? ORDER BY Artikl.Sifra LIMIT 1",
        barkod);
}

std::optional<ArtiklBarKodRow> TDMGlavni::FindArticle(const std::string& sifra) {
    return FindOne(
        "SELECT Artikl.Sifra, Artikl.Naziv, Artikl.Grupa, Artikl.Tarifa, Artikl.Cijena, Tarifa.STOPA, '' "
        "FROM Artikl JOIN Tarifa ON Tarifa.SIFRA = Artikl.Tarifa WHERE Artikl.Sifra = ?",
        sifra);
}

std::optional<Record> TDMGlavni::LoginCheck(const std::string& username, const std::string& pass) {
    auto rows = Select(TableDef("Radnik"), "WHERE Username = ?", {username});
    for (auto& r : rows) {
        const std::string stored = r.text("Pass");
        if (r.isNull("Pass")) continue;
        if (IsPasswordHash(stored)) {
            if (VerifyPassword(stored, pass)) return r;
            continue;
        }
        if (stored != pass) continue;
        // Stored as typed (an old file, or a list from the server): accepted
        // this once and replaced by its hash. Only the row still holding
        // that text is changed, so a password set meanwhile stays.
        const std::string hash = HashPassword(pass);
        try {
            baza_.immediate([&] {
                auto st = baza_.prepare("UPDATE Radnik SET Pass = ? WHERE rowid = ? AND Username = ? AND Pass = ?");
                st.bind(1, hash);
                st.bind(2, static_cast<int64_t>(r.rowid));
                st.bind(3, username);
                st.bind(4, stored);
                st.exec();
            });
        } catch (const DatabaseError&) {
            // The login stands even when the file is busy; the hash follows
            // at the next login.
        }
        r.set("Pass", hash);
        r.stored = r.values;
        return r;
    }
    return std::nullopt;
}

bool TDMGlavni::SetPassword(const std::string& username, const std::string& pass) {
    if (ServerLinkOn()) return false;
    const std::string hash = HashPassword(pass);
    int changed = 0;
    try {
        baza_.immediate([&] {
            auto st = baza_.prepare("UPDATE Radnik SET Pass = ? WHERE Username = ?");
            st.bind(1, hash);
            st.bind(2, username);
            changed = st.exec();
        });
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "Radnik");
    }
    return changed > 0;
}

std::vector<Record> TDMGlavni::Podaci() { return Select(TableDef("Podaci"), "ORDER BY rowid"); }

void TDMGlavni::DelPodaci() {
    baza_.immediate([&] { baza_.db().exec("DELETE FROM Podaci"); });
}

void TDMGlavni::FillPodaci(const std::vector<Record>& rows) {
    try {
        baza_.immediate([&] {
            baza_.db().exec("DELETE FROM Podaci");
            for (auto r : rows) Insert(r);
        });
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "Podaci");
    }
}

std::vector<RekapitulacijaRow> TDMGlavni::Rekapitulacija() {
    // Amounts in whole hundredths; TipRacuna "1" (refund) counts negative.
    const std::string amount = "SUM(CAST(ROUND(IZNOS * 100) AS INTEGER) * (1 - TipRacuna * 2))";
    const std::string vrsta = "CASE WHEN TipTrans = '0' THEN 'Promet' WHEN TipTrans = '4' THEN 'Avans' END";
    const std::string sql = "SELECT Datum, " + vrsta + " AS Vrsta, " + amount +
                            " AS Ukupno FROM Podaci WHERE TipTrans IN ('0', '4') GROUP BY Datum, TipTrans "
                            "UNION ALL SELECT 'Ukupno', " +
                            vrsta + ", " + amount + " FROM Podaci WHERE TipTrans IN ('0', '4') GROUP BY TipTrans";
    std::vector<RekapitulacijaRow> rows;
    try {
        auto st = baza_.prepare(sql);
        while (st.executeStep())
            rows.push_back({st.getColumn(0).getString(), st.getColumn(1).getString(),
                            Currency::fromRaw(st.getColumn(2).getInt64() * 100)});
    } catch (const DatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        baza_.fail(e, "Rekapitulacija");
    }
    return rows;
}

// ---- Case folding for the article filter.

namespace {
char32_t Lower(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;                    // Latin-1
    if (c >= 0x100 && c <= 0x17F && c != 0x138 && c != 0x149 && c != 0x178) {                                           // Latin Extended-A: Č č Ć ć Đ đ Š š Ž ž
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2) ? c + 1 : c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x410 && c <= 0x42F) return c + 32;                              // Cyrillic А..Я
    if (c >= 0x400 && c <= 0x40F) return c + 80;                              // Ђ Ј Љ Њ Ћ Џ ...
    return c;
}

void Append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}
}  // namespace

std::string FoldCase(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const size_t start = i;
        const char32_t c = NextChar(s, i);
        if (c == kNotUtf8)
            out += s[start];  // a stray byte passes as it is
        else
            Append(out, Lower(c));
    }
    return out;
}

bool OpisMatches(const ArtiklBarKodRow& row, const std::string& filter) {
    if (filter.empty()) return true;
    return FoldCase(row.Opis()).find(FoldCase(filter)) != std::string::npos;
}

}  // namespace kv::reg
