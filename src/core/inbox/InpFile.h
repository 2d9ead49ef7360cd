#pragma once
// The text invoice format ".inp": one sale per file, written by other
// programs of the business. Item lines ("S...") and payment lines ("T...")
// with fields split by ";"; every other line is passed over.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "util/Currency.h"

namespace kv::inbox {

// A file that cannot be taken: a number that is no number, an item line
// with too few fields. The message names the line (counted from 1).
class InpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Strict split at ";": spaces belong to the field; a field that begins with
// a double quote runs to its closing quote and may hold ";" (two quotes
// inside stand for one; text after the closing quote up to the next ";" is
// a further field); a ";" at the end adds an empty field; an empty line has
// no fields. An unclosed quote runs to the end of the line.
std::vector<std::string> SplitInpLine(std::string_view line);

// A price or quantity: read with `decimalSep` first, then with every "."
// taken for ","; either "2.50" or "2,50" is two and a half. No thousands
// separators. Kept to four decimals. InpError when neither form reads.
Currency InpDecimal(const std::string& text, char decimalSep);

// Field 6 of an item line: "1" -> A 0 %, "2" -> E 17 %, "4" -> K 0 %; any
// other text (compared exactly) leaves the tariff empty at 0 %.
struct InpTax {
    std::string tarifa;
    Currency stopa;
};
InpTax InpTaxCode(const std::string& code);

// Field 1 of a payment line to the register's payment type: "0" -> "1",
// "1" -> "2", "2" -> "3", "3" -> "0"; nullopt for any other code.
std::optional<std::string> InpPaymentCode(const std::string& code);

struct InpItem {
    std::string artikl, opis, tarifa;
    Currency cijena, kolicina, iznos, stopa;
};

struct InpSale {
    std::vector<InpItem> items;
    std::optional<std::string> nacinPL;  // last known payment code; nullopt keeps the default
};

// Reads the whole text (already UTF-8). Lines end at LF, a CR before it is
// dropped. Throws InpError for the first fault; nothing is kept then.
InpSale ParseInp(std::string_view text, char decimalSep);

}  // namespace kv::inbox
