#pragma once
// The receipt text ("journal") the device returns with every signed invoice:
// fixed-width lines in Cyrillic, amounts with a decimal comma, lines ended
// with CR LF, as a receipt printer takes them.
#include "SimInvoice.h"

#include <string>
#include <string_view>
#include <vector>

namespace kv::sim {

struct ShopIdentity {
    std::string tin = "4400000000000";
    std::string businessName = "Ковира пробна радња д.о.о.";
    std::string locationName = "Продавница 1";
    std::string address = "Краља Петра I 1";
    std::string district = "Бања Лука";
};

// Width in characters (code points), not bytes.
std::size_t textWidth(std::string_view utf8);

// The journal of a signed invoice, width columns wide.
std::string layoutJournal(const SimInvoice& invoice, const ShopIdentity& shop, int width);

// The journal split at CR LF (the last empty piece dropped).
std::vector<std::string> journalLines(std::string_view journal);

// "12.03.2024. 07:47:38" from an ISO date-time text read by position; the
// text itself when it does not have that shape.
std::string receiptDateTime(std::string_view iso);

}  // namespace kv::sim
