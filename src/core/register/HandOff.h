#pragma once
// The cash register's hand-off (`PrintFisk`): a confirmed invoice copied into
// the fiscal invoice (`Invoice`, `Items`, `Payment`), signed by the device,
// and the device's number and time written back into the invoice.
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "register/Record.h"
#include "util/DateTime.h"

namespace kv::device {
class Fiscalizer;
class InvoiceModel;
class RequestLedger;
}  // namespace kv::device

namespace kv::reg {

class TDMGlavni;

// The article code or barcode the device gets as gtin: the barcode when it is
// not blank, else the article code, padded on the left with zeros to 8.
std::string Gtin(const std::string& barKod, const std::string& artikl);

// The moment of issue as the device wants it: the work date with the local
// time of day of `now`, converted to UTC ("2024-03-05T13:45:07Z").
std::string IssueTime(DateTime workDate, std::time_t now);

// What the hand-off needs besides the invoice itself.
struct HandOffSource {
    const Record* header = nullptr;
    const std::vector<Record>* lines = nullptr;
    std::map<std::string, std::string> fiskTax;  // tariff code -> tax label
    std::int64_t fiskPayType = 0;                // fiscal payment type of the invoice's payment type
    int invoiceType = 0;                         // from "Fiskalizacija"
    DateTime workDate;
    std::time_t now = 0;
    // Request id sent; the invoice's own ID for a normal invoice.
    std::string requestId;
};

// Empties the model and fills it from the invoice as the mapping says.
void FillInvoiceModel(device::InvoiceModel& model, const HandOffSource& src);

struct HandOffContext {
    TDMGlavni& db;
    device::InvoiceModel& model;
    device::Fiscalizer& fisk;
    device::RequestLedger* ledger = nullptr;
    // Marks the run as the cash register's own (the input folder's result
    // step stays out of it) while it lasts.
    bool* fiskIzKase = nullptr;
    std::string cashier;  // the current cashier, written with the answer
    // The invoice may have reached the device in an earlier run whose record
    // was lost (an input file's document found again after a restart): the
    // device is asked about its request id before anything is sent.
    bool askDeviceFirst = false;
};

// Runs the hand-off of `header` (a confirmed invoice, as stored). Returns
// FiskGreska: empty when signed. Only a normal invoice (type 0) keeps the
// device's number and time in PFRBROJ / PFRTIME; a copy, proforma, training
// or check invoice leaves them as they were. A normal invoice that may have
// reached the device before (its request id is in the ledger) is asked
// about first, so it is never signed twice.
std::string PrintFisk(HandOffContext& ctx, const Record& header, int invoiceType, DateTime workDate,
                      std::time_t now);

}  // namespace kv::reg
