#pragma once
// The JSON invoice request sent to the fiscal device, built member by member
// in a fixed order. Every scalar is a JSON string.
#include <string>

namespace kv::device {

class InvoiceModel;

struct RequestOptions {
    bool testMode = false;     // "Test sa PURS LPFR": bare invoice request, Latin labels
    bool latinLabels = false;  // either test check box
    int64_t printUredjaj = 0;
    int64_t renderPrint = 1;
    int64_t pos5880 = 0;
    int64_t oldNacPl = 0;
    int64_t printGtin = 0;
};

// The body as sent (compact) and as shown in the request log (indented).
std::string BuildInvoiceRequest(const InvoiceModel& model, const RequestOptions& options, bool indented = false);

// The label sent for an item's `labels` text; empty when it maps to none.
std::string TaxLabel(const std::string& labels, bool latin);

}  // namespace kv::device
