// The code lists as the "Šifarnici" page keeps them: a new row's defaults,
// saves refused with their message and the row kept in edit, the server's
// guard, and the detail lists of an article and a card.
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "register/CodeLists.h"
#include "register/DemoData.h"
#include "register_fixture.h"
#include "util/ScriptedPrompter.h"

using namespace kv;
using namespace kv::reg;

namespace {

class CodeListTest : public test::RegisterTest {
protected:
    void SetUp() override {
        RegisterTest::SetUp();
        platform::SetDecimalSeparator(',');
        ASSERT_TRUE(LoadDemoData(*dm));
    }
    ScriptedPrompter prompter;
};

bool FindArticleRow(const CodeList& l, const std::string& sifra) {
    for (const auto& r : l.rows())
        if (r.text("Sifra") == sifra) return true;
    return false;
}

TEST_F(CodeListTest, NewArticleTakesCurrentGroupAndTariffAndRefusedSavesStayInEdit) {
    CodeList groups(*dm, "Grupa", prompter), tariffs(*dm, "Tarifa", prompter), articles(*dm, "Artikl", prompter);
    groups.Load();
    tariffs.Load();
    articles.Load();
    groups.GoTo(1);
    tariffs.GoTo(2);
    articles.currentGrupa = [&] { return std::optional<std::string>(groups.currentRow()->text("Sifra")); };
    articles.currentTarifa = [&] { return std::optional<std::string>(tariffs.currentRow()->text("SIFRA")); };
    const auto before = articles.rows().size();
    ASSERT_TRUE(articles.Insert());
    EXPECT_EQ(articles.currentRow()->text("Grupa"), "02");
    EXPECT_EQ(articles.currentRow()->text("Tarifa"), "K");
    EXPECT_EQ(articles.currentRow()->decimal("Cijena"), Currency());

    // Empty key, then a duplicate one: refused with the data layer's message, still in insert.
    EXPECT_FALSE(articles.Post());
    EXPECT_EQ(articles.state(), CodeList::State::Insert);
    ASSERT_FALSE(prompter.texts().empty());
    EXPECT_NE(prompter.texts().back().find("Sifra"), std::string::npos);
    ASSERT_TRUE(articles.SetField("Sifra", "1001"));
    EXPECT_FALSE(articles.Post());
    EXPECT_EQ(articles.state(), CodeList::State::Insert);
    ASSERT_TRUE(articles.SetField("Sifra", "9901"));
    ASSERT_TRUE(articles.SetField("Naziv", "Čaj"));
    ASSERT_TRUE(articles.SetField("Cijena", "2,35"));
    EXPECT_FALSE(articles.SetField("Cijena", "dva"));
    ASSERT_TRUE(articles.Post()) << prompter.texts().back();
    articles.Load();
    EXPECT_EQ(articles.rows().size(), before + 1);
    EXPECT_TRUE(FindArticleRow(articles, "9901"));
}

TEST_F(CodeListTest, ServerGuardPutsEditsBackAndKeepsRows) {
    bool server = true;
    dm->serverLink = [&] { return server; };
    CodeList groups(*dm, "Grupa", prompter);
    groups.Load();
    const std::string name = groups.currentRow()->text("Naziv");
    ASSERT_TRUE(groups.SetField("Naziv", "Promijenjeno"));
    EXPECT_TRUE(groups.Post());
    EXPECT_EQ(groups.currentRow()->text("Naziv"), name);
    EXPECT_FALSE(groups.Delete());
    groups.Load();
    EXPECT_EQ(groups.currentRow()->text("Naziv"), name);
    server = false;
    ASSERT_TRUE(groups.SetField("Naziv", "Promijenjeno"));
    EXPECT_TRUE(groups.Post());
    groups.Load();
    EXPECT_EQ(groups.currentRow()->text("Naziv"), "Promijenjeno");
}

TEST_F(CodeListTest, BarcodesAndDiscountsFollowTheirMaster) {
    CodeList codes(*dm, "Barkod", prompter);
    codes.SetMaster("1005");
    EXPECT_EQ(codes.rows().size(), 3u);
    ASSERT_TRUE(codes.Insert());
    EXPECT_EQ(codes.currentRow()->text("Artikl"), "1005");
    ASSERT_TRUE(codes.SetField("Sifra", "3870000000999"));
    ASSERT_TRUE(codes.Post());
    codes.SetMaster("1007");
    EXPECT_TRUE(codes.rows().empty());
    codes.SetMaster("1005");
    EXPECT_EQ(codes.rows().size(), 4u);

    CodeList discounts(*dm, "Rabat", prompter);
    discounts.SetMaster("K002");
    ASSERT_TRUE(discounts.Insert());
    EXPECT_EQ(discounts.currentRow()->text("RABATKART"), "K002");
    discounts.Cancel();
    EXPECT_EQ(discounts.state(), CodeList::State::Browse);
}

TEST_F(CodeListTest, TitleOrderKeepsTheCurrentRow) {
    CodeList articles(*dm, "Artikl", prompter);
    articles.Load();
    const auto stored = articles.rows();
    articles.GoTo(2);
    const std::string cur = articles.currentRow()->text("Sifra");
    auto column = [&](const char* f) {
        std::vector<std::string> v;
        for (const auto& r : articles.rows()) v.push_back(r.text(f));
        return v;
    };
    articles.SetOrder("Cijena");
    for (std::size_t i = 1; i < articles.rows().size(); ++i)
        EXPECT_LE(articles.rows()[i - 1].decimal("Cijena"), articles.rows()[i].decimal("Cijena"));  // as numbers
    EXPECT_EQ(articles.currentRow()->text("Sifra"), cur);
    articles.SetOrder("Naziv:D");
    auto names = column("Naziv");
    EXPECT_TRUE(std::is_sorted(names.rbegin(), names.rend()));
    EXPECT_EQ(articles.currentRow()->text("Sifra"), cur);
    articles.Load();  // kept across a reload
    EXPECT_EQ(column("Naziv"), names);
    articles.SetOrder("");
    std::vector<std::string> back, want;
    for (const auto& r : stored) want.push_back(r.text("Sifra"));
    EXPECT_EQ(column("Sifra"), want);
    EXPECT_EQ(articles.currentRow()->text("Sifra"), cur);
}

}  // namespace
