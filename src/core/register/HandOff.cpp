#include "register/HandOff.h"

#include <cstdio>

#include "device/DeviceClient.h"
#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"
#include "device/RequestLedger.h"
#include "platform/Platform.h"
#include "register/uDMGlavni.h"

namespace kv::reg {

std::string Gtin(const std::string& barKod, const std::string& artikl) {
    const bool blank = barKod.find_first_not_of(' ') == std::string::npos;
    std::string v = blank ? artikl : barKod;
    if (v.size() < 8) v = std::string(8 - v.size(), '0') + v;
    return v;
}

std::string IssueTime(DateTime workDate, std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    const DateTimeParts d = workDate.parts();
    std::tm moment{};
    moment.tm_year = d.year - 1900;
    moment.tm_mon = d.month - 1;
    moment.tm_mday = d.day;
    moment.tm_hour = local.tm_hour;
    moment.tm_min = local.tm_min;
    moment.tm_sec = local.tm_sec;
    moment.tm_isdst = -1;  // whatever the zone says for that day
    const std::time_t t = std::mktime(&moment);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return buf;
}

void FillInvoiceModel(device::InvoiceModel& model, const HandOffSource& src) {
    device::InvoiceModel::Batch batch(model);
    model.Clear();
    const Record& h = *src.header;
    const bool copy = src.invoiceType == 2;

    MemTable& inv = model.Invoice;
    inv.append();
    auto set = [](MemTable& t, const char* field, const Value& v) { t.field(field).setValue(v); };
    set(inv, "dateAndTimeOfIssue", Value(IssueTime(src.workDate, src.now)));
    set(inv, "cashier", Value(h.text("Cashier")));
    set(inv, "buyerId", Value(h.text("Kupac")));
    set(inv, "buyerCostCenterId", Value(h.text("KupacOrgj")));
    set(inv, "invoiceType", Value(std::int64_t(src.invoiceType)));
    set(inv, "transactionType", Value(h.integer("Storno").value_or(0)));
    set(inv, "invoiceNumber",
        Value(std::to_string(h.integer("Broj").value_or(0)) + "/" + std::to_string(h.integer("Godina").value_or(0))));
    set(inv, "referentDocumentNumber", Value(h.text(copy ? "PFRBROJ" : "RefDN")));
    set(inv, "referentDocumentDT", Value(h.text(copy ? "PFRTIME" : "RefDT")));
    set(inv, "RequestId", Value(src.requestId));
    inv.post();

    // The payment is the exact sum of the lines, as the total shows it.
    Currency total;
    MemTable& items = model.Items;
    for (const Record& l : *src.lines) {
        items.append();
        set(items, "name", Value(l.text("Opis")));
        set(items, "gtin", Value(Gtin(l.text("BarKod"), l.text("Artikl"))));
        set(items, "quantity", Value(l.decimal("KolIzlaz").value_or(Currency())));
        auto tax = src.fiskTax.find(l.text("Tarifa"));
        set(items, "labels", Value(tax == src.fiskTax.end() ? std::string() : tax->second));
        set(items, "unitPrice", Value(l.decimal("Cijena").value_or(Currency())));
        const Currency iznos = l.decimal("Iznos").value_or(Currency());
        set(items, "totalAmount", Value(iznos));
        items.post();
        total += iznos;
    }

    MemTable& pay = model.Payment;
    pay.append();
    set(pay, "amount", Value(total));
    set(pay, "paymentType", Value(src.fiskPayType));
    pay.post();
}

namespace {
// Clears the cash register's mark however the run ends.
struct FromRegister {
    bool* flag;
    explicit FromRegister(bool* f) : flag(f) {
        if (flag) *flag = true;
    }
    ~FromRegister() {
        if (flag) *flag = false;
    }
};
}  // namespace

std::string PrintFisk(HandOffContext& ctx, const Record& header, int invoiceType, DateTime workDate, std::time_t now) {
    const int godina = static_cast<int>(header.integer("Godina").value_or(0));
    const auto broj = header.integer("Broj").value_or(0);
    const std::vector<Record> lines = ctx.db.StavkeRac(godina, kRacun, broj);

    HandOffSource src;
    src.header = &header;
    src.lines = &lines;
    for (const auto& t : ctx.db.Tarifa()) src.fiskTax[t.text("SIFRA")] = t.text("FiskTax");
    for (const auto& p : ctx.db.NacPl())
        if (p.text("Sifra") == header.text("NacinPL")) src.fiskPayType = p.integer("FiskPayType").value_or(0);
    src.invoiceType = invoiceType;
    src.workDate = workDate;
    src.now = now;
    // A request id stands for one sale: the invoice's own ID is its normal
    // signature's. A copy, proforma, training or check invoice is a request
    // of its own each time.
    src.requestId = invoiceType == 0 ? header.text("ID") : platform::NewGuid();
    FillInvoiceModel(ctx.model, src);

    // An earlier attempt whose outcome was never stored (Kovira stopped, the
    // answer lost) is in the ledger: ask the device before signing again.
    auto start = device::Fiscalizer::Start::Normal;
    if (invoiceType == 0 && ctx.askDeviceFirst) start = device::Fiscalizer::Start::AskDeviceFirst;
    if (invoiceType == 0 && ctx.ledger && ctx.ledger->find(device::DeviceClient::ReqID(src.requestId)))
        start = device::Fiscalizer::Start::AskDeviceFirst;
    {
        FromRegister mark(ctx.fiskIzKase);
        const auto outcome = ctx.fisk.Fiscalize(start);
        if (!outcome.started()) return device::msg::kStateUnknown;
        if (!outcome.done()) return outcome.text;
    }
    if (invoiceType != 0) return {};

    Record h = header;
    const MemTable& inv = ctx.model.Invoice;
    h.set("PFRBROJ", inv.field("PFRnumber").asString());
    h.set("PFRTIME", inv.field("PFRvrijeme").asString());
    h.set("Cashier", ctx.cashier);
    std::tm tm{};
    localtime_r(&now, &tm);
    h.set("SysTime", DateTime::fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec));
    ctx.db.Save(h);
    return {};
}

}  // namespace kv::reg
