#include "inbox/KvrFile.h"

#include <charconv>
#include <cstring>
#include <map>

#include "device/InvoiceModel.h"
#include "inbox/CodePage.h"
#include "inbox/QuotedField.h"
#include "util/SafeText.h"
#include "util/Utf8.h"

namespace kv::inbox {

namespace {

// One accepted line as the keyed table stored it (cut to the field sizes).
struct KeyedLine {
    std::size_t lineNo;  // 1-based line of the file, for messages
    std::string cdsName, rbr, fieldName, value;
};

// A value as it appears in a message: bounded, whole UTF-8 characters.
std::string Shown(const std::string& v) {
    constexpr std::size_t kMax = 60;
    if (v.size() <= kMax) return "'" + v + "'";
    return "'" + CutToBytes(v, kMax) + "...'";
}

[[noreturn]] void Fail(const KeyedLine& l, const std::string& what) {
    throw KvrLoadError("Line " + std::to_string(l.lineNo) + " (" + l.cdsName + "): " + what);
}

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Decimal integer text: optional spaces, optional sign, digits.
std::optional<std::int64_t> IntegerText(std::string_view s) {
    s = TrimSpaces(s);
    const bool plus = !s.empty() && s.front() == '+';
    if (plus) s.remove_prefix(1);
    if (s.empty() || !((s.front() >= '0' && s.front() <= '9') || (!plus && s.front() == '-'))) return std::nullopt;
    std::int64_t v = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

// An item number: digits, leading zeros and surrounding spaces allowed.
std::optional<std::uint64_t> ItemNumber(std::string_view s) {
    s = TrimSpaces(s);
    if (s.empty() || s.front() < '0' || s.front() > '9') return std::nullopt;
    std::uint64_t v = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

void Assign(MemTable& table, const KeyedLine& l, char decimalSep) {
    const auto fi = table.fieldIndex(l.fieldName);
    if (!fi) Fail(l, "Field '" + l.fieldName + "' not found");
    const FieldDef& def = table.fieldDefs()[*fi];
    // A calculated field is filled again by the next calculation: a value for it means nothing.
    if (def.kind != FieldKind::Data) return;
    Value v;
    switch (StorageOf(def.type)) {
        case FieldStorage::Text:
            v = l.value;
            break;
        case FieldStorage::Integer: {
            auto i = IntegerText(l.value);
            if (!i) Fail(l, Shown(l.value) + " is not a valid integer value for field '" + def.name + "'");
            v = *i;
            break;
        }
        case FieldStorage::Money: {
            auto c = l.value.empty() ? std::optional<Currency>(Currency()) : ParseCurrencyWithRetry(l.value, decimalSep);
            if (!c) Fail(l, Shown(l.value) + " is not a valid decimal value for field '" + def.name + "'");
            v = *c;
            break;
        }
        default:  // date-time, floating point and the like are not taken from files
            return;
    }
    try {
        table.field(*fi).setValue(v);
    } catch (const DatasetError& e) {  // out of the field's range
        Fail(l, e.what());
    }
}

// Appends one record to `table` from `lines` and posts it; on an error the
// unposted record is dropped so that no half-converted record is ever saved.
void FillRecord(MemTable& table, const std::vector<const KeyedLine*>& lines, char decimalSep) {
    table.append();
    try {
        for (const KeyedLine* l : lines) Assign(table, *l, decimalSep);
        table.post();
    } catch (...) {
        table.cancel();
        throw;
    }
}

}  // namespace

std::optional<std::array<std::string, 4>> SplitKvrLine(std::string_view line) {
    std::array<std::string, 4> fields;
    std::size_t count = 0;
    std::size_t i = 0;
    for (;;) {
        std::string field;
        if (i < line.size() && line[i] == '"') {
            const bool closed = ReadQuotedField(line, i, field);
            if (!closed || (i < line.size() && line[i] != '#')) return std::nullopt;
        } else {
            const std::size_t end = std::min(line.find('#', i), line.size());
            field.assign(line.substr(i, end - i));
            i = end;
        }
        if (count == fields.size()) return std::nullopt;
        fields[count++] = std::move(field);
        if (i >= line.size()) break;
        ++i;  // the "#"; a "#" at the very end leaves one more, empty field
    }
    if (count != fields.size()) return std::nullopt;
    return fields;
}

std::vector<FieldDef> InputFileFields() {
    return {{"cdsName", FieldType::String, 30},
            {"Rbr", FieldType::String, 10},
            {"FieldName", FieldType::String, 50},
            {"Vrijednost", FieldType::WideString, 4000}};
}

MemTable MakeInputFileTable() { return MemTable(InputFileFields()); }

void LoadKvr(std::string_view fileBytes, MemTable& inputFile, device::InvoiceModel& model, char decimalSep,
             const std::string& codePage) {
    std::string text;
    try {
        text = DecodeText(fileBytes, codePage);
    } catch (const CodePageError& e) {
        throw KvrLoadError(e.what());
    }

    if (!inputFile.active()) inputFile.open();
    inputFile.emptyDataSet();
    const std::size_t fCds = inputFile.field("cdsName").index(), fRbr = inputFile.field("Rbr").index(),
                      fName = inputFile.field("FieldName").index(), fValue = inputFile.field("Vrijednost").index();

    std::vector<KeyedLine> lines;
    std::size_t lineNo = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        auto fields = SplitKvrLine(line);
        if (!fields) continue;
        inputFile.append();
        inputFile.field(fCds).setValue((*fields)[0]);
        inputFile.field(fRbr).setValue((*fields)[1]);
        inputFile.field(fName).setValue((*fields)[2]);
        inputFile.field(fValue).setValue((*fields)[3]);
        inputFile.post();
        // Read back what the table kept: its field sizes decide, whatever order a grid shows.
        lines.push_back({lineNo, inputFile.field(fCds).asString(), inputFile.field(fRbr).asString(),
                         inputFile.field(fName).asString(), inputFile.field(fValue).asString()});
    }

    std::vector<const KeyedLine*> invoice, payment;
    std::map<std::uint64_t, std::vector<const KeyedLine*>> items;
    for (const KeyedLine& l : lines) {
        if (l.cdsName == "Invoice") {
            invoice.push_back(&l);
        } else if (l.cdsName == "Payment") {
            payment.push_back(&l);
        } else if (l.cdsName == "Items") {
            if (auto n = ItemNumber(l.rbr)) items[*n].push_back(&l);
        }
    }

    device::InvoiceModel::Batch batch(model);
    model.Clear();
    FillRecord(model.Invoice, invoice, decimalSep);
    std::uint64_t n = 1;
    do {
        FillRecord(model.Items, items[n], decimalSep);
        ++n;
    } while (items.count(n) != 0);
    FillRecord(model.Payment, payment, decimalSep);
}

std::string ResultPaymentName(std::optional<std::int64_t> type) {
    static const char* const names[] = {"Ostalo",           "Gotovina", "Kartica",      "Ček",
                                        "Bankarski prenos", "Vaučer",   "Mobilni novac"};
    return type && *type >= 0 && *type <= 6 ? names[*type] : "";
}

std::string ResultFileText(const device::InvoiceModel& model, const std::string& fiskGreska, bool puniOdgovor,
                           const std::string& verificationUrl, char decimalSep) {
    std::string out;
    auto line = [&out](const std::string& s) { out += LineSafe(s) + "\r\n"; };
    if (!fiskGreska.empty()) {
        line("");
        line("");
    } else {
        const MemTable& inv = model.Invoice;
        line(inv.field("PFRnumber").asString());
        line(inv.field("PFRvrijeme").asString());
        if (puniOdgovor) {
            line(verificationUrl);
            line(inv.field("cashier").asString());
            line(inv.field("buyerId").asString());
            std::optional<std::int64_t> type;
            const MemTable& pay = model.Payment;
            if (!pay.isEmpty()) {
                const Value& v = pay.valueAt(pay.recordCount() - 1, pay.field("paymentType").index());
                if (const auto* i = std::get_if<std::int64_t>(&v)) type = *i;
            }
            line(ResultPaymentName(type));
            line(LocaleNumberText(model.PaymentTotal().value_or(Currency()), decimalSep));
        }
    }
    line(fiskGreska);
    return out;
}

}  // namespace kv::inbox
