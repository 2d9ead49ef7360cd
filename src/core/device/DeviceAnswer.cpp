#include "device/DeviceAnswer.h"

#include <cctype>
#include <string_view>

namespace kv::device {

namespace {

// ASCII letters compared without case, as FlatJson::value compares names.
bool StartsWithNoCase(std::string_view text, std::string_view head) {
    if (text.size() < head.size()) return false;
    for (std::size_t i = 0; i < head.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(head[i]);
        if (a < 128 && b < 128 ? std::tolower(a) != std::tolower(b) : a != b) return false;
    }
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

// The member of a tax item a flattened name "<items>[i].member" sets, or null.
std::string* TaxMember(AnswerTaxItem& item, std::string_view member) {
    if (EqualsNoCase(member, "label")) return &item.label;
    if (EqualsNoCase(member, "categoryName")) return &item.categoryName;
    if (EqualsNoCase(member, "categoryType")) return &item.categoryType;
    if (EqualsNoCase(member, "rate")) return &item.rate;
    if (EqualsNoCase(member, "amount")) return &item.amount;
    return nullptr;
}

// Tax items from the flattened lines "<prefix>taxItems[i].member", in the
// order the device sent them. The lines of one element follow each other.
std::vector<AnswerTaxItem> TaxItems(const FlatJson& answer, const std::string& prefix) {
    const std::string head = prefix + "taxItems[";
    std::vector<AnswerTaxItem> items;
    std::string_view lastIndex;
    for (const auto& [name, value] : answer.lines) {
        if (!StartsWithNoCase(name, head)) continue;
        std::string_view rest = std::string_view(name).substr(head.size());
        const auto close = rest.find(']');
        if (close == std::string_view::npos || close == 0 || close + 1 >= rest.size() || rest[close + 1] != '.')
            continue;
        const std::string_view index = rest.substr(0, close);
        const std::string_view member = rest.substr(close + 2);
        if (items.empty() || index != lastIndex) {
            items.emplace_back();
            lastIndex = index;
        }
        // Deeper members ("taxItems[0].x.y") name no tax item member; the first of a repeated one counts.
        if (std::string* field = TaxMember(items.back(), member); field && field->empty()) *field = value;
    }
    return items;
}

}  // namespace

DeviceAnswer ReadDeviceAnswer(const FlatJson& answer, InvoiceType type) {
    const bool last = type == InvoiceType::Last;
    const std::string prefix = last ? "invoiceResponse." : "";
    DeviceAnswer a;
    a.invoiceNumber = answer.value(prefix + "invoiceNumber");
    a.sdcDateTime = answer.value(prefix + "sdcDateTime");
    a.totalAmount = answer.value(prefix + "totalAmount");
    a.taxItems = TaxItems(answer, prefix);
    a.journal = answer.value(prefix + "journal");
    a.verificationUrl = answer.value(prefix + "verificationUrl");
    a.receiptPngBase64 = answer.value(last ? "receiptImageBase64" : "invoiceImagePngBase64");
    return a;
}

DeviceAnswer ReadDeviceAnswer(const std::string& answerJson, InvoiceType type) {
    FlatJson flat;
    OpenJSONFile(answerJson, "", flat);
    DeviceAnswer a = ReadDeviceAnswer(flat, type);
    a.json = answerJson;
    return a;
}

}  // namespace kv::device
