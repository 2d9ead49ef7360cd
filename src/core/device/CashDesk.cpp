#include "device/CashDesk.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "device/DeviceClient.h"
#include "device/DeviceWords.h"
#include "register/uDMGlavni.h"
#include "util/Prompter.h"

namespace kv::device {

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Every value a JSON string, members in the order given.
std::string JsonBody(const Pairs& members) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.StartObject();
    for (const auto& [k, v] : members) {
        w.Key(k.c_str(), static_cast<rapidjson::SizeType>(k.size()));
        w.String(v.c_str(), static_cast<rapidjson::SizeType>(v.size()));
    }
    w.EndObject();
    return std::string(sb.GetString(), sb.GetSize());
}

void AddRange(Pairs& p, const CashDeskForm& f) {
    if (f.odZadnjegPresjeka) return;
    p.emplace_back("fromDate", f.odDatuma.toIsoDate());
    p.emplace_back("toDate", f.doDatuma.toIsoDate());
}

CashRequest Post(std::string path, const Pairs& body, int success) {
    CashRequest r;
    r.method = "POST";
    r.path = std::move(path);
    r.body = JsonBody(body);
    r.shownBody = r.body;
    r.successStatus = success;
    return r;
}

const char* DetailPath(DetailTab tab) {
    switch (tab) {
        case DetailTab::Tax: return "/api/financial/report/summaryByTax";
        case DetailTab::Cashier: return "/api/financial/report/summaryByCashiers";
        case DetailTab::Payment: return "/api/financial/report/summaryByPaymentTypes";
        case DetailTab::Article: return "/api/financial/report/summaryByArticles";
        case DetailTab::Advance: return "/api/financial/report/advance-receipts";
    }
    return "";
}

const char* DetailArray(DetailTab tab) {
    switch (tab) {
        case DetailTab::Tax: return "totalByTax";
        case DetailTab::Cashier: return "totalByCashier";
        case DetailTab::Payment: return "totalByPaymentType";
        case DetailTab::Article: return "totalByArticle";
        case DetailTab::Advance: return "totalByArticleAdvance";
    }
    return "";
}

constexpr DetailTab kTabs[] = {DetailTab::Tax, DetailTab::Cashier, DetailTab::Payment, DetailTab::Article,
                               DetailTab::Advance};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string TrimBlanks(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return std::string(s.substr(b, e - b));
}

// A type field as the code Rekapitulacija counts: digits as they are (within
// the known codes), words by name.
std::optional<std::string> TypeCode(const std::string& field, const std::vector<const char*>& words) {
    if (field.empty()) return std::nullopt;
    if (std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::size_t n = 0;
        while (n + 1 < field.size() && field[n] == '0') ++n;  // "00" is 0
        std::string digits = field.substr(n);
        if (digits.size() == 1 && static_cast<std::size_t>(digits[0] - '0') < words.size()) return digits;
        return std::nullopt;
    }
    const std::string w = Lower(field);
    for (std::size_t i = 0; i < words.size(); ++i)
        if (w == Lower(words[i])) return std::to_string(i);
    return std::nullopt;
}

const std::vector<const char*> kInvoiceTypes{"Normal", "Proforma", "Copy", "Training", "Advance"};
const std::vector<const char*> kTransactionTypes{"Sale", "Refund"};

// Characters 1-4, 6-7, 9-10, 12-13, 15-16, 18-19 of the date-time (counting
// from 1) as numbers; nullopt when one of those positions is not a digit.
std::optional<DateTimeParts> DateNumbers(const std::string& t) {
    auto num = [&](std::size_t from, std::size_t len) -> std::optional<int> {
        if (t.size() < from + len) return std::nullopt;
        int v = 0;
        for (std::size_t i = from; i < from + len; ++i) {
            if (t[i] < '0' || t[i] > '9') return std::nullopt;
            v = v * 10 + (t[i] - '0');
        }
        return v;
    };
    auto y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), s = num(17, 2);
    if (!y || !mo || !d || !h || !mi || !s) return std::nullopt;
    DateTimeParts p;
    p.year = *y;
    p.month = *mo;
    p.day = *d;
    p.hour = *h;
    p.minute = *mi;
    p.second = *s;
    return p;
}

}  // namespace

const char* DetailTabCaption(DetailTab tab) {
    switch (tab) {
        case DetailTab::Tax: return "Tax";
        case DetailTab::Cashier: return "Cashier";
        case DetailTab::Payment: return "Payment";
        case DetailTab::Article: return "Article";
        case DetailTab::Advance: return "Advance";
    }
    return "";
}

std::string AmountText(const std::optional<Currency>& depozit) {
    if (!depozit) return {};
    // Two decimals always, halves away from zero, never through a double.
    const Currency v = RoundCurr(-2, *depozit);
    std::int64_t cents = v.raw() / 100;
    const bool negative = cents < 0;
    std::uint64_t abs = negative ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
    std::string frac = std::to_string(abs % 100);
    if (frac.size() < 2) frac.insert(0, "0");
    return (negative ? "-" : "") + std::to_string(abs / 100) + "." + frac;
}

