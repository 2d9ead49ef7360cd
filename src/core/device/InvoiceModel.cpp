#include "device/InvoiceModel.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "platform/Platform.h"
#include "util/CdsFile.h"

namespace kv::device {

namespace {
using FT = FieldType;
using FK = FieldKind;

std::vector<FieldDef> InvoiceFields() {
    return {{"dateAndTimeOfIssue", FT::String, 30},
            {"cashier", FT::WideString, 50},
            {"buyerId", FT::WideString, 20},
            {"buyerCostCenterId", FT::WideString, 50},
            {"invoiceType", FT::Integer},
            {"transactionType", FT::Integer},
            {"invoiceNumber", FT::WideString, 60},
            {"referentDocumentNumber", FT::WideString, 50},
            {"referentDocumentDT", FT::String, 30},
            {"omitQRCodeGen", FT::Integer},
            {"omitTextualRepresentation", FT::Integer},
            {"RequestId", FT::String, 255},
            {"PFRnumber", FT::WideString, 50},
            {"PFRvrijeme", FT::String, 30},
            {"kRefTime", FT::DateTime, 0, FK::Calculated},
            {"kEsirTime", FT::DateTime, 0, FK::Calculated},
            {"kPFRTime", FT::DateTime, 0, FK::Calculated}};
}

std::vector<FieldDef> ItemFields() {
    return {{"gtin", FT::String, 14},
            {"name", FT::WideString, 2048},
            {"quantity", FT::FMTBcd, 3},
            {"labels", FT::String, 20},
            {"unitPrice", FT::FMTBcd, 2},
            {"totalAmount", FT::FMTBcd, 2},
            {"kNaziv", FT::WideString, 40, FK::Calculated}};
}

std::vector<FieldDef> PaymentFields() {
    return {{"amount", FT::FMTBcd, 2},
            {"paymentType", FT::Integer},
            {"kOpis", FT::WideString, 20, FK::Calculated},
            {"kPovrat", FT::FMTBcd, 2, FK::Calculated}};
}

std::vector<FieldDef> TaxFields() {
    return {{"categoryType", FT::WideString, 20},
            {"label", FT::WideString, 20},
            {"amount", FT::WideString, 20},
            {"rate", FT::WideString, 20},
            {"categoryName", FT::WideString, 30},
            {"kRate", FT::WideString, 30, FK::Calculated},
            {"kAmount", FT::Currency, 0, FK::Calculated},
            {"KIntAmount", FT::Currency, 0, FK::InternalCalc}};
}

std::optional<Currency> Sum(const MemTable& t, const char* field) {
    if (!t.active() || t.isEmpty()) return std::nullopt;
    auto fi = *t.fieldIndex(field);
    Currency total;
    bool any = false;
    for (std::size_t r = 0; r < t.recordCount(); ++r) {
        const Value& v = t.valueAt(r, fi);
        if (const auto* c = std::get_if<Currency>(&v)) {
            total += *c;
            any = true;
        }
    }
    return any ? std::optional<Currency>(total) : std::nullopt;
}

int Digits(const std::string& s, size_t from, size_t count, bool* ok) {
    if (s.size() < from + count) {
        *ok = false;
        return 0;
    }
    int v = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            *ok = false;
            return 0;
        }
        v = v * 10 + (s[i] - '0');
    }
    return v;
}
}  // namespace

