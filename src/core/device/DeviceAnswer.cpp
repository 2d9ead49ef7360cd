#include "device/DeviceAnswer.h"

#include <string_view>

namespace kv::device {

namespace {

bool StartsWithName(std::string_view text, std::string_view head) {
    return text.size() >= head.size() && SameName(text.substr(0, head.size()), head);
}

// The member of a tax item a flattened name "<items>[i].member" sets, or null.
std::string* TaxMember(AnswerTaxItem& item, std::string_view member) {
    if (SameName(member, "label")) return &item.label;
    if (SameName(member, "categoryName")) return &item.categoryName;
    if (SameName(member, "categoryType")) return &item.categoryType;
    if (SameName(member, "rate")) return &item.rate;
    if (SameName(member, "amount")) return &item.amount;
    return nullptr;
}

// Tax items from the flattened lines "<prefix>taxItems[i].member", in the
// order the device sent them. The lines of one element follow each other.
std::vector<AnswerTaxItem> TaxItems(const FlatJson& answer, const std::string& prefix) {
    const std::string head = prefix + "taxItems[";
    std::vector<AnswerTaxItem> items;
    std::string_view lastIndex;
    for (const auto& [name, value] : answer.lines) {
        if (!StartsWithName(name, head)) continue;
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
