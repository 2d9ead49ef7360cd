#include "register/DemoData.h"

#include <ostream>
#include <random>

#include "platform/Platform.h"
#include "register/Passwords.h"
#include "register/uDMGlavni.h"
#include "util/DateTime.h"

namespace kv::reg {

namespace {

std::int64_t Count(TDMGlavni& dm, const char* table) {
    auto st = dm.Baza().prepare(std::string("SELECT count(*) FROM ") + table);
    st.executeStep();
    return st.getColumn(0).getInt64();
}

void Add(TDMGlavni& dm, const char* table, std::initializer_list<std::pair<const char*, Value>> values) {
    Record r(TableDef(table));
    for (const auto& [col, v] : values) r.set(col, v);
    // Inside the caller's transaction: plain inserts, no numbering.
    const Table& t = *r.table;
    std::string cols, marks;
    for (size_t i = 0; i < t.columns.size(); ++i) {
        cols += std::string(i ? ", " : "") + t.columns[i].name;
        marks += i ? ", ?" : "?";
    }
    auto st = dm.Baza().prepare(std::string("INSERT INTO ") + t.name + " (" + cols + ") VALUES (" + marks + ")");
    for (size_t i = 0; i < t.columns.size(); ++i) Bind(st, static_cast<int>(i) + 1, t.columns[i], r.values[i]);
    st.exec();
}

Value M(const char* decimal) { return Value(std::string(decimal)); }
Value S(const char* text) { return Value(std::string(text)); }
Value I(std::int64_t n) { return Value(n); }

void AddCodeLists(TDMGlavni& dm) {
    // Tariffs and the labels the fiscal device knows for their rates.
    Add(dm, "Tarifa", {{"SIFRA", S("A")}, {"STOPA", M("0")}, {"FiskTax", S("A")}});
    Add(dm, "Tarifa", {{"SIFRA", S("E")}, {"STOPA", M("17")}, {"FiskTax", S("E")}});
    Add(dm, "Tarifa", {{"SIFRA", S("K")}, {"STOPA", M("0")}, {"FiskTax", S("K")}});
    // Payment types; "0" is the default of a new invoice.
    const std::pair<const char*, int> pay[] = {{"Gotovina", 1}, {"Kartica", 2},       {"Ček", 3},    {"Bankarski prenos", 4},
                                               {"Vaučer", 5},   {"Mobilni novac", 6}, {"Ostalo", 0}};
    for (int i = 0; i < 7; ++i)
        Add(dm, "PaymentType", {{"Sifra", Value(std::to_string(i))}, {"Opis", S(pay[i].first)}, {"FiskPayType", I(pay[i].second)}});
    Add(dm, "Radnik", {{"Username", S("ana")}, {"PrezimeIme", S("Marković Ana")}, {"Pass", Value(HashPassword("1111"))}});
    Add(dm, "Radnik", {{"Username", S("marko")}, {"PrezimeIme", S("Petrović Marko")}, {"Pass", Value(HashPassword("2222"))}});
    const std::pair<const char*, const char*> groups[] = {
        {"01", "Pića"}, {"02", "Hrana"}, {"03", "Kućna hemija"}, {"04", "Voće i povrće"}};
    for (auto [s, n] : groups) Add(dm, "Grupa", {{"Sifra", S(s)}, {"Naziv", S(n)}});
    Add(dm, "Partner", {{"PARTNERSIFRA", S("P001")}, {"PARTNERNAZIV", S("Trgovina Jela d.o.o.")},
                        {"PARTNERADRESA", S("Kralja Petra I 12")}, {"PARTNERMJESTO", S("Banja Luka")},
                        {"PARTNERIJIB", S("4400000000001")}, {"PARTNERPIB", S("400000000001")}});
    Add(dm, "Partner", {{"PARTNERSIFRA", S("P002")}, {"PARTNERNAZIV", S("Ugostitelj Most")},
                        {"PARTNERADRESA", S("Obala 3")}, {"PARTNERMJESTO", S("Doboj")},
                        {"PARTNERIJIB", S("4400000000002")}, {"PARTNERPIB", S("")}});
    Add(dm, "Kart", {{"KARTSIFRA", S("K001")}, {"KARTNAZIV", S("Kartica lojalnosti")}});
    Add(dm, "Kart", {{"KARTSIFRA", S("K002")}, {"KARTNAZIV", S("Zaposleni")}});
    Add(dm, "Rabat", {{"RABATKART", S("K001")}, {"RABATTIP", S("G")}, {"RABATSIFRA", S("01")}, {"RABATPROC", M("5")}});
    Add(dm, "Rabat", {{"RABATKART", S("K001")}, {"RABATTIP", S("A")}, {"RABATSIFRA", S("1003")}, {"RABATPROC", M("10")}});
    Add(dm, "Rabat", {{"RABATKART", S("K002")}, {"RABATTIP", S("G")}, {"RABATSIFRA", S("02")}, {"RABATPROC", M("12.5")}});
}

void AddDemoArticles(TDMGlavni& dm) {
    struct A {
        const char *sifra, *naziv, *grupa, *tarifa, *cijena;
        std::initializer_list<const char*> barcodes;
    };
    const A articles[] = {
        {"1001", "Voda mineralna 1,5 l", "01", "E", "1.20", {"3870000000011"}},
        {"1002", "Sok narandža 1 l", "01", "E", "2.45", {"3870000000028", "3870000000035"}},
        {"1003", "Kafa mljevena 200 g", "02", "E", "4.90", {"3870000000042"}},
        {"1004", "Hljeb bijeli 500 g", "02", "K", "1.10", {"3870000000059"}},
        {"1005", "Mlijeko 2,8 % 1 l", "02", "E", "1.75", {"3870000000066", "3870000000073", "3870000000080"}},
        {"1006", "Deterdžent 3 kg", "03", "E", "12.99", {"3870000000097"}},
        {"1007", "Sapun tečni 500 ml", "03", "E", "3.40", {}},
        {"1008", "Knjiga \"Priče\"", "02", "A", "15.00", {"9780000000002"}},
        {"2000", "Jabuke (vaga)", "04", "E", "2.30", {"2100001"}},
        {"2001", "Banane (vaga)", "04", "E", "2.80", {"2100002"}},
    };
    for (const auto& a : articles) {
        Add(dm, "Artikl", {{"Sifra", S(a.sifra)}, {"Naziv", S(a.naziv)}, {"Grupa", S(a.grupa)},
                           {"Tarifa", S(a.tarifa)}, {"Cijena", M(a.cijena)}});
        for (const char* b : a.barcodes) Add(dm, "Barkod", {{"Sifra", S(b)}, {"Artikl", S(a.sifra)}});
    }
}

}  // namespace

bool LoadDemoData(TDMGlavni& dm) {
    return dm.Baza().immediate([&] {
        for (const char* t : {"Artikl", "Tarifa", "Radnik", "PaymentType", "Doku"})
            if (Count(dm, t) > 0) return false;
        AddCodeLists(dm);
        AddDemoArticles(dm);
        return true;
    });
}

int DemoDataCommand(const std::string& path, std::ostream& out) {
    try {
        TDMGlavni dm(path);
        if (LoadDemoData(dm))
            out << "kovira: demo data loaded into " << path << " (cashiers ana/1111, marko/2222)" << std::endl;
        else
            out << "kovira: " << path << " already has data; left as it is" << std::endl;
        return 0;
    } catch (const std::exception& e) {
        out << "kovira: " << e.what() << std::endl;
        return 1;
    }
}

void GenerateLargeSet(TDMGlavni& dm, const LargeSetOptions& o) {
    dm.Baza().immediate([&] {
        if (Count(dm, "Tarifa") == 0) AddCodeLists(dm);
        std::mt19937 rng(o.seed);
        const char* tariffs[] = {"A", "E", "E", "E", "K"};
        const char* groups[] = {"01", "02", "03", "04"};
        auto art = dm.Baza().prepare("INSERT INTO Artikl (Sifra, Naziv, Grupa, Tarifa, Cijena) VALUES (?, ?, ?, ?, ?)");
        auto bar = dm.Baza().prepare("INSERT INTO Barkod (Sifra, Artikl) VALUES (?, ?)");
        std::vector<std::pair<std::string, Currency>> list;
        list.reserve(o.articles);
        const Column& money = TableDef("Artikl").columns[4];
        for (int i = 0; i < o.articles; ++i) {
            char code[16];
            std::snprintf(code, sizeof code, "G%06d", i + 1);
            Currency price = Currency::fromRaw((50 + static_cast<std::int64_t>(rng() % 50'000)) * 100);
            art.bind(1, code);
            art.bind(2, "Artikl " + std::to_string(i + 1) + " pakovanje " + std::to_string(rng() % 1000) + " g");
            art.bind(3, groups[rng() % 4]);
            art.bind(4, tariffs[rng() % 5]);
            Bind(art, 5, money, price);
            art.exec();
            art.reset();
            for (int b = 0; b < i % 4; ++b) {
                char ean[24];
                std::snprintf(ean, sizeof ean, "38%09d%02d", i + 1, b);
                bar.bind(1, ean);
                bar.bind(2, code);
                bar.exec();
                bar.reset();
            }
            list.emplace_back(code, price);
        }
        if (list.empty()) return;
        auto doc = dm.Baza().prepare(
            "INSERT INTO Doku (Godina, UI, Broj, Opis, Storno, Status, Datum, SysTime, Cashier, NacinPL, ID, Nivelacija, "
            "Placeno) VALUES (?, ?, ?, '', 0, 1, ?, ?, 'ana', '0', ?, 0, ?)");
        auto line = dm.Baza().prepare(
            "INSERT INTO Prom (DokuGodina, DokuUI, DokuBroj, Stavka, Artikl, BarKod, Opis, KolUlaz, KolIzlaz, Cijena, "
            "Iznos, Tarifa, Stopa, Rabat) VALUES (?, ?, ?, ?, ?, '', ?, ?, ?, ?, ?, 'E', 17, 0)");
        const Column& qty = TableDef("Prom").columns[7];
        const std::int64_t docs = (o.lines + o.linesPerDocument - 1) / o.linesPerDocument;
        std::int64_t next[2][2] = {{1, 1}, {1, 1}};  // [year][kind]
        std::int64_t written = 0;
        for (std::int64_t d = 0; d < docs; ++d) {
            const int y = d * 2 < docs ? 0 : 1;
            const int ui = (d % 20 == 0) ? kUlaz : kRacun;  // one receipt in twenty documents
            const std::int64_t broj = next[y][ui]++;
            const std::int64_t dayOfYear = (d * 365 / ((docs + 1) / 2 + 1)) % 365;
            DateTime day = DateTime::fromMs(DateTime::fromParts(o.firstYear + y, 1, 1).ms + dayOfYear * DateTime::kMsPerDay);
            Currency total;
            const int n = static_cast<int>(std::min<std::int64_t>(o.linesPerDocument, o.lines - written));
            for (int s = 1; s <= n; ++s) {
                const auto& [code, price] = list[rng() % list.size()];
                Currency q = Currency(1 + static_cast<int>(rng() % (ui == kUlaz ? 50 : 3)));
                Currency amount = RoundCurr(-2, price * q);
                total += amount;
                line.bind(1, o.firstYear + y);
                line.bind(2, ui);
                line.bind(3, static_cast<int64_t>(broj));
                line.bind(4, s);
                line.bind(5, code);
                line.bind(6, code);
                Bind(line, 7, qty, ui == kUlaz ? Value(q) : Value(Currency()));
                Bind(line, 8, qty, ui == kUlaz ? Value(Currency()) : Value(q));
                Bind(line, 9, money, price);
                Bind(line, 10, money, amount);
                line.exec();
                line.reset();
            }
            written += n;
            doc.bind(1, o.firstYear + y);
            doc.bind(2, ui);
            doc.bind(3, static_cast<int64_t>(broj));
            doc.bind(4, day.toIsoDate());
            doc.bind(5, DateTime::fromMs(day.ms + 9 * 3'600'000 + (d % 36'000) * 1000).toIso(' '));
            doc.bind(6, platform::NewGuid());
            Bind(doc, 7, money, total);
            doc.exec();
            doc.reset();
        }
    });
}

}  // namespace kv::reg