std::optional<DateTime> PositionalDateTime(const std::string& t) {
    bool ok = true;
    int y = Digits(t, 0, 4, &ok), mo = Digits(t, 5, 2, &ok), d = Digits(t, 8, 2, &ok);
    int h = Digits(t, 11, 2, &ok), mi = Digits(t, 14, 2, &ok), s = Digits(t, 17, 2, &ok);
    if (!ok) return std::nullopt;
    try {
        DateTime wall = DateTime::fromParts(y, mo, d, h, mi, s, 0);
        // "...Z" is UTC (Kovira's own "Now", some devices): shown and printed
        // on the shop's clock. Other offsets are the device's local time already.
        size_t end = 19;
        if (end < t.size() && t[end] == '.')
            while (++end < t.size() && t[end] >= '0' && t[end] <= '9') {
            }
        if (end + 1 == t.size() && (t[end] == 'Z' || t[end] == 'z')) {
            std::tm utc{};
            utc.tm_year = y - 1900;
            utc.tm_mon = mo - 1;
            utc.tm_mday = d;
            utc.tm_hour = h;
            utc.tm_min = mi;
            utc.tm_sec = s;
            const std::time_t when = ::timegm(&utc);
            std::tm local{};
            if (when != static_cast<std::time_t>(-1) && ::localtime_r(&when, &local))
                wall = DateTime::fromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                           local.tm_min, local.tm_sec, 0);
        }
        return wall;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string PaymentTypeName(int64_t type) {
    static const char* names[] = {"Остало", "Готовина", "Картица", "Чек", "Банковни пренос", "Ваучер", "Мобилни новац"};
    return type >= 0 && type <= 6 ? names[type] : "";
}

std::optional<Currency> TaxAmountValue(const std::string& text, char decimalSep) {
    // Devices send JSON numbers ("9.9099"); read the system form first, then the other one.
    return ParseCurrencyWithRetry(text, decimalSep);
}

InvoiceModel::InvoiceModel()
    : Invoice(InvoiceFields()), Items(ItemFields()), Payment(PaymentFields()), TaxItems(TaxFields()) {
    Invoice.open();
    Items.open();
    Payment.open();
    TaxItems.open();

    Invoice.setOnCalcFields([](MemTable& t) {
        const std::pair<const char*, const char*> pairs[] = {
            {"kRefTime", "referentDocumentDT"}, {"kEsirTime", "dateAndTimeOfIssue"}, {"kPFRTime", "PFRvrijeme"}};
        for (auto [calc, text] : pairs) {
            auto dt = PositionalDateTime(t.field(text).asString());
            if (dt) t.field(calc).setValue(Value(*dt));
        }
    });
    Items.setOnCalcFields([](MemTable& t) {
        t.field("kNaziv").setValue(Value(t.field("name").asString() + " (" + t.field("labels").asString() + ")"));
    });
    Payment.setOnCalcFields([this](MemTable& t) {
        auto f = t.field("paymentType");
        if (!f.isNull()) t.field("kOpis").setValue(Value(PaymentTypeName(f.asInteger())));
        t.field("kPovrat").setValue(Value(Povrat()));
    });
    TaxItems.setOnCalcFields([](MemTable& t) {
        t.field("kRate").setValue(Value(t.field("rate").asString() + "%"));
        if (auto c = TaxAmountValue(t.field("amount").asString(), platform::DecimalSeparator())) {
            t.field("kAmount").setValue(Value(*c));
            t.field("KIntAmount").setValue(Value(*c));
        }
    });
    // A new header asks for the QR code and the receipt text.
    Invoice.addChangeListener([](MemTable& t, TableChange c) {
        if (c == TableChange::Rows && t.state() == DatasetState::Insert && t.field("omitQRCodeGen").isNull() &&
            t.field("omitTextualRepresentation").isNull()) {
            t.field("omitQRCodeGen").setValue(Value(int64_t{0}));
            t.field("omitTextualRepresentation").setValue(Value(int64_t{0}));
        }
    });
    // The change owed depends on both totals.
    auto refreshPovrat = [this](MemTable&, TableChange c) {
        if (c == TableChange::Rows && !Payment.isEditing()) Payment.refreshCalcFields();
    };
    Items.addChangeListener(refreshPovrat);
    Payment.addChangeListener(refreshPovrat);
    watch(Invoice, "Invoice.cds");
    watch(Items, "Items.cds");
    watch(Payment, "Payment.cds");
}

std::string InvoiceModel::filePath(const char* name) const { return saveFolder_ + "/" + name; }

void InvoiceModel::watch(MemTable& table, const char* file) {
    // Saved after every post and also after a delete, so a removed line does
    // not come back at the next start.
    table.addChangeListener([this, file](MemTable& t, TableChange c) {
        if (c != TableChange::Rows || restoring_ || t.state() != DatasetState::Browse) return;
        if (batchDepth_ == 0) {
            save(t, file);
        } else if (std::find(pendingSaves_.begin(), pendingSaves_.end(), std::make_pair(&t, file)) ==
                   pendingSaves_.end()) {
            pendingSaves_.emplace_back(&t, file);
        }
    });
}

InvoiceModel::Batch::Batch(InvoiceModel& model) : model_(model) { ++model_.batchDepth_; }

InvoiceModel::Batch::~Batch() {
    if (--model_.batchDepth_ > 0) return;
    auto pending = std::move(model_.pendingSaves_);
    model_.pendingSaves_.clear();
    // save() reports through onSaveError; a throwing handler must not escape a destructor.
    for (auto [table, file] : pending) {
        try {
            model_.save(*table, file);
        } catch (...) {
        }
    }
}

void InvoiceModel::save(MemTable& table, const char* file) {
    if (saveFolder_.empty()) return;
    try {
        SaveCdsFile(table, filePath(file), durableSaves_);
    } catch (const std::exception& e) {
        if (onSaveError) onSaveError(e.what());
    }
}

std::vector<std::string> InvoiceModel::Restore() {
    std::vector<std::string> errors;
    if (saveFolder_.empty()) return errors;
    restoring_ = true;
    std::pair<MemTable*, const char*> files[] = {{&Invoice, "Invoice.cds"}, {&Items, "Items.cds"}, {&Payment, "Payment.cds"}};
    for (auto [table, name] : files) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(filePath(name), ec)) continue;
        try {
            LoadCdsFile(*table, filePath(name));
        } catch (const std::exception& e) {
            errors.push_back(e.what());
        }
    }
    restoring_ = false;
    Payment.refreshCalcFields();
    return errors;
}

