#include "inbox/InpFile.h"

#include "inbox/QuotedField.h"

namespace kv::inbox {

std::vector<std::string> SplitInpLine(std::string_view line) {
    std::vector<std::string> fields;
    if (line.empty()) return fields;
    std::size_t i = 0;
    while (true) {
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ReadQuotedField(line, i, field);  // an unclosed quote runs to the end of the line
            fields.push_back(std::move(field));
            if (i >= line.size()) break;
            // Text right after the closing quote is a further field of its own.
            if (line[i] != ';') continue;
            ++i;
            if (i >= line.size()) {
                fields.emplace_back();  // a ";" at the end adds an empty field
                break;
            }
            continue;
        }
        while (i < line.size() && line[i] != ';') field += line[i++];
        fields.push_back(std::move(field));
        if (i >= line.size()) break;
        ++i;  // the ";": a field follows, empty at the end of the line
        if (i >= line.size()) {
            fields.emplace_back();
            break;
        }
    }
    return fields;
}

Currency InpDecimal(const std::string& text, char decimalSep) {
    if (auto v = ParseCurrency(text, decimalSep)) return *v;
    std::string comma = text;
    for (char& c : comma)
        if (c == '.') c = ',';
    if (auto v = ParseCurrency(comma, ',')) return *v;
    throw InpError("'" + text + "' is not a valid floating point value");
}

InpTax InpTaxCode(const std::string& code) {
    if (code == "1") return {"A", Currency()};
    if (code == "2") return {"E", Currency(17)};
    if (code == "4") return {"K", Currency()};
    return {};
}

std::optional<std::string> InpPaymentCode(const std::string& code) {
    if (code == "0") return "1";
    if (code == "1") return "2";
    if (code == "2") return "3";
    if (code == "3") return "0";
    return std::nullopt;
}

InpSale ParseInp(std::string_view text, char decimalSep) {
    InpSale sale;
    std::size_t start = 0;
    int lineNo = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto f = SplitInpLine(line);
        if (f.size() < 2 || f[0].empty()) continue;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        if (f[0][0] == 'S') {
            if (f.size() < 9)
                throw InpError(where + "an item line needs 9 fields, it has " + std::to_string(f.size()));
            InpItem item;
            item.artikl = f[8];
            item.opis = f[1];
            try {
                item.cijena = InpDecimal(f[2], decimalSep);
                item.kolicina = InpDecimal(f[3], decimalSep);
                // Four-decimal product first, then hundredths, half away from zero.
                item.iznos = RoundCurr(-2, item.cijena * item.kolicina);
            } catch (const InpError& e) {
                throw InpError(where + e.what());
            } catch (const std::exception& e) {
                throw InpError(where + "number out of range (" + e.what() + ")");
            }
            InpTax tax = InpTaxCode(f[6]);
            item.tarifa = tax.tarifa;
            item.stopa = tax.stopa;
            sale.items.push_back(std::move(item));
        } else if (f[0][0] == 'T') {
            if (auto code = InpPaymentCode(f[1])) sale.nacinPL = *code;
        }
    }
    return sale;
}

}  // namespace kv::inbox
