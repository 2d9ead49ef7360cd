// Documents of the register: numbering per kind and year, open invoices,
// exact totals and stock, and headers that take their lines with them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "../core/money_literal.h"
#include "register_fixture.h"

namespace fs = std::filesystem;
using kv::Currency;
using kv::reg::kRacun;
using kv::reg::kUlaz;
using kv::reg::TDMGlavni;

namespace {

using RegisterDocs = kv::test::RegisterTest;

TEST_F(RegisterDocs, NumbersCountPerKindAndYearAndKeepGapsButReuseAFreedLastNumber) {
    struct Case {
        const char* what;
        std::vector<std::int64_t> invoices2024;  // numbers present before
        int godina, ui;
        std::int64_t expected;
    } cases[] = {
        {"empty year", {}, 2024, kRacun, 1},
        {"gap stays", {1, 2, 5}, 2024, kRacun, 6},
        {"receipts count apart", {1, 2, 5}, 2024, kUlaz, 1},
        {"a new year starts at 1", {1, 2, 5}, 2025, kRacun, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Raw("DELETE FROM Doku");
        for (auto b : c.invoices2024)
            Raw("INSERT INTO Doku (Godina, UI, Broj, Status) VALUES (2024, 1, " + std::to_string(b) + ", 1)");
        EXPECT_EQ(dm->NoviDoku(c.godina, c.ui), c.expected);
        EXPECT_EQ(NewDoc(c.godina, c.ui), c.expected);
    }
    // Deleting the last invoice frees its number; deleting an earlier one leaves a gap.
    dm->DeleteDocument(2024, kRacun, 6);
    EXPECT_EQ(NewDoc(2024, kRacun), 6);
    dm->DeleteDocument(2024, kRacun, 2);
    EXPECT_EQ(NewDoc(2024, kRacun), 7);
    // The old year's documents stay under their year.
    EXPECT_EQ(dm->Racuni(2024).size(), 4u);  // 1, 5, 6, 7
    EXPECT_EQ(dm->Racuni(2025).size(), 1u);
}

TEST_F(RegisterDocs, ANewDocumentGetsARequestIdAndKeepsWhatItWasGiven) {
    auto h = Doc(2024, kRacun);
    h.set("Datum", "2024-03-05").set("SysTime", "2024-03-05 14:07:09").set("Cashier", "ana").set("Placeno", "12.5");
    dm->NewDocument(h);
    auto stored = dm->Racuni(2024).at(0);
    EXPECT_EQ(stored.text("ID").size(), 38u);
    EXPECT_EQ(stored.text("ID").front(), '{');
    EXPECT_EQ(stored.text("Datum"), "2024-03-05");
    EXPECT_EQ(stored.text("SysTime"), "2024-03-05 14:07:09");
    EXPECT_EQ(stored.decimal("Placeno"), 12.50_cur);
    // Dates are stored as ISO text, so other programs compare them in time order.
    auto st = dm->Baza().prepare("SELECT typeof(Datum), Datum FROM Doku");
    st.executeStep();
    EXPECT_EQ(st.getColumn(0).getString(), "text");
    EXPECT_EQ(st.getColumn(1).getString(), "2024-03-05");
}

TEST_F(RegisterDocs, OtvorenIsTheLowestOpenInvoiceOfTheYear) {
    EXPECT_EQ(dm->Otvoren(2024), std::nullopt);
    for (auto [broj, status, ui] : {std::tuple{1, 1, 1}, {2, 0, 0}, {3, 0, 1}, {4, 0, 1}})
        Raw("INSERT INTO Doku (Godina, UI, Broj, Status) VALUES (2024, " + std::to_string(ui) + ", " +
            std::to_string(broj) + ", " + std::to_string(status) + ")");
    Raw("INSERT INTO Doku (Godina, UI, Broj, Status) VALUES (2023, 1, 1, 0)");
    EXPECT_EQ(dm->Otvoren(2024), 3);
}

TEST_F(RegisterDocs, TotalsAndStockAreExactAndNullWhenNothingMoved) {
    const auto inv = NewDoc(2024, kRacun);
    EXPECT_EQ(dm->ZbirRac(2024, kRacun, inv), std::nullopt);
    EXPECT_EQ(dm->Zalihe(2024, "1001"), std::nullopt);
    dm->Baza().immediate([&] {
        for (int i = 0; i < 1000; ++i) Line(2024, kRacun, inv, "1001", "", "0.1", "0.10");
    });
    EXPECT_EQ(dm->ZbirRac(2024, kRacun, inv), 100.00_cur);
    EXPECT_EQ(dm->StavkeRac(2024, kRacun, inv).back().integer("Stavka"), 1000);
    EXPECT_EQ(dm->vStavka, 1000);

    const auto rec = NewDoc(2024, kUlaz);
    Line(2024, kUlaz, rec, "1001", "250.125", "", "0.10");
    Line(2024, kUlaz, rec, "1002", "3", "", "1");
    // Stock over every document of the year: 250.125 in, 1000 x 0.1 out.
    EXPECT_EQ(dm->Zalihe(2024, "1001"), 150.125_cur);
    EXPECT_EQ(dm->Zalihe(2025, "1001"), std::nullopt);
    // A line whose quantity in is null still counts its quantity out.
    Raw("INSERT INTO Prom (DokuGodina, DokuUI, DokuBroj, Stavka, Artikl, KolIzlaz) VALUES (2024, 1, 1, 2000, '1002', 5)");
    EXPECT_EQ(dm->Zalihe(2024, "1002"), -Currency(2));
    // Values written by another program in other forms come in at their scale.
    Raw("UPDATE Prom SET Iznos = '7,456', KolIzlaz = 0.123456 WHERE Stavka = 2000");
    auto line = dm->StavkeRac(2024, kRacun, 1).back();
    EXPECT_EQ(line.decimal("Iznos"), 7.46_cur);
    EXPECT_EQ(line.decimal("KolIzlaz"), 0.1235_cur);
}

TEST_F(RegisterDocs, DeletingAHeaderDeletesItsLinesSoTheNextDocumentStartsEmpty) {
    for (int ui : {kRacun, kUlaz}) {
        SCOPED_TRACE(ui);
        const auto broj = NewDoc(2024, ui);
        Line(2024, ui, broj, "1001", "1", "1", "1.00");
        Line(2024, ui, broj, "1002", "1", "1", "2.00");
        auto header = ui == kRacun ? dm->Racuni(2024).back() : dm->Ulazi(2024).front();
        ASSERT_TRUE(dm->Delete(header));
        EXPECT_TRUE(dm->StavkeRac(2024, ui, broj).empty());
        EXPECT_EQ(NewDoc(2024, ui), broj);
        EXPECT_EQ(dm->ZbirRac(2024, ui, broj), std::nullopt);
    }
    // Lines orphaned by another program do not turn up under the new number.
    Raw("DELETE FROM Doku WHERE Godina = 2024 AND UI = 1");
    Raw("INSERT INTO Prom (DokuGodina, DokuUI, DokuBroj, Stavka, Iznos) VALUES (2024, 1, 1, 1, 9)");
    EXPECT_EQ(NewDoc(2024, kRacun), 1);
    EXPECT_TRUE(dm->StavkeRac(2024, kRacun, 1).empty());
}

TEST_F(RegisterDocs, AFailedDeleteLeavesHeaderAndLinesTogether) {
    const auto broj = NewDoc(2024, kRacun);
    Line(2024, kRacun, broj, "1001", "", "1", "1.00");
    // A trigger of another program refuses the header's deletion.
    Raw("CREATE TRIGGER keep BEFORE DELETE ON Doku BEGIN SELECT RAISE(ABORT, 'kept'); END");
    EXPECT_THROW(dm->DeleteDocument(2024, kRacun, broj), kv::reg::DatabaseError);
    EXPECT_EQ(dm->StavkeRac(2024, kRacun, broj).size(), 1u);
}

// Several Kovira instances share the file: each takes its numbers while the
// others write, waiting for the lock instead of failing.
TEST_F(RegisterDocs, ProcessesNumberingAtOnceGetEveryNumberOnceAndNoneIsRefused) {
    dm.reset();
    constexpr int kProcesses = 4, kEach = 40;
    const fs::path go = dir / "go";
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            try {
                TDMGlavni mine(path);
                while (!fs::exists(go)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                for (int i = 0; i < kEach; ++i) {
                    auto h = TDMGlavni::NewRecord("Doku");
                    h.set("Godina", std::int64_t(2024)).set("UI", std::int64_t(kRacun)).set("Opis", std::to_string(p));
                    try {
                        auto broj = mine.NewDocument(h);
                        auto l = TDMGlavni::NewRecord("Prom");
                        l.set("DokuGodina", std::int64_t(2024)).set("DokuUI", std::int64_t(kRacun)).set("DokuBroj", broj);
                        l.set("Iznos", "1");
                        mine.Save(l);
                    } catch (const std::exception&) {
                        ++failures;
                    }
                }
            } catch (const std::exception&) {
                failures = 100;
            }
            ::_exit(failures);
        }
        children.push_back(pid);
    }
    std::ofstream(go) << "";
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "refused operations in one process";
    }
    TDMGlavni check(path);
    auto docs = check.Racuni(2024);
    ASSERT_EQ(docs.size(), static_cast<size_t>(kProcesses * kEach));
    std::set<std::int64_t> numbers;
    for (auto& d : docs) {
        numbers.insert(*d.integer("Broj"));
        EXPECT_EQ(check.StavkeRac(2024, kRacun, *d.integer("Broj")).size(), 1u);
    }
    EXPECT_EQ(numbers.size(), docs.size());
    EXPECT_EQ(*numbers.rbegin(), kProcesses * kEach);
}

}  // namespace
