// A request id stands for one sale: what may be sent as an id, how it stands
// in a URL, and the ledger that remembers which sale every id was sent for.
#include <gtest/gtest.h>

#include "test_dirs.h"
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "device/DeviceClient.h"
#include "device/InvoiceModel.h"
#include "device/RequestLedger.h"
#include "fake_transport.h"
#include "money_literal.h"

using namespace kv;
using namespace kv::device;
namespace fs = std::filesystem;

namespace {
fs::path TestDir(const std::string& tag) { return kv::test::FreshDir("kv_ledger", tag); }

void FillSale(InvoiceModel& m, const std::string& requestId, const std::string& issued, const char* total) {
    m.Clear();
    m.Invoice.append();
    m.Invoice.field("invoiceType").setValue(Value(int64_t{0}));
    m.Invoice.field("RequestId").setValue(Value(requestId));
    m.Invoice.field("dateAndTimeOfIssue").setValue(Value(issued));
    m.Invoice.post();
    m.Items.append();
    m.Items.field("name").setValue("Kafa");
    m.Items.field("totalAmount").setValue(total);
    m.Items.post();
}
}  // namespace

TEST(RequestId, OnlyIdsTheDeviceTakesAndThatNameAResultFileAreSent) {
    struct Case {
        std::string id;
        bool ok;
    } cases[] = {
        {"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", true},  // 38 characters, 32 once braces and dashes go
        {"0A1B2C3D4E5F60718293A4B5C6D7E8F9", true},
        {"VICTIM?x=1", true},  // odd but harmless: it is encoded in URLs
        {std::string(33, 'A'), false},
        {std::string(300, 'A'), false},
        {"", false},
        {"{--}", false},
        {"../../x", false},
        {"a/b", false},
        {"a\\b", false},
        {".", false},
        {"..", false},
        {"A\r\nX-Injected: 1", false},
        {std::string("A\0B", 3), false},
        {"Račun1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(!RequestIdProblem(c.id).has_value(), c.ok) << c.id;
}

TEST(RequestId, AnIdInAUrlPathStaysOneSegmentOfThatPath) {
    EXPECT_EQ(PercentEncode("VICTIM?x=1"), "VICTIM%3Fx%3D1");
    EXPECT_EQ(PercentEncode("a#b%c d"), "a%23b%25c%20d");
    EXPECT_EQ(PercentEncode("0A1B-2c_~."), "0A1B-2c_~.");

    FakeTransport t;
    DeviceSettings s{"http://127.0.0.1", "7000", "tok", "", false};
    DeviceClient client(t, [&] { return s; });
    client.CmdReprint("VICTIM?x=1");
    s.test = true;
    client.CmdReprint("VICTIM?x=1");
    ASSERT_EQ(t.sent.size(), 2u);
    EXPECT_EQ(t.sent[0].url, "http://127.0.0.1:7000/api/invoices/request/VICTIM%3Fx%3D1");
    EXPECT_EQ(t.sent[1].url, "http://127.0.0.1:7000/tok/api/v3/invoices/VICTIM%3Fx%3D1");
}

TEST(RequestLedger, WhatOneInstanceRecordsAnotherReadsAndATornLineLosesNothingElse) {
    const fs::path file = TestDir("shared") / "Requests.ledger";
    const std::string d1(64, 'a'), d2(64, 'b');
    {
        RequestLedger a(file.string());
        RequestLedger b(file.string());
        a.recordSent("ID1", d1);
        ASSERT_TRUE(b.find("ID1"));  // appended by the other one meanwhile
        EXPECT_EQ(b.find("ID1")->state, LedgerEntry::State::Sent);
        b.recordSigned("ID1", d1, "NUM-1", "2024-03-12T07:47:38+01:00", "https://v/?a=1\tb");
        auto e = a.find("ID1");
        ASSERT_TRUE(e);
        EXPECT_EQ(e->state, LedgerEntry::State::Signed);
        EXPECT_EQ(e->number, "NUM-1");
        EXPECT_EQ(e->url, "https://v/?a=1\tb");
        a.recordRefused("ID2", d2);
    }
    // A power cut in the middle of a line: that line is lost, nothing else.
    std::ofstream(file, std::ios::app) << "F\tID3\t" << d1.substr(0, 20);
    RequestLedger again(file.string());
    again.recordSent("ID4", d2);
    EXPECT_EQ(again.find("ID1")->number, "NUM-1");
    EXPECT_EQ(again.find("ID2")->state, LedgerEntry::State::Refused);
    EXPECT_FALSE(again.find("ID3"));
    ASSERT_TRUE(again.find("ID4"));
    EXPECT_EQ(RequestLedger(file.string()).find("ID4")->digest, d2);

    // A folder nobody may write into is an error, never a silent miss.
    if (::geteuid() != 0) {
        const fs::path ro = TestDir("ro");
        fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
        RequestLedger denied((ro / "Requests.ledger").string());
        EXPECT_THROW(denied.recordSent("X", d1), LedgerError);
        fs::permissions(ro, fs::perms::owner_all);
    }
}

TEST(RequestLedger, TheDigestIsTheSaleNotItsIdOrTimeOfIssue) {
    InvoiceModel a, b;
    FillSale(a, "{A}", "2024-01-01T10:00:00Z", "5.00");
    FillSale(b, "{B}", "2024-01-02T11:00:00Z", "5.00");
    EXPECT_EQ(SaleDigest(a), SaleDigest(b));
    FillSale(b, "{A}", "2024-01-01T10:00:00Z", "5.01");
    EXPECT_NE(SaleDigest(a), SaleDigest(b));
    EXPECT_EQ(SaleDigest(a).size(), 64u);
}
