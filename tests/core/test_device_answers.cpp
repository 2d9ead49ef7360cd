// Answers from devices in the field: what a signed answer carries, a signed
// invoice reported in Latin script, and the device's own reason when it refuses.
#include <gtest/gtest.h>

#include "device/DeviceAnswer.h"
#include "device/DeviceClient.h"
#include "device/DeviceWords.h"
#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"
#include "fake_transport.h"
#include "money_literal.h"

using namespace kv;
using namespace kv::device;

namespace {
using FT = FakeTransport;

std::string Answer(const std::string& messages) {
    return R"({"messages":")" + messages +
           R"(","invoiceNumber":"AB-CD-1","sdcDateTime":"2024-03-12T07:47:38.530+01:00","totalAmount":2.00,"taxItems":[]})";
}

// One fiscalisation of a two-mark invoice against scripted answers.
struct RunRig {
    FT transport;
    DeviceSettings device{"http://127.0.0.1", "7000", "tok", "1234", false};
    DeviceClient client{transport, [this] { return device; }};
    InvoiceModel model;
    RunSettings run;
    Fiscalizer fisk{client, model, [this] { return run; }};

    RunRig(std::vector<HttpResult> answers, bool testMode = false) {
        device.test = run.testMode = testMode;
        model.Invoice.append();
        model.Invoice.field("invoiceType").setValue(Value(int64_t{0}));
        model.Invoice.field("RequestId").setValue(Value(std::string("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}")));
        model.Invoice.post();
        model.Items.append();
        model.Items.field("name").setValue(Value(std::string("Kafa")));
        model.Items.field("labels").setValue(Value(std::string("E")));
        model.Items.field("totalAmount").setValue(Value(2.0_cur));
        model.Items.post();
        transport.script.assign(answers.begin(), answers.end());
        fisk.Fiscalize();
    }
};

const HttpResult kAttention = FT::answer(200, "{}");
const HttpResult kStatus = FT::answer(200, R"({"isPinRequired":false})");

std::string Fiscalize(const std::string& messages, bool testMode) {
    RunRig r({kAttention, kStatus, FT::answer(200, Answer(messages)), FT::answer(404, "{}")}, testMode);
    return r.fisk.FiskGreska;
}
}  // namespace

