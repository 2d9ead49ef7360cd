#include "SimInvoice.h"

#include <rapidjson/document.h>

#include <cmath>
#include <optional>
#include <strings.h>

namespace kv::sim {

namespace {

using rapidjson::Value;

constexpr std::size_t kMaxItems = 5000;
constexpr std::size_t kMaxPayments = 100;

const Value* member(const Value& obj, const char* name) {
    if (!obj.IsObject()) return nullptr;
    // Member names are matched without regard to case, as the devices do.
    for (auto it = obj.MemberBegin(); it != obj.MemberEnd(); ++it)
        if (it->name.IsString() && strcasecmp(it->name.GetString(), name) == 0) return &it->value;
    return nullptr;
}

// The text of a scalar: strings as they are, numbers as written (the
// document is parsed with numbers kept as text), booleans as words, null as
// empty. Objects and arrays have none.
std::optional<std::string> scalar(const Value* v) {
    if (!v || v->IsNull()) return std::string();
    if (v->IsString()) return std::string(v->GetString(), v->GetStringLength());
    if (v->IsBool()) return std::string(v->GetBool() ? "true" : "false");
    return std::nullopt;
}

std::string text(const Value& obj, const char* name) {
    return scalar(member(obj, name)).value_or(std::string());
}

std::optional<int> smallInt(const std::string& s, int lo, int hi) {
    if (s.empty() || s.size() > 6) return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

bool isTrue(const Value* v) {
    auto s = scalar(v);
    return s && strcasecmp(s->c_str(), "true") == 0;
}

int rateBasisPoints(double rate) { return static_cast<int>(std::lround(rate * 100)); }

}  // namespace

std::vector<TaxRate> defaultTaxRates() {
    return {
        {"Е", 17, "ПДВ", 0},
        {"К", 0, "Ослобођено ПДВ", 0},
        {"А", 0, "Није у систему ПДВ", 0},
        {"Ј", 0, "Нулта стопа", 0},
    };
}

std::string canonicalLabel(std::string_view label) {
    if (label == "E") return "Е";
    if (label == "K") return "К";
    if (label == "A") return "А";
    if (label == "J") return "Ј";
    return std::string(label);
}

std::string computeTaxes(SimInvoice& invoice, const std::vector<TaxRate>& taxRates) {
    invoice.totalAmount = 0;
    invoice.taxes.clear();
    for (const SimItem& item : invoice.items) {
        invoice.totalAmount += item.totalAmount;
        const std::string key = canonicalLabel(item.label);
        const TaxRate* rate = nullptr;
        for (const TaxRate& r : taxRates)
            if (canonicalLabel(r.label) == key) {
                rate = &r;
                break;
            }
        if (!rate) return "Непозната пореска ознака: " + item.label;
        TaxLine* line = nullptr;
        for (TaxLine& t : invoice.taxes)
            if (canonicalLabel(t.label) == key) line = &t;
        if (!line) {
            invoice.taxes.push_back({item.label, rate->categoryName, rate->categoryType, rate->rate, 0, 0});
            line = &invoice.taxes.back();
        }
        line->base += item.totalAmount;
    }
    // Prices include tax, so the tax is base * rate / (100 + rate), worked out
    // once per label rather than per item to keep rounding to one step.
    for (TaxLine& t : invoice.taxes) {
        const int bp = rateBasisPoints(t.rate);
        t.amount = mulDiv(t.base, bp, 10000 + bp);
    }
    return {};
}

ParsedRequest parseInvoiceRequest(std::string_view body, const std::vector<TaxRate>& taxRates) {
    ParsedRequest out;
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseNumbersAsStringsFlag>(body.data(), body.size());
    if (doc.HasParseError() || !doc.IsObject()) {
        out.error = "Захтјев није исправан JSON објекат";
        return out;
    }
    const Value* req = &doc;
    if (const Value* inner = member(doc, "invoiceRequest")) {
        if (!inner->IsObject()) {
            out.error = "invoiceRequest није објекат";
            return out;
        }
        req = inner;
        if (isTrue(member(doc, "renderReceiptImage"))) {
            auto format = scalar(member(doc, "receiptImageFormat"));
            out.image.wanted = !format || format->empty() || strcasecmp(format->c_str(), "png") == 0;
            if (auto w = smallInt(text(doc, "receiptSlipWidth"), 200, 2000)) out.image.width = *w;
        }
    }

    SimInvoice& inv = out.invoice;
    inv.dateAndTimeOfIssue = text(*req, "dateAndTimeOfIssue");
    inv.cashier = text(*req, "cashier");
    inv.buyerId = text(*req, "buyerId");
    inv.buyerCostCenterId = text(*req, "buyerCostCenterId");
    inv.esirNumber = text(*req, "invoiceNumber");
    inv.referentDocumentNumber = text(*req, "referentDocumentNumber");
    inv.referentDocumentDT = text(*req, "referentDocumentDT");
    auto invoiceType = smallInt(text(*req, "invoiceType"), 0, 4);
    if (!invoiceType) {
        out.error = "Неисправан тип рачуна";
        return out;
    }
    auto transactionType = smallInt(text(*req, "transactionType"), 0, 1);
    if (!transactionType) {
        out.error = "Неисправан тип трансакције";
        return out;
    }
    inv.invoiceType = *invoiceType;
    inv.transactionType = *transactionType;
    if (const Value* options = member(*req, "options")) {
        inv.omitQrCode = text(*options, "omitQRCodeGen") == "1";
        inv.omitJournal = text(*options, "omitTextualRepresentation") == "1";
    }

    const Value* payments = member(*req, "payment");
    if (payments && !payments->IsArray()) {
        out.error = "payment није низ";
        return out;
    }
    if (payments) {
        if (payments->Size() > kMaxPayments) {
            out.error = "Превише начина плаћања";
            return out;
        }
        for (const Value& p : payments->GetArray()) {
            auto amount = parseDecimal(text(p, "amount"));
            auto type = smallInt(text(p, "paymentType"), 0, 6);
            if (!p.IsObject() || !amount || !type || *amount < 0) {
                out.error = "Неисправно плаћање";
                return out;
            }
            inv.payments.push_back({*amount, *type});
        }
    }

    const Value* items = member(*req, "items");
    if (!items || !items->IsArray() || items->Empty()) {
        out.error = "Рачун нема ставки";
        return out;
    }
    if (items->Size() > kMaxItems) {
        out.error = "Превише ставки";
        return out;
    }
    for (const Value& it : items->GetArray()) {
        const std::string pos = "Ставка " + std::to_string(inv.items.size() + 1) + ": ";
        if (!it.IsObject()) {
            out.error = pos + "није објекат";
            return out;
        }
        SimItem item;
        item.gtin = text(it, "gtin");
        item.name = text(it, "name");
        auto quantity = parseDecimal(text(it, "quantity"));
        auto unitPrice = parseDecimal(text(it, "unitPrice"));
        auto totalAmount = parseDecimal(text(it, "totalAmount"));
        const Value* labels = member(it, "labels");
        if (item.name.empty()) {
            out.error = pos + "нема назив";
            return out;
        }
        if (!quantity || !unitPrice || !totalAmount || *quantity <= 0 || *unitPrice < 0 || *totalAmount < 0) {
            out.error = pos + "неисправна количина или износ";
            return out;
        }
        if (!labels || !labels->IsArray() || labels->Empty() || !(*labels)[0].IsString()) {
            out.error = pos + "нема пореску ознаку";
            return out;
        }
        item.label = (*labels)[0].GetString();
        item.quantity = *quantity;
        item.unitPrice = *unitPrice;
        item.totalAmount = *totalAmount;
        inv.items.push_back(std::move(item));
    }
    out.error = computeTaxes(inv, taxRates);
    return out;
}

std::string paymentTypeName(int paymentType) {
    switch (paymentType) {
        case 1: return "Готовина";
        case 2: return "Картица";
        case 3: return "Чек";
        case 4: return "Банковни пренос";
        case 5: return "Ваучер";
        case 6: return "Мобилни новац";
        default: return "Остало";
    }
}

std::string invoiceTypeHeading(int invoiceType) {
    switch (invoiceType) {
        case 1: return "ПРЕДРАЧУН";
        case 2: return "КОПИЈА";
        case 3: return "ОБУКА";
        case 4: return "АВАНС";
        default: return "ПРОМЕТ";
    }
}

std::string transactionTypeHeading(int transactionType) {
    return transactionType == 1 ? "РЕФУНДАЦИЈА" : "ПРОДАЈА";
}

std::string counterExtension(int invoiceType, int transactionType) {
    static const char* const kType[] = {"П", "Р", "К", "О", "А"};
    const char* type = invoiceType >= 0 && invoiceType <= 4 ? kType[invoiceType] : "П";
    return std::string(type) + (transactionType == 1 ? "Р" : "П");
}

}  // namespace kv::sim
