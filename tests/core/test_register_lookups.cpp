// The invoice list and the partner lookup of the invoice page: the list's
// order and amounts, the referent link onto a refund, the buyer link onto a
// confirmed invoice, and the literal, case-sensitive partner filter.
#include <gtest/gtest.h>

#include "app/Settings.h"
#include "money_literal.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/InvoiceEntry.h"
#include "register/Lookups.h"
#include "register/RegisterTexts.h"
#include "selling_fixture.h"
#include "util/ScriptedPrompter.h"

using namespace kv;
using namespace kv::reg;

namespace {

class LookupTest : public test::SellingDayTest {
protected:
    void SetUp() override {
        SellingDayTest::SetUp();
        if (HasFatalFailure()) return;
        entry = std::make_unique<InvoiceEntry>(*dm, kasa, prompter);
        entry->articles().Load(*dm);
        entry->OpenYear();
    }
    // A confirmed, signed sale of one article.
    std::int64_t SignedSale(const char* pfr) {
        entry->NewInvoice(false);
        entry->DodajSt();
        EXPECT_EQ(entry->BarcodeEnter("3870000000011"), Focus::Quantity);
        EXPECT_TRUE(entry->SaveLine());
        prompter.answerConfirm(true);
        EXPECT_TRUE(entry->ConfirmInvoice());
        Record h = *entry->header();
        h.set("PFRBROJ", pfr).set("PFRTIME", "2024-03-05T10:00:00.000+01:00");
        dm->Save(h);
        entry->Reload();
        return *h.integer("Broj");
    }
};

TEST_F(LookupTest, ListIsNewestFirstWithAmountsAndPaymentNames) {
    SignedSale("AAAA-1");
    entry->NewInvoice(false);  // open, no lines
    auto rows = SpisakRacuna(*dm, 2024);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].header.integer("Broj"), 2);
    EXPECT_EQ(rows[0].iznos, 0_cur);
    EXPECT_EQ(rows[1].iznos, 1.2_cur);
    EXPECT_FALSE(rows[1].nacPlOpis.empty());
    EXPECT_TRUE(SpisakRacuna(*dm, 2023).empty());
}

TEST_F(LookupTest, ReferentLinkFillsARefundWhichCanThenBeConfirmed) {
    const auto sale = SignedSale("AAAA-12");
    entry->NewInvoice(true);
    entry->DodajSt();
    entry->BarcodeEnter("3870000000011");
    entry->SetQuantity(-1_cur);
    ASSERT_TRUE(entry->SaveLine());
    const auto rows = SpisakRacuna(*dm, 2024);
    const Record& picked = rows[1].header;
    ASSERT_EQ(picked.integer("Broj"), sale);
    ASSERT_TRUE(LinkReferent(*entry, picked));
    EXPECT_EQ(entry->header()->text("RefDN"), "AAAA-12");
    EXPECT_EQ(entry->header()->text("RefDT"), "2024-03-05T10:00:00.000+01:00");
    prompter.answerConfirm(true);
    EXPECT_TRUE(entry->ConfirmInvoice());
    // An invoice without a fiscal number gives empty referent fields, also on a confirmed one.
    entry->NewInvoice(false);
    const Record unsigned_ = SpisakRacuna(*dm, 2024)[0].header;
    entry->GoToNumber(sale + 1);
    ASSERT_TRUE(entry->Confirmed());
    ASSERT_TRUE(LinkReferent(*entry, unsigned_));
    EXPECT_EQ(entry->header()->text("RefDN"), "");
    EXPECT_EQ(dm->Dokument(2024, kRacun, sale + 1)->text("RefDT"), "");
}

TEST_F(LookupTest, PartnerLinkOnAConfirmedInvoiceSetsBuyerWithoutRefusal) {
    const auto no = SignedSale("AAAA-3");
    const Record partner = dm->Partner()[1];
    const auto before = prompter.texts().size();
    ASSERT_TRUE(LinkPartner(*entry, partner));
    EXPECT_EQ(prompter.texts().size(), before) << "no \"" << texts::kConfirmed << "\"";
    auto stored = dm->Dokument(2024, kRacun, no);
    EXPECT_EQ(stored->text("PartnerSifra"), "P002");
    EXPECT_EQ(stored->text("Kupac"), "4400000000002");
    EXPECT_EQ(entry->PartnerName(), "Ugostitelj Most");
}

TEST(PartnerFilter, LiteralAndCaseSensitive) {
    Record p(TableDef("Partner"));
    p.set("PARTNERNAZIV", "Marina 50% _d.o.o._ \"Mar'\"");
    const struct {
        const char* filter;
        bool match;
    } cases[] = {
        {"", true},       {"arina", true}, {"mar", false}, {"Mar", true},    {"50%", true},  {"5%", false},
        {"_d", true},     {"xd", false},   {"%", true},    {"M_r", false},   {"Mar'", true}, {"\"Mar", true},
        {"%arina", false}, {"MARINA", false},
    };
    for (const auto& c : cases) EXPECT_EQ(PartnerMatches(p, c.filter), c.match) << c.filter;
}

}  // namespace