std::optional<Currency> InvoiceModel::ItemsTotal() const { return Sum(Items, "totalAmount"); }
std::optional<Currency> InvoiceModel::PaymentTotal() const { return Sum(Payment, "amount"); }
std::optional<Currency> InvoiceModel::TaxTotal() const { return Sum(TaxItems, "KIntAmount"); }

Currency InvoiceModel::Povrat() const {
    auto paid = PaymentTotal();
    auto items = ItemsTotal();
    if (!paid || !items) return Currency();
    return *paid - *items;
}

bool InvoiceModel::NewId() {
    if (!Invoice.isEditing()) return false;
    Invoice.field("RequestId").setValue(Value(platform::NewGuid()));
    return true;
}

bool InvoiceModel::Now(long long nowUtcSeconds) {
    if (!Invoice.isEditing()) return false;
    std::time_t t = static_cast<std::time_t>(nowUtcSeconds);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    Invoice.field("dateAndTimeOfIssue").setValue(Value(std::string(buf)));
    return true;
}

void InvoiceModel::FillTaxItems(const MemTable& rows) {
    static const char* members[] = {"categoryType", "label", "amount", "rate", "categoryName"};
    std::vector<std::size_t> source;
    for (const char* m : members) {
        auto fi = rows.active() ? rows.fieldIndex(m) : std::nullopt;
        if (!fi && rows.active() && !rows.isEmpty()) throw std::runtime_error(std::string("Field '") + m + "' not found");
        source.push_back(fi.value_or(0));
    }
    TaxItems.close();
    TaxItems.open();
    if (!rows.active()) return;
    for (std::size_t r = 0; r < rows.recordCount(); ++r) {
        TaxItems.append();
        for (std::size_t i = 0; i < 5; ++i) TaxItems.field(members[i]).setValue(rows.valueAt(r, source[i]));
        TaxItems.post();
    }
    if (!TaxItems.isEmpty()) TaxItems.first();
}

void InvoiceModel::Clear() {
    for (MemTable* t : {&Invoice, &Items, &Payment, &TaxItems}) {
        t->cancel();
        t->emptyDataSet();
    }
}

}  // namespace kv::device
