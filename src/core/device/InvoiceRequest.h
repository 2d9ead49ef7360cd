#pragma once
// The JSON invoice request sent to the fiscal device, built member by member
// in a fixed order. Every scalar is a JSON string.
#include <string>

#include "device/RunSettings.h"

namespace kv::device {

class InvoiceModel;


// The body as sent (compact) and as shown in the request log (indented).
std::string BuildInvoiceRequest(const InvoiceModel& model, const RunSettings& options, bool indented = false);

// The label sent for an item's `labels` text; empty when it maps to none.
std::string TaxLabel(const std::string& labels, bool latin);

}  // namespace kv::device
