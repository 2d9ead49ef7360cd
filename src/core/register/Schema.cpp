#include "register/Schema.h"

#include <stdexcept>
#include <strings.h>

namespace kv::reg {

namespace {

constexpr const char* kInt = "INTEGER";
constexpr const char* kText = "TEXT";
constexpr const char* kMoney = "NUMERIC(18, 2)";
constexpr const char* kQty = "NUMERIC(18, 4)";
constexpr const char* kDt = "DATETIME";

using T = ColType;

std::vector<Table> MakeTables() {
    std::vector<Table> t;
    t.push_back({"Doku",
                 {{"Godina", kInt, T::Integer, 1, true},
                  {"UI", kInt, T::Integer, 2, true},
                  {"Broj", kInt, T::Integer, 3, true},
                  {"Opis", kText, T::Text},
                  {"Storno", kInt, T::Integer},
                  {"Status", kInt, T::Integer},
                  {"Datum", kDt, T::Date},
                  {"SysTime", kDt, T::DateTime},
                  {"Cashier", kText, T::Text},
                  {"Kupac", kText, T::Text},
                  {"KupacOrgj", kText, T::Text},
                  {"NacinPL", kText, T::Text},
                  {"RefDN", kText, T::Text},
                  {"RefDT", kText, T::Text},
                  {"PFRBROJ", kText, T::Text},
                  {"PFRTIME", kText, T::Text},
                  {"ID", kText, T::Text},
                  {"Nivelacija", kInt, T::Integer},
                  {"PartnerSifra", kText, T::Text},
                  {"KarticaKupca", kText, T::Text},
                  {"PargKasa", kText, T::Text},
                  {"PargBroj", kInt, T::Integer},
                  {"Placeno", kMoney, T::Money}}});
    t.push_back({"Prom",
                 {{"DokuGodina", kInt, T::Integer, 1, true},
                  {"DokuUI", kInt, T::Integer, 2, true},
                  {"DokuBroj", kInt, T::Integer, 3, true},
                  {"Stavka", kInt, T::Integer, 4, true},
                  {"Artikl", kText, T::Text},
                  {"BarKod", kText, T::Text},
                  {"Opis", kText, T::Text},
                  {"KolUlaz", kQty, T::Quantity},
                  {"KolIzlaz", kQty, T::Quantity},
                  {"Cijena", kMoney, T::Money},
                  {"Iznos", kMoney, T::Money},
                  {"Tarifa", kText, T::Text},
                  {"Stopa", kMoney, T::Money},
                  {"Rabat", kQty, T::Quantity}}});
    t.push_back({"Artikl",
                 {{"Sifra", kText, T::Text, 1, true},
                  {"Naziv", kText, T::Text},
                  {"Grupa", kText, T::Text, 0, true, true},
                  {"Tarifa", kText, T::Text, 0, true, true},
                  {"Cijena", kMoney, T::Money, 0, true, true}},
                 true});
    t.push_back({"Barkod", {{"Sifra", kText, T::Text, 1, true}, {"Artikl", kText, T::Text, 2, true}}, true});
    t.push_back({"Grupa", {{"Sifra", kText, T::Text, 1, true}, {"Naziv", kText, T::Text}}, true});
    t.push_back({"Tarifa",
                 {{"SIFRA", kText, T::Text, 1, true}, {"STOPA", kMoney, T::Money}, {"FiskTax", kText, T::Text}},
                 true});
    t.push_back({"PaymentType",
                 {{"Sifra", kText, T::Text, 1, true}, {"Opis", kText, T::Text}, {"FiskPayType", kInt, T::Integer}},
                 true});
    t.push_back({"Radnik",
                 {{"Username", kText, T::Text, 1, true}, {"PrezimeIme", kText, T::Text}, {"Pass", kText, T::Text}},
                 true});
    t.push_back({"Partner",
                 {{"PARTNERSIFRA", kText, T::Text, 1, true},
                  {"PARTNERNAZIV", kText, T::Text},
                  {"PARTNERADRESA", kText, T::Text},
                  {"PARTNERMJESTO", kText, T::Text},
                  {"PARTNERIJIB", kText, T::Text},
                  {"PARTNERPIB", kText, T::Text}},
                 true});
    t.push_back({"Kart", {{"KARTSIFRA", kText, T::Text, 1, true}, {"KARTNAZIV", kText, T::Text}}, true});
    t.push_back({"Rabat",
                 {{"RABATKART", kText, T::Text, 1, true},
                  {"RABATTIP", kText, T::Text, 2, true},
                  {"RABATSIFRA", kText, T::Text, 3, true},
                  {"RABATPROC", kQty, T::Quantity}},
                 true});
    t.push_back({"Podaci",
                 {{"Broj", kText, T::Text},
                  {"TipTrans", kText, T::Text},
                  {"TipRacuna", kText, T::Text},
                  {"Vrijeme", kText, T::Text},
                  {"Datum", kDt, T::Date},
                  {"IZNOS", "REAL", T::Real}},
                 false,
                 true});
    return t;
}

std::string MakeScript(const std::vector<Table>& tables) {
    std::string s;
    for (const auto& t : tables) {
        s += "CREATE TABLE IF NOT EXISTS ";
        s += t.name;
        s += " (";
        bool first = true;
        for (const auto& c : t.columns) {
            if (!first) s += ", ";
            first = false;
            s += c.name;
            s += ' ';
            s += c.decl;
            if (c.notNull)
                s += " NOT NULL";
            else if (t.explicitNull && c.type != ColType::Real)  // IZNOS is declared plain REAL
                s += " NULL";
        }
        auto keys = t.keyColumns();
        if (!keys.empty()) {
            s += ", PRIMARY KEY (";
            for (size_t i = 0; i < keys.size(); ++i) {
                if (i) s += ", ";
                s += t.columns[keys[i]].name;
            }
            s += ')';
        }
        s += ");\n";
    }
    // The numbering takes MAX(Broj) per year and kind and the lines of a
    // document are read by its key: both are served by the primary keys.
    // The rest need their own indexes:
    s +=
        // lowest open invoice of a year, without reading the year's invoices
        "CREATE INDEX IF NOT EXISTS DokuStatus ON Doku (Godina, UI, Status, Broj);\n"
        // stock of one article in one year, read from the index alone
        "CREATE INDEX IF NOT EXISTS PromArtikl ON Prom (Artikl, DokuGodina, KolUlaz, KolIzlaz);\n"
        // the barcodes of an article (the article search list joins on it)
        "CREATE INDEX IF NOT EXISTS BarkodArtikl ON Barkod (Artikl);\n"
        // the overviews take the documents of a date range
        "CREATE INDEX IF NOT EXISTS DokuDatum ON Doku (Datum, UI);\n";
    return s;
}

}  // namespace

int Table::index(std::string_view column) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (column.size() == std::char_traits<char>::length(columns[i].name) &&
            strncasecmp(columns[i].name, column.data(), column.size()) == 0)
            return static_cast<int>(i);
    return -1;
}

std::vector<int> Table::keyColumns() const {
    std::vector<int> keys;
    for (int k = 1;; ++k) {
        bool found = false;
        for (size_t i = 0; i < columns.size(); ++i)
            if (columns[i].key == k) {
                keys.push_back(static_cast<int>(i));
                found = true;
            }
        if (!found) break;
    }
    return keys;
}

const std::vector<Table>& Tables() {
    static const std::vector<Table> tables = MakeTables();
    return tables;
}

const Table& TableDef(std::string_view name) {
    for (const auto& t : Tables())
        if (name.size() == std::char_traits<char>::length(t.name) && strncasecmp(t.name, name.data(), name.size()) == 0)
            return t;
    throw std::out_of_range("unknown table " + std::string(name));
}

const std::string& CreateDB() {
    static const std::string script = MakeScript(Tables());
    return script;
}

}  // namespace kv::reg