TEST(DeviceAnswers, SignedInvoiceInEveryScriptTheFieldUses) {
    struct Case {
        const char* messages;
        bool testMode;
        bool signedOk;
    } cases[] = {
        {"Успешно", false, true},  {"Uspješno", false, true}, {"Uspešno", false, true},
        {"Success", false, true},  {"Success", true, true},   {"Uspješno", true, false},
        {"Успешно", true, false},  {"Neuspješno", false, false}, {"usp", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Fiscalize(c.messages, c.testMode).empty(), c.signedOk) << c.messages << " test " << c.testMode;
}

TEST(DeviceAnswers, TheDevicesOwnWordsForARefusal) {
    struct Case {
        const char* what;
        int status;
        std::string body;
        std::string words;
    } cases[] = {
        {"message of a 400", 400, R"({"message":"Неисправан износ","code":"1"})", "Неисправан износ"},
        {"messages first, model state after", 400,
         R"({"messages":"Invalid request","modelState":{"invoiceRequest.payment":["Payment is required"]}})",
         "Invalid request (Payment is required)"},
        {"model state alone", 422, R"({"errors":{"a":["one","two"]}})", "one; two"},
        {"plain text", 401, "  Token not valid\r\n", "Token not valid"},
        {"an HTML page says nothing", 404, "<html><body>Not found</body></html>", ""},
        {"a JSON string", 400, R"("2806")", "2806"},
        {"200 with an error verdict", 200, R"({"messages":"Грешка: ПИБ купца није исправан"})",
         "Грешка: ПИБ купца није исправан"},
        {"200 signed in Latin script", 200, R"({"messages":"Uspješno"})", ""},
        {"200 signed", 200, R"({"messages":"Success"})", ""},
        {"200 that is not JSON", 200, "OK", ""},
        {"no reason given", 500, "{}", ""},
        {"204 is no refusal", 204, R"({"message":"x"})", ""},
        {"control characters become blanks", 400, "{\"message\":\"a\\u0007b\\nc\"}", "a b c"},
    };
    for (const auto& c : cases) EXPECT_EQ(DeviceRefusal(c.status, c.body), c.words) << c.what;

    const std::string longText(5000, 'x');
    const std::string cut = DeviceRefusal(400, R"({"message":")" + longText + R"("})");
    EXPECT_EQ(cut.size(), kMaxDeviceWords + 3);
    // Cut on a character boundary.
    std::string cyr;
    for (int i = 0; i < 500; ++i) cyr += "ж";
    const std::string cutCyr = DeviceRefusal(400, R"({"message":")" + cyr + R"("})");
    EXPECT_EQ((cutCyr.size() - 3) % 2, 0u);

    EXPECT_EQ(WithDeviceWords("Desila se greška u fiskalizaciji!", "Неисправан износ"),
              "Desila se greška u fiskalizaciji!\nНеисправан износ");
    EXPECT_EQ(WithDeviceWords("Error", ""), "Error");
    EXPECT_EQ(WithDeviceWords("Fiskalizacija nije uspješna!\rГрешка 12", "Грешка 12"),
              "Fiskalizacija nije uspješna!\rГрешка 12");
}

TEST(DeviceAnswers, AFailedRunIsToldWithTheWordsOfTheStepThatFailed) {
    struct Case {
        const char* what;
        std::vector<HttpResult> answers;
        std::string fiskGreska;
        std::string shown;
    } cases[] = {
        {"invoice refused with a reason", {kAttention, kStatus, FT::answer(400, R"({"message":"Неисправан ПИБ купца"})")},
         "Desila se greška u fiskalizaciji!", "Desila se greška u fiskalizaciji!\nНеисправан ПИБ купца"},
        {"answered 200 with an error verdict", {kAttention, kStatus, FT::answer(200, Answer("Грешка 12"))},
         "Fiskalizacija nije uspješna!", "Fiskalizacija nije uspješna!\nГрешка 12"},
        // The words of the question that followed belong to that question, not to the invoice.
        {"server error, then the request id unknown",
         {kAttention, kStatus, FT::answer(503, "{}"), FT::answer(404, R"({"message":"Рачун није пронађен"})")},
         "Desila se greška u fiskalizaciji!", "Desila se greška u fiskalizaciji!"},
        {"no answer at all", {FT::broken("refused")}, "Uredjaj se ne odaziva!", "Uredjaj se ne odaziva!"},
        {"status refused", {kAttention, FT::answer(401, R"({"message":"Неовлашћен приступ"})")},
         "Ne mogu pročitati status uredjaja!", "Ne mogu pročitati status uredjaja!\nНеовлашћен приступ"},
    };
    for (const auto& c : cases) {
        RunRig r(c.answers);
        EXPECT_EQ(r.fisk.FiskGreska, c.fiskGreska) << c.what << ": the result file's text stays as it is";
        EXPECT_EQ(FailureWithDeviceWords(r.fisk, r.client), c.shown) << c.what;
    }
    RunRig signedRun({kAttention, kStatus, FT::answer(200, Answer("Uspješno"))});
    EXPECT_EQ(FailureWithDeviceWords(signedRun.fisk, signedRun.client), "");
}

TEST(DeviceAnswers, WhatASignedAnswerCarriesIsReadWhereItsTypePutsIt) {
    const std::string signedNormal =
        R"({"messages":"Успешно","invoiceNumber":"AB-CD-1","sdcDateTime":"2024-03-12T07:47:38.530+01:00",)"
        R"("totalAmount":17.50,"taxItems":[{"categoryType":0,"label":"Е","amount":9.9099,"rate":17,"categoryName":"ECAL"},)"
        R"(7,{"label":"Ђ","amount":0,"rate":20,"extra":{"label":"not this"}}],"journal":"ФИСКАЛНИ\r\nКРАЈ",)"
        R"("verificationUrl":"https://v/1","invoiceImagePngBase64":"iVBOR","receiptImageBase64":"NOT-THIS"})";
    const std::string lastInvoice =
        R"({"journal":"NOT-THIS","invoiceImagePngBase64":"NOT-THIS","receiptImageBase64":"IMG",)"
        R"("invoiceResponse":{"invoiceNumber":"L-1","sdcDateTime":"t","totalAmount":"1.00","journal":"J",)"
        R"("verificationUrl":"U","taxItems":[{"label":"А","amount":"0.17","rate":"9"}]}})";
    auto nested = [](std::size_t depth) {
        return R"({"invoiceNumber":"N-1","deep":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
    };
    // label, categoryName, categoryType, rate, amount
    const std::vector<AnswerTaxItem> normalTaxes = {{"Е", "ECAL", "0", "17", "9.9099"}, {"Ђ", "", "", "20", "0"}};
    struct Case {
        const char* what;
        std::string json;
        InvoiceType type;
        std::string number, time, total, journal, url, picture;
        std::vector<AnswerTaxItem> taxes;
    } cases[] = {
        {"a signed invoice: members and picture at the top", signedNormal, InvoiceType::Normal, "AB-CD-1",
         "2024-03-12T07:47:38.530+01:00", "17.50", "ФИСКАЛНИ\r\nКРАЈ", "https://v/1", "iVBOR", normalTaxes},
        {"an invoice by its request id reads like a signed one", signedNormal, InvoiceType::ByRequestId, "AB-CD-1",
         "2024-03-12T07:47:38.530+01:00", "17.50", "ФИСКАЛНИ\r\nКРАЈ", "https://v/1", "iVBOR", normalTaxes},
        {"the last invoice: members under invoiceResponse, the picture at the top", lastInvoice, InvoiceType::Last,
         "L-1", "t", "1.00", "J", "U", "IMG", {{"А", "", "", "9", "0.17"}}},
        {"the last invoice's envelope read as a normal answer finds only the top", lastInvoice, InvoiceType::Normal,
         "", "", "", "NOT-THIS", "", "NOT-THIS", {}},
        {"no picture: none", R"({"invoiceNumber":"A-1","journal":"J"})", InvoiceType::Normal, "A-1", "", "", "J", "",
         "", {}},
        {"names in another letter case", R"({"InvoiceNumber":"A-2","TAXITEMS":[{"Label":"Е","RATE":"17"}]})",
         InvoiceType::Normal, "A-2", "", "", "", "", "", {{"Е", "", "", "17", ""}}},
        {"cut short", R"({"invoiceNumber":"A-3","journal":"J")", InvoiceType::Normal, "", "", "", "", "", "", {}},
        {"not an object", R"(["A-4"])", InvoiceType::Normal, "", "", "", "", "", "", {}},
        {"not JSON at all", "OK", InvoiceType::Normal, "", "", "", "", "", "", {}},
        {"nested as deep as answers may be", nested(kMaxJsonDepth), InvoiceType::Normal, "N-1", "", "", "", "", "",
         {}},
        {"nested deeper than that: nothing is read", nested(kMaxJsonDepth + 1), InvoiceType::Normal, "", "", "", "",
         "", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DeviceAnswer a = ReadDeviceAnswer(c.json, c.type);
        EXPECT_EQ(a.invoiceNumber, c.number);
        EXPECT_EQ(a.sdcDateTime, c.time);
        EXPECT_EQ(a.totalAmount, c.total);
        EXPECT_EQ(a.journal, c.journal);
        EXPECT_EQ(a.verificationUrl, c.url);
        EXPECT_EQ(a.receiptPngBase64, c.picture);
        ASSERT_EQ(a.taxItems.size(), c.taxes.size());
        for (std::size_t i = 0; i < a.taxItems.size(); ++i) {
            const auto& t = a.taxItems[i];
            EXPECT_EQ(t, c.taxes[i]) << i << ": " << t.label << " " << t.categoryName << " " << t.categoryType << " "
                                     << t.rate << " " << t.amount;
        }
        EXPECT_EQ(a.json, c.json);
    }
}