CashRequest DepositRequest(const CashDeskForm& f) {
    return Post("/api/financial/deposit", {{"amount", AmountText(f.depozit)}}, 204);
}

CashRequest WithdrawRequest(const CashDeskForm& f) {
    return Post("/api/financial/withdraw", {{"amount", AmountText(f.depozit)}}, 204);
}

CashRequest SummaryRequest(const CashDeskForm& f) {
    Pairs shown{{"print", "false"}};
    AddRange(shown, f);
    CashRequest r;
    r.method = "GET";
    r.path = "/api/financial/summary";
    // A GET carries no body: the range travels as query parameters, which
    // the device reads as it reads them on its other list requests.
    if (!f.odZadnjegPresjeka)
        r.path += "?fromDate=" + f.odDatuma.toIsoDate() + "&toDate=" + f.doDatuma.toIsoDate();
    r.shownBody = JsonBody(shown);
    r.successStatus = 200;
    r.requestSet = 2;
    return r;
}

CashRequest ZeroRequest() {
    CashRequest r;
    r.method = "DELETE";
    r.path = "/api/financial/summary";
    r.successStatus = 200;
    return r;
}

CashRequest PrintSummaryRequest(const CashDeskForm& f) {
    Pairs p{{"print", "true"}};
    AddRange(p, f);
    return Post("/api/financial/report/summary", p, 200);
}

CashRequest PrintDetailRequest(const CashDeskForm& f, DetailTab tab) {
    Pairs p{{"print", "true"}};
    AddRange(p, f);
    if (tab == DetailTab::Advance) p.emplace_back("status", "Open");
    return Post(DetailPath(tab), p, 200);
}

CashRequest SearchRequest(const CashDeskForm& f) {
    return Post("/api/invoices/search", {{"fromDate", f.odDatuma.toIsoDate()}, {"toDate", f.doDatuma.toIsoDate()}},
                200);
}

InvoiceList ParseInvoiceList(std::string_view answer, char decimalSep) {
    std::string text(answer);
    // Some devices send the list as one JSON string.
    {
        std::size_t b = 0;
        while (b < text.size() && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
        if (b < text.size() && text[b] == '"') {
            rapidjson::Document doc;
            doc.Parse(text.c_str(), text.size());
            if (!doc.HasParseError() && doc.IsString()) text.assign(doc.GetString(), doc.GetStringLength());
        }
    }
    InvoiceList out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string line = TrimBlanks(std::string_view(text).substr(pos, nl - pos));
        pos = nl + 1;
        if (line.empty()) continue;

        std::vector<std::string> f;
        std::size_t start = 0;
        for (;;) {
            std::size_t comma = line.find(',', start);
            f.push_back(TrimBlanks(std::string_view(line).substr(start, comma == std::string::npos ? std::string::npos
                                                                                                   : comma - start)));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        auto invoiceType = f.size() == 5 ? TypeCode(f[1], kInvoiceTypes) : std::nullopt;
        auto transactionType = f.size() == 5 ? TypeCode(f[2], kTransactionTypes) : std::nullopt;
        auto numbers = f.size() == 5 ? DateNumbers(f[3]) : std::nullopt;
        auto amount = f.size() == 5 ? ParseCurrencyWithRetry(f[4], decimalSep) : std::nullopt;
        if (!amount && f.size() == 5 && decimalSep != ',') {
            std::string comma = f[4];
            std::replace(comma.begin(), comma.end(), '.', ',');
            amount = ParseCurrency(comma, ',');
        }
        if (!invoiceType || !transactionType || !numbers || !amount) {
            ++out.skipped;
            continue;
        }
        InvoiceListRow row;
        row.broj = f[0];
        row.tipTrans = *invoiceType;
        row.tipRacuna = *transactionType;
        row.vrijeme = f[3];
        try {
            row.datum = DateTime::fromParts(numbers->year, numbers->month, numbers->day, numbers->hour,
                                            numbers->minute, numbers->second)
                            .date();
        } catch (const std::exception&) {
            // Digits that form no date: the row is kept without one.
        }
        row.iznos = *amount;
        out.rows.push_back(std::move(row));
    }
    return out;
}

std::string CashOutcome::message() const {
    std::string text = ok ? cashmsg::kOk : cashmsg::kError;
    if (!deviceWords.empty()) return WithDeviceWords(text, deviceWords);
    if (sent && !answered && !error.empty()) return WithDeviceWords(text, error);
    return text;
}

MemTable& SummaryGrids::detail(DetailTab tab) {
    switch (tab) {
        case DetailTab::Tax: return byTax;
        case DetailTab::Cashier: return byCashier;
        case DetailTab::Payment: return byPaymentType;
        case DetailTab::Article: return byArticle;
        case DetailTab::Advance: return byArticleAdvance;
    }
    return byTax;
}

namespace {
void CopyTableExcept(const MemTable& src, MemTable& dst, const std::set<std::string>& skip) {
    if (dst.active()) dst.close();
    dst.clearFields();
    if (!src.active()) return;
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < src.fieldDefs().size(); ++i) {
        const FieldDef& d = src.fieldDefs()[i];
        if (skip.count(d.name)) continue;
        FieldDef copy = d;
        copy.kind = FieldKind::Data;  // the copy holds values only
        dst.addField(copy);
        kept.push_back(i);
    }
    dst.open();
    for (std::size_t r = 0; r < src.recordCount(); ++r) {
        dst.append();
        for (std::size_t k = 0; k < kept.size(); ++k) dst.field(k).setValue(src.valueAt(r, kept[k]));
        dst.post();
    }
    if (!dst.isEmpty()) dst.first();
}
}  // namespace

