#include "device/InvoiceRequest.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "device/InvoiceModel.h"
#include "util/Currency.h"
#include "util/Utf8.h"

namespace kv::device {

namespace {

std::string IntText(const ConstField& f) { return f.isNull() ? std::string() : std::to_string(f.asInteger()); }

std::string Number(const Value& v) {
    if (const auto* c = std::get_if<Currency>(&v)) return NumberText(*c);
    return "0";
}

template <class W>
void Str(W& w, const std::string& s) {
    w.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
}

template <class W>
void Member(W& w, const char* name, const std::string& value) {
    w.Key(name);
    Str(w, value);
}

template <class W>
void WriteInvoiceRequest(W& w, const InvoiceModel& m, const RunSettings& o) {
    const MemTable& inv = m.Invoice;
    auto text = [&](const char* f) { return inv.isEmpty() && !inv.isEditing() ? std::string() : inv.field(f).asString(); };
    auto intText = [&](const char* f) {
        return inv.isEmpty() && !inv.isEditing() ? std::string() : IntText(inv.field(f));
    };
    auto optional = [&](const char* f) {
        std::string v = text(f);
        if (!v.empty()) Member(w, f, v);
    };
    w.StartObject();
    Member(w, "dateAndTimeOfIssue", text("dateAndTimeOfIssue"));
    optional("cashier");
    optional("buyerId");
    optional("buyerCostCenterId");
    Member(w, "invoiceType", intText("invoiceType"));
    Member(w, "transactionType", intText("transactionType"));
    Member(w, "invoiceNumber", text("invoiceNumber"));
    optional("referentDocumentNumber");
    optional("referentDocumentDT");
    std::string qr = intText("omitQRCodeGen"), textual = intText("omitTextualRepresentation");
    if (!qr.empty() || !textual.empty()) {
        w.Key("options");
        w.StartObject();
        if (!qr.empty()) Member(w, "omitQRCodeGen", qr);
        if (!textual.empty()) Member(w, "omitTextualRepresentation", textual);
        w.EndObject();
    }

    const MemTable& pay = m.Payment;
    w.Key("payment");
    w.StartArray();
    auto amount = *pay.fieldIndex("amount"), type = *pay.fieldIndex("paymentType");
    for (std::size_t r = 0; r < pay.recordCount(); ++r) {
        w.StartObject();
        Member(w, "amount", Number(pay.valueAt(r, amount)));
        std::string typeText;
        if (const auto* t = std::get_if<int64_t>(&pay.valueAt(r, type))) {
            int64_t sent = *t;
            // The older numbering started at 1 for "other".
            if (o.oldNacPl == 1 && sent >= 0 && sent <= 3) sent += 1;
            typeText = std::to_string(sent);
        }
        Member(w, "paymentType", typeText);
        w.EndObject();
    }
    w.EndArray();

    const MemTable& items = m.Items;
    w.Key("items");
    w.StartArray();
    auto gtin = *items.fieldIndex("gtin"), name = *items.fieldIndex("name"), qty = *items.fieldIndex("quantity"),
         labels = *items.fieldIndex("labels"), price = *items.fieldIndex("unitPrice"),
         total = *items.fieldIndex("totalAmount");
    auto textAt = [&](std::size_t r, std::size_t f) {
        const auto* s = std::get_if<std::string>(&items.valueAt(r, f));
        return s ? *s : std::string();
    };
    for (std::size_t r = 0; r < items.recordCount(); ++r) {
        w.StartObject();
        std::string g = textAt(r, gtin);
        size_t glen = Utf8Length(g);
        if (o.printGtin == 1 && glen >= 8 && glen <= 14) Member(w, "gtin", g);
        std::string n = textAt(r, name);
        std::erase(n, '#');
        Member(w, "name", n);
        Member(w, "quantity", Number(items.valueAt(r, qty)));
        w.Key("labels");
        w.StartArray();
        std::string label = TaxLabel(textAt(r, labels), o.latinLabels);
        if (!label.empty()) Str(w, label);
        w.EndArray();
        Member(w, "unitPrice", Number(items.valueAt(r, price)));
        Member(w, "totalAmount", Number(items.valueAt(r, total)));
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
}

template <class W>
void WriteBody(W& w, const InvoiceModel& m, const RunSettings& o) {
    if (o.testMode) {
        WriteInvoiceRequest(w, m, o);
        return;
    }
    bool wide = o.pos5880 == 1;
    w.StartObject();
    Member(w, "print", o.printUredjaj == 1 ? "true" : "false");
    if (o.renderPrint == 1) {
        Member(w, "renderReceiptImage", "true");
        Member(w, "receiptImageFormat", "Png");
        Member(w, "receiptSlipWidth", wide ? "576" : "386");
        // The device reads two font sizes under one name, in this order.
        Member(w, "receiptSlipFontSizeNormal", wide ? "24" : "23");
        Member(w, "receiptSlipFontSizeNormal", wide ? "30" : "27");
        Member(w, "receiptLayout", o.printUredjaj == 3 ? "Invoice" : "Slip");
    }
    w.Key("invoiceRequest");
    WriteInvoiceRequest(w, m, o);
    w.EndObject();
}

}  // namespace

std::string TaxLabel(const std::string& labels, bool latin) {
    if (labels == "E" || labels == "2") return latin ? "E" : "\xD0\x95";  // Cyrillic Ie
    if (labels == "A" || labels == "1") return latin ? "A" : "\xD0\x90";  // Cyrillic A
    if (labels == "K" || labels == "0") return latin ? "K" : "\xD0\x9A";  // Cyrillic Ka
    if (labels == "J") return latin ? "J" : "\xD0\x88";                   // Cyrillic Je
    return {};
}

std::string BuildInvoiceRequest(const InvoiceModel& model, const RunSettings& options, bool indented) {
    rapidjson::StringBuffer buf;
    if (indented) {
        rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buf);
        w.SetIndent(' ', 2);
        WriteBody(w, model, options);
    } else {
        rapidjson::Writer<rapidjson::StringBuffer> w(buf);
        WriteBody(w, model, options);
    }
    return std::string(buf.GetString(), buf.GetSize());
}

}  // namespace kv::device
