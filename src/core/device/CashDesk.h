#pragma once
// The device's cash desk and its reports: deposit and withdrawal, the cash
// state with its turnover grids, zeroing, the summary and detail prints, and
// the device's invoice list of a period with its daily recapitulation.
// Every operation is one request through a DeviceClient; its verdict is the
// text "Ok" or "Error".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "register/uDMGlavni.h"
#include "util/Currency.h"
#include "util/DateTime.h"
#include "util/MemTable.h"

namespace kv {
class Prompter;
}

namespace kv::device {

class DeviceClient;

namespace cashmsg {
inline constexpr const char* kOk = "Ok";
inline constexpr const char* kError = "Error";
inline constexpr const char* kZeroQuestion = "Nulirati promet?";
}  // namespace cashmsg

// The record behind both tabs (cdsReport) and the check box "Od zadnjeg presjeka".
struct CashDeskForm {
    DateTime odDatuma;                 // "Od datuma"
    DateTime doDatuma;                 // "Do datuma"
    std::optional<Currency> depozit;   // "Iznos za depozit"; empty sends an empty amount
    bool odZadnjegPresjeka = false;    // since the last cut: no date range
};

// The tabs of the detail grids, in their order on the page.
enum class DetailTab { Tax, Cashier, Payment, Article, Advance };
const char* DetailTabCaption(DetailTab tab);  // "Tax", "Cashier", ...

// One request as it goes out.
struct CashRequest {
    std::string method;     // GET, POST, DELETE
    std::string path;       // after BaseURL + ":" + Port, query included
    std::string body;       // JSON sent; empty for none
    std::string shownBody;  // what the request box shows (indented there)
    int successStatus = 200;
    int requestSet = 1;     // 1 or 2
};

// `Depozit` as the field shows it ("########0.00") with "." as separator:
// 150 -> "150.00"; empty for none.
std::string AmountText(const std::optional<Currency>& depozit);

// The requests, exactly as the device gets them.
CashRequest DepositRequest(const CashDeskForm& f);
CashRequest WithdrawRequest(const CashDeskForm& f);
// GET with the range (when wanted) as query parameters; the request box
// shows the parameter object with "print" "false".
CashRequest SummaryRequest(const CashDeskForm& f);
CashRequest ZeroRequest();
CashRequest PrintSummaryRequest(const CashDeskForm& f);
CashRequest PrintDetailRequest(const CashDeskForm& f, DetailTab tab);
CashRequest SearchRequest(const CashDeskForm& f);

// ---- The invoice list of a period.

struct InvoiceListRow {
    std::string broj;       // the device's invoice number
    std::string tipTrans;   // invoice type code: "0" normal .. "4" advance
    std::string tipRacuna;  // transaction type code: "0" sale, "1" refund
    std::string vrijeme;    // date and time as received
    std::optional<DateTime> datum;  // its calendar date, when the numbers form one
    Currency iznos;
};

struct InvoiceList {
    std::vector<InvoiceListRow> rows;
    int skipped = 0;  // non-empty lines that could not be read
};

// Lines of five comma-separated fields: number, invoice type, transaction
// type, date and time, amount. The answer may be the list itself or a JSON
// string holding it. Type fields are digit codes or words (Normal, Proforma,
// Copy, Training, Advance; Sale, Refund; any letter case). A line with
// another number of fields, a type that is neither, a date whose number
// positions are not digits or an amount unreadable with `decimalSep` (and
// with "." taken for it) is skipped and counted; empty lines are ignored.
InvoiceList ParseInvoiceList(std::string_view answer, char decimalSep);

// ---- Operations.

struct CashOutcome {
    bool sent = false;       // the request went out (not: cancelled by the operator)
    bool answered = false;   // an HTTP answer arrived
    int status = 0;
    bool ok = false;
    std::string deviceWords;  // the device's reason when it refused
    std::string error;        // transport error when not answered
    // "Ok" or "Error", then the device's reason (or the transport's) on a new line.
    std::string message() const;
};

// The summary's top level and its five arrays as grids (cdsPresjekStanja,
// totalByTax, ...). Kept as they were when a request fails.
struct SummaryGrids {
    MemTable summary;
    MemTable byTax, byCashier, byPaymentType, byArticle, byArticleAdvance;
    MemTable& detail(DetailTab tab);
};

struct SearchOutcome : CashOutcome {
    int rows = 0;      // rows stored in Podaci
    int skipped = 0;   // lines that could not be read
    std::vector<reg::RekapitulacijaRow> recap;
};

class CashDesk {
public:
    // Request set 1 does everything but the cash state, which goes through set 2.
    CashDesk(DeviceClient& set1, DeviceClient& set2);

    CashOutcome Deposit(const CashDeskForm& f);   // "Ulaz depozita"
    CashOutcome Withdraw(const CashDeskForm& f);  // "Izlaz depozita"
    // "Stanje blagajne": on "Ok" the grids are reloaded from the answer.
    CashOutcome Summary(const CashDeskForm& f, SummaryGrids& grids);
    // "Nuliranje": asks kZeroQuestion; anything but Yes sends nothing.
    CashOutcome Zero(Prompter& prompter);
    CashOutcome PrintSummary(const CashDeskForm& f);                // "Print presjeka"
    CashOutcome PrintDetail(const CashDeskForm& f, DetailTab tab);  // "Print detalja"
    // "Obradi": asks for the list, replaces Podaci with the rows read (any
    // answer; a request that got none changes nothing) and reads the
    // recapitulation. "Ok" for a 2xx answer.
    SearchOutcome Search(const CashDeskForm& f, reg::TDMGlavni& db, char decimalSep);

private:
    CashOutcome send(DeviceClient& client, const CashRequest& r);
    DeviceClient& set1_;
    DeviceClient& set2_;
};

// Copies field layout and rows (an empty, closed source leaves `dst` closed).
void CopyTable(const MemTable& src, MemTable& dst);

}  // namespace kv::device