void CopyTable(const MemTable& src, MemTable& dst) { CopyTableExcept(src, dst, {}); }

CashDesk::CashDesk(DeviceClient& set1, DeviceClient& set2) : set1_(set1), set2_(set2) {}

CashOutcome CashDesk::send(DeviceClient& client, const CashRequest& r) {
    client.ShowRequestBody(r.shownBody);
    const DeviceClient::Outcome o =
        client.Execute(r.method, r.path, r.body, r.body.empty() ? std::string() : "application/json");
    CashOutcome out;
    out.sent = true;
    out.answered = o.executed;
    out.status = o.status;
    out.error = o.error;
    out.ok = o.executed && o.status == r.successStatus;
    if (o.executed && !out.ok) out.deviceWords = DeviceRefusal(o.status, client.log().rawText);
    return out;
}

CashOutcome CashDesk::Deposit(const CashDeskForm& f) { return send(set1_, DepositRequest(f)); }

CashOutcome CashDesk::Withdraw(const CashDeskForm& f) { return send(set1_, WithdrawRequest(f)); }

CashOutcome CashDesk::Summary(const CashDeskForm& f, SummaryGrids& grids) {
    CashOutcome out = send(set2_, SummaryRequest(f));
    if (!out.ok) return out;
    ResponseTable& answer = set2_.response();
    for (DetailTab tab : kTabs) {
        answer.setRootElement(DetailArray(tab));
        CopyTable(answer.table(), grids.detail(tab));
    }
    // The top level: its plain values (the arrays have their own grids).
    std::set<std::string> nested;
    rapidjson::Document doc;
    const std::string& raw = set2_.log().rawText;
    doc.Parse(raw.c_str(), raw.size());
    if (!doc.HasParseError() && doc.IsObject())
        for (const auto& m : doc.GetObject())
            if (m.value.IsArray() || m.value.IsObject()) nested.insert(m.name.GetString());
    answer.setRootElement("");
    CopyTableExcept(answer.table(), grids.summary, nested);
    return out;
}

CashOutcome CashDesk::Zero(Prompter& prompter) {
    if (!prompter.confirm(cashmsg::kZeroQuestion, MsgKind::Warning)) return {};
    return send(set1_, ZeroRequest());
}

CashOutcome CashDesk::PrintSummary(const CashDeskForm& f) { return send(set1_, PrintSummaryRequest(f)); }

CashOutcome CashDesk::PrintDetail(const CashDeskForm& f, DetailTab tab) {
    return send(set1_, PrintDetailRequest(f, tab));
}

SearchOutcome CashDesk::Search(const CashDeskForm& f, reg::TDMGlavni& db, char decimalSep) {
    SearchOutcome out;
    static_cast<CashOutcome&>(out) = send(set1_, SearchRequest(f));
    out.ok = out.answered && out.status >= 200 && out.status < 300;
    if (out.ok) out.deviceWords.clear();
    if (!out.answered) return out;  // nothing new to read: the list stays as it was
    InvoiceList list = ParseInvoiceList(set1_.log().rawText, decimalSep);
    const reg::Table& podaci = reg::TableDef("Podaci");
    std::vector<reg::Record> rows;
    rows.reserve(list.rows.size());
    for (const InvoiceListRow& r : list.rows) {
        reg::Record rec(podaci);
        rec.set("Broj", r.broj.c_str());
        rec.set("TipTrans", r.tipTrans.c_str());
        rec.set("TipRacuna", r.tipRacuna.c_str());
        rec.set("Vrijeme", r.vrijeme.c_str());
        if (r.datum) rec.set("Datum", Value(*r.datum));
        rec.set("IZNOS", Value(r.iznos));
        rows.push_back(std::move(rec));
    }
    db.FillPodaci(rows);
    out.rows = static_cast<int>(list.rows.size());
    out.skipped = list.skipped;
    out.recap = db.Rekapitulacija();
    return out;
}

}  // namespace kv::device
