#pragma once
// The fiscalisation run behind "Fiskalizuj": wake the device, read its
// status, unlock it with the PIN when asked, send the invoice (or ask for the
// last invoice, or for an invoice by its request id), judge the answer, keep
// what the device returned, then hand over to the result step and printing.
// It returns a FiscalOutcome whose text, kept as FiskGreska too, is empty on
// success and else the reason.
#include <functional>
#include <optional>
#include <string>

#include "device/DeviceAnswer.h"
#include "device/InvoiceModel.h"
#include "device/JsonFlatten.h"
#include "device/RequestLedger.h"
#include "device/RunSettings.h"

namespace kv::device {

class DeviceClient;
class InvoiceModel;

namespace msg {
inline constexpr const char* kNoAttention = "Uredjaj se ne odaziva!";
inline constexpr const char* kNoStatus = "Ne mogu pročitati status uredjaja!";
inline constexpr const char* kPinNotSent = "Ne mogu poslati PIN!";
inline constexpr const char* kPinNotAccepted = "PIN nije prihvaćen!";
inline constexpr const char* kPinWrong = "PIN nije korektan!";
inline constexpr const char* kLastUnknown = "Zadnji račun nepoznat!";
inline constexpr const char* kNotFiscalised = "Račun nije fiskalizovan";
inline constexpr const char* kInvoiceError = "Greška u računu!";
inline constexpr const char* kFiscalError = "Desila se greška u fiskalizaciji!";
inline constexpr const char* kNotSuccessful = "Fiskalizacija nije uspješna!";
// Refused before anything is sent.
inline constexpr const char* kBadRequestId = "RequestId nije ispravan!";
inline constexpr const char* kRequestIdReused = "RequestId je već iskorišten za drugi račun!";
// The invoice may have reached the device and the device could not say
// whether it signed it: nothing is answered yet, it is asked again later.
inline constexpr const char* kStateUnknown = "Uređaj nije potvrdio da li je račun fiskalizovan!";
}  // namespace msg


// How one run ended. `text` is the run's message, the same as FiskGreska:
// empty when the device signed the invoice (or answered the request for the
// last invoice or a copy).
struct FiscalOutcome {
    enum class Kind {
        NotStarted,  // a run was already under way
        Done,
        Failed,   // refused or failed; `text` says why
        Pending,  // the invoice may have reached the device, which could not say whether it signed it
    };
    Kind kind = Kind::NotStarted;
    std::string text;

    bool started() const { return kind != Kind::NotStarted; }
    bool done() const { return kind == Kind::Done; }
};

class Fiscalizer {
public:
    // `ledger` may be null: runs then rely on the device's answers alone.
    Fiscalizer(DeviceClient& client, InvoiceModel& model, std::function<RunSettings()> settings,
               RequestLedger* ledger = nullptr);

    enum class Start {
        Normal,
        // For an invoice that may have been sent before (a file found at
        // start-up, an answer that never came): the device is asked for the
        // request id first, and an invoice it signed already is kept from that
        // answer without a second signature and without printing again.
        AskDeviceFirst,
    };

    // One fiscalisation of the invoice in the model. Does nothing and says
    // NotStarted when a run is already under way (a tick or click that
    // arrives while a message box of the running one is open): nothing is
    // started twice. Errors raised while the answer is stored propagate
    // after the run has been closed.
    //
    // A request id stands for one sale: an id that cannot be sent, or that
    // was used for another sale, fails before anything is sent; the same
    // sale again is answered from the ledger. When the invoice may have
    // reached the device and the device cannot say whether it signed it,
    // the run ends pending(): no result step, nothing stored.
    FiscalOutcome Fiscalize(Start start = Start::Normal);
    bool busy() const { return busy_; }
    // The last run could not learn the device's state (FiskGreska says so).
    bool pending() const { return pending_; }
    // Why the request id was refused (kBadRequestId), for the log.
    const std::string& requestIdProblem() const { return requestIdProblem_; }

    std::string FiskGreska;
    // The device's last answer of any kind (status, PIN, invoice), flattened.
    FlatJson OdgovorLista;
    // What the device returned for the invoice of this run, for the window,
    // the result file and printing. Emptied when a run starts; filled when
    // a signed answer is stored (from the ledger: number, time and URL only).
    const DeviceAnswer& answer() const { return answer_; }

    // "Data" on the print tools page (and F2 in the JSON log): reads a saved
    // answer as after a fiscalisation (under "invoiceResponse" when the
    // invoice type is 8).
    void LoadAnswer(const std::string& answerJson);

    // A PIN the device has refused is not sent again on its own: real
    // security cards lock after a few wrong tries. Sending "pin" from the
    // console or changing the PIN setting clears this.
    void ForgetRefusedPin() { refusedPin_.reset(); }
    bool pinRefused() const { return refusedPin_.has_value(); }

    // Hooks of the later steps; each may stay empty.
    std::function<void(bool busy)> onBusy;              // hour-glass cursor
    std::function<void()> onAnswerStored;               // QR code and receipt picture
    std::function<void()> onResultStep;                 // result file, input file retired (always runs)
    std::function<void(int64_t renderPrint)> onPrint;   // receipt printing after success on POS or A4
    // Told when a run found the invoice already signed after the request got
    // no answer (so it was not signed a second time).
    std::function<void()> onRecovered;

private:
    class Busy;
    enum class Verdict { Signed, Unknown, Unclear, OtherSale };
    void run(const RunSettings& s, Start start);
    bool pinStep(const RunSettings& s);
    // Sends the invoice and judges the answer; asks the device when the answer is not clear.
    void sendInvoice(const RunSettings& s, const std::string& requestId, const std::string& digest, bool weSentBefore);
    Verdict askDevice(const std::string& requestId, const std::string& digest, bool weSentIt);
    bool answerIsThisSale(bool weSentIt);
    bool isSuccess(const RunSettings& s, const std::string& messages) const;
    void storeAnswer(const std::string& prefix, InvoiceType type);
    void keepSigned(const std::string& reqId, const std::string& digest);
    void keepRefused(const std::string& reqId, const std::string& digest);
    void flatten();

    DeviceClient& client_;
    InvoiceModel& model_;
    std::function<RunSettings()> settings_;
    RequestLedger* ledger_;
    bool busy_ = false;
    bool pending_ = false;
    bool printAfter_ = true;
    std::string requestIdProblem_;
    std::optional<std::string> refusedPin_;
    DeviceAnswer answer_;
};

}  // namespace kv::device
