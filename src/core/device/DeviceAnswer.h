#pragma once
// What the device returned for a signed invoice, read out of its answer:
// the fiscal number and time, the total and tax items as the device wrote
// them, the receipt's journal text, the verification URL and the receipt
// picture. A value with nothing in it is "no answer".
#include <string>
#include <vector>

#include "device/InvoiceModel.h"
#include "device/JsonFlatten.h"

namespace kv::device {

// One tax item of the answer, every value in the exact text the device sent
// ("9.9099" stays "9.9099"); members it did not send stay empty.
struct AnswerTaxItem {
    std::string label;
    std::string categoryName;
    std::string categoryType;
    std::string rate;
    std::string amount;

    bool operator==(const AnswerTaxItem&) const = default;
};

struct DeviceAnswer {
    std::string invoiceNumber;
    std::string sdcDateTime;
    std::string totalAmount;  // as sent; empty when the device sent none
    std::vector<AnswerTaxItem> taxItems;
    std::string journal;          // the receipt's lines, ended by CR LF as sent
    std::string verificationUrl;  // what the QR code carries
    // The receipt picture as the device sent it: base64 PNG text (decode
    // with DecodeBase64). Empty when this answer carried none: a picture
    // belongs to the answer that carried it, never to a later one.
    std::string receiptPngBase64;
    // The answer's JSON text it was read from (empty for an answer kept in
    // the request ledger rather than read from the device).
    std::string json;

    bool empty() const { return invoiceNumber.empty() && journal.empty() && verificationUrl.empty() && receiptPngBase64.empty(); }
    void clear() { *this = DeviceAnswer(); }
};

// Reads an answer to a run for an invoice of `type`. The answer to the last
// invoice (type 8) keeps its members under "invoiceResponse" and its picture
// at the top ("receiptImageBase64"); every other answer has them at the top,
// the picture as "invoiceImagePngBase64". Member names are matched without
// regard to letter case. Text that is not a JSON object, or is nested deeper
// than kMaxJsonDepth, gives an answer with nothing read from it (`json` still
// holds the text).
DeviceAnswer ReadDeviceAnswer(const std::string& answerJson, InvoiceType type);

// The same from an answer already flattened (OpenJSONFile); `json` stays empty.
DeviceAnswer ReadDeviceAnswer(const FlatJson& answer, InvoiceType type);

}  // namespace kv::device
