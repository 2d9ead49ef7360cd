#pragma once
// The invoice as the simulated device keeps it: what the cash register asked
// for, the tax the device worked out, and the device's own numbers once it is
// signed.
#include "Decimal.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace kv::sim {

// One row of the device's tax table. The label may be written in Cyrillic or
// Latin letters; both forms name the same category.
struct TaxRate {
    std::string label;
    double rate = 0;  // percent
    std::string categoryName;
    int categoryType = 0;
};

std::vector<TaxRate> defaultTaxRates();

// Tax labels come as Cyrillic letters from a shop device and as Latin letters
// from test set-ups; both map to one key (the Cyrillic letter).
std::string canonicalLabel(std::string_view label);

struct SimItem {
    std::string gtin;
    std::string name;
    std::string label;  // as the request wrote it
    Raw quantity = 0;
    Raw unitPrice = 0;
    Raw totalAmount = 0;
};

struct SimPayment {
    Raw amount = 0;
    int paymentType = 0;
};

struct TaxLine {
    std::string label;  // as the first item carrying it wrote it
    std::string categoryName;
    int categoryType = 0;
    double rate = 0;
    Raw base = 0;    // gross amount of the items under this label
    Raw amount = 0;  // tax contained in it, 4 decimals
};

// What the request asked about the receipt picture.
struct ImageRequest {
    bool wanted = false;
    int width = 386;
};

struct SimInvoice {
    // From the request.
    std::string requestId;
    int invoiceType = 0;      // 0 normal, 1 pro-forma, 2 copy, 3 training, 4 advance
    int transactionType = 0;  // 0 sale, 1 refund
    std::string dateAndTimeOfIssue, cashier, buyerId, buyerCostCenterId, esirNumber;
    std::string referentDocumentNumber, referentDocumentDT;
    bool omitQrCode = false;
    bool omitJournal = false;
    std::vector<SimItem> items;
    std::vector<SimPayment> payments;

    // Worked out by the device.
    Raw totalAmount = 0;
    std::vector<TaxLine> taxes;

    // Given when signed.
    int totalCounter = 0;
    int transactionTypeCounter = 0;
    std::string counterExtension;  // e.g. "ПП"
    std::string invoiceCounter;    // e.g. "101/139ПП"
    std::string invoiceNumber;     // requestedBy-signedBy-totalCounter
    std::string requestedBy, signedBy;
    std::chrono::system_clock::time_point sdcTime;
    int utcOffsetMinutes = 0;
    std::string sdcDateTime;  // 2024-03-12T07:47:38.530+01:00
    std::string mrc, signature, encryptedInternalData, verificationUrl;
    std::string journal;
    int cutEpoch = 0;  // turnover period the invoice belongs to
};

struct ParsedRequest {
    SimInvoice invoice;
    ImageRequest image;
    std::string error;  // empty when the request is usable
};

// Reads a request body: the outer object carrying "invoiceRequest", or the
// bare invoice request. Scalars may be JSON strings or numbers. Items are
// checked and the tax is worked out against the table.
ParsedRequest parseInvoiceRequest(std::string_view body, const std::vector<TaxRate>& taxRates);

// Sum of the items and the tax per label, each label listed once, in order of
// first appearance. Returns an error text for a label the table lacks.
std::string computeTaxes(SimInvoice& invoice, const std::vector<TaxRate>& taxRates);

// Names used on receipts.
std::string paymentTypeName(int paymentType);        // "Готовина", ...
std::string invoiceTypeHeading(int invoiceType);     // "ПРОМЕТ", ...
std::string transactionTypeHeading(int transactionType);  // "ПРОДАЈА", "РЕФУНДАЦИЈА"
std::string counterExtension(int invoiceType, int transactionType);  // "ПП", ...

}  // namespace kv::sim
