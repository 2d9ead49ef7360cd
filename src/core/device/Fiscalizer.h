#pragma once
// The fiscalisation run behind "Fiskalizuj": wake the device, read its
// status, unlock it with the PIN when asked, send the invoice (or ask for the
// last invoice, or for an invoice by its request id), judge the answer, keep
// what the device returned, then hand over to the result step and printing.
// Its one result is FiskGreska: empty on success, else the reason.
#include <functional>
#include <optional>
#include <string>

#include "device/JsonFlatten.h"

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
}  // namespace msg

// What a run reads from the settings and the test check boxes.
struct RunSettings {
    std::string pin;
    bool testMode = false;     // "Test sa PURS LPFR"
    bool latinLabels = false;  // either test check box
    int64_t printUredjaj = 0;
    int64_t renderPrint = 1;
    int64_t pos5880 = 0;
    int64_t oldNacPl = 0;
    int64_t printGtin = 0;
};

class Fiscalizer {
public:
    Fiscalizer(DeviceClient& client, InvoiceModel& model, std::function<RunSettings()> settings);

    // One run. Returns false without doing anything when a run is already
    // under way (a tick or click that arrives while a message box of the
    // running one is open): nothing is started twice. Errors raised while
    // the answer is stored propagate after the run has been closed.
    bool BtFiskalizujClick();
    bool busy() const { return busy_; }

    // For an invoice that may have been sent before Kovira stopped: asks the
    // device for its request id and, when the device knows it as signed,
    // keeps that answer and runs the result step exactly as a run would
    // (nothing is printed again). Returns false, with nothing changed, when
    // the device does not know it; the caller then fiscalises it normally.
    bool AdoptIfSigned();

    std::string FiskGreska;
    FlatJson OdgovorLista;
    // Kept from the last successful answer for printing.
    std::string MemoJournal, MemoURL, MemoPng;

    // "Data" on the print tools page (and F2 in the JSON log): reads a saved
    // answer into the journal, address and image as after a fiscalisation
    // (under "invoiceResponse" when the invoice type is 8).
    void LoadCarriers(const std::string& answerJson);

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
    void run(const RunSettings& s);
    bool pinStep(const RunSettings& s);
    void storeAnswer(const std::string& prefix, int64_t type);
    void flatten();

    DeviceClient& client_;
    InvoiceModel& model_;
    std::function<RunSettings()> settings_;
    bool busy_ = false;
    std::optional<std::string> refusedPin_;
};

// The first `n` characters of UTF-8 text.
std::string FirstChars(const std::string& text, size_t n);

}  // namespace kv::device
