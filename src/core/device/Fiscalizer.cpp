#include "device/Fiscalizer.h"

#include "device/DeviceClient.h"
#include "device/InvoiceModel.h"
#include "device/InvoiceRequest.h"

namespace kv::device {

std::string FirstChars(const std::string& text, size_t n) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (count == n) return text.substr(0, i);
            ++count;
        }
    }
    return text;
}

// One run at a time, with the hour-glass shown while it lasts.
class Fiscalizer::Busy {
public:
    explicit Busy(Fiscalizer& f) : f_(f) {
        f_.busy_ = true;
        if (f_.onBusy) f_.onBusy(true);
    }
    ~Busy() {
        f_.busy_ = false;
        if (f_.onBusy) f_.onBusy(false);
    }

private:
    Fiscalizer& f_;
};

Fiscalizer::Fiscalizer(DeviceClient& client, InvoiceModel& model, std::function<RunSettings()> settings)
    : client_(client), model_(model), settings_(std::move(settings)) {}

bool Fiscalizer::BtFiskalizujClick() {
    if (busy_) return false;
    Busy busy(*this);
    RunSettings s = settings_();
    if (refusedPin_ && *refusedPin_ != s.pin) refusedPin_.reset();  // a new PIN may be tried
    run(s);
    return true;
}

bool Fiscalizer::AdoptIfSigned() {
    if (busy_) return false;
    const MemTable& inv = model_.Invoice;
    if (inv.isEmpty() && !inv.isEditing()) return false;
    std::string requestId = inv.field("RequestId").asString();
    if (requestId.empty()) return false;
    Busy busy(*this);
    if (!client_.CmdReprint(requestId) || client_.log().statusCode != 200) return false;
    flatten();
    std::string head = FirstChars(OdgovorLista.value("messages"), 3);
    if (head != "Усп" && head != "Suc") return false;
    FiskGreska.clear();
    storeAnswer("", 0);
    if (onRecovered) onRecovered();
    if (onResultStep) onResultStep();
    return true;
}

void Fiscalizer::flatten() {
    OdgovorLista.clear();
    OpenJSONFile(client_.log().jsonIndented, "", OdgovorLista);
}

bool Fiscalizer::pinStep(const RunSettings& s) {
    flatten();
    if (OdgovorLista.value("isPinRequired") != "true") return true;
    if (refusedPin_) {
        FiskGreska = msg::kPinWrong;
        return false;
    }
    if (!client_.CmdSendPin()) FiskGreska = msg::kPinNotSent;
    bool answered = client_.lastError().empty();
    if (client_.log().statusCode != 200) FiskGreska = msg::kPinNotAccepted;
    if (!DeviceClient::PinAccepted(client_.log().rawText)) {
        FiskGreska = msg::kPinWrong;
        if (answered) refusedPin_ = s.pin;
    }
    return FiskGreska.empty();
}

void Fiscalizer::run(const RunSettings& s) {
    FiskGreska.clear();
    // Lines still being typed belong to the invoice that is sent.
    if (model_.Items.isEditing()) model_.Items.post();
    if (model_.Payment.isEditing()) model_.Payment.post();
    const MemTable& inv = model_.Invoice;
    bool hasRow = !inv.isEmpty() || inv.isEditing();
    int64_t type = hasRow ? inv.field("invoiceType").asInteger() : 0;
    std::string requestId = hasRow ? inv.field("RequestId").asString() : std::string();

    if (!client_.CmdAttention()) FiskGreska = msg::kNoAttention;
    if (FiskGreska.empty() && !client_.CmdStatus()) FiskGreska = msg::kNoStatus;
    if (FiskGreska.empty()) pinStep(s);
    if (FiskGreska.empty()) {
        if (type == 8) {
            if (!client_.CmdLast()) FiskGreska = msg::kLastUnknown;
        } else if (type == 9) {
            if (!client_.CmdReprint(requestId)) FiskGreska = msg::kNotFiscalised;
        } else {
            RequestOptions o{s.testMode, s.latinLabels, s.printUredjaj, s.renderPrint, s.pos5880, s.oldNacPl, s.printGtin};
            if (!client_.CmdInvoice(requestId, BuildInvoiceRequest(model_, o))) {
                bool answered = client_.lastError().empty();
                if (answered) {
                    FiskGreska = client_.log().statusCode != 200 ? msg::kFiscalError : msg::kInvoiceError;
                } else if (client_.CmdReprint(requestId) && client_.log().statusCode == 200) {
                    // The request got no answer, but the device had signed it:
                    // go on with its answer rather than sign it twice.
                    if (onRecovered) onRecovered();
                } else {
                    FiskGreska = msg::kInvoiceError;
                }
            }
        }
    }
    std::string prefix = type == 8 ? "invoiceResponse." : "";
    if (FiskGreska.empty()) {
        flatten();
        std::string messages = OdgovorLista.value(prefix + "messages");
        std::string head = FirstChars(messages, 3);
        bool success = s.testMode ? head == "Suc" : (head == "Усп" || head == "Suc");
        if (!success) FiskGreska = type == 8 ? std::string(msg::kNotSuccessful) + "\r" + messages : msg::kNotSuccessful;
    }
    if (FiskGreska.empty()) storeAnswer(prefix, type);
    if (onResultStep) onResultStep();
    if (FiskGreska.empty() && (s.printUredjaj == 2 || s.printUredjaj == 3) && onPrint) onPrint(s.renderPrint);
}

void Fiscalizer::storeAnswer(const std::string& prefix, int64_t type) {
    MemTable& inv = model_.Invoice;
    if (!inv.isEditing()) inv.edit();
    inv.field("PFRnumber").setValue(Value(OdgovorLista.value(prefix + "invoiceNumber")));
    inv.field("PFRvrijeme").setValue(Value(OdgovorLista.value(prefix + "sdcDateTime")));
    inv.post();

    ResponseTable& answer = client_.response();
    std::string top = type == 8 ? "invoiceResponse" : "";
    answer.setRootElement(prefix + "taxItems");
    try {
        model_.FillTaxItems(answer.table());
    } catch (...) {
        answer.setRootElement(top);
        throw;
    }
    answer.setRootElement(top);

    flatten();
    MemoJournal = OdgovorLista.value(prefix + "journal");
    MemoURL = OdgovorLista.value(prefix + "verificationUrl");
    MemoPng = OdgovorLista.value(type == 8 ? "receiptImageBase64" : "invoiceImagePngBase64");
    if (onAnswerStored) onAnswerStored();
}

void Fiscalizer::LoadCarriers(const std::string& answerJson) {
    OdgovorLista.clear();
    OpenJSONFile(answerJson, "", OdgovorLista);
    // A last-invoice answer keeps its members under "invoiceResponse".
    const MemTable& inv = model_.Invoice;
    bool last = (!inv.isEmpty() || inv.isEditing()) && inv.field("invoiceType").asInteger() == 8;
    std::string prefix = last ? "invoiceResponse." : "";
    MemoJournal = OdgovorLista.value(prefix + "journal");
    MemoURL = OdgovorLista.value(prefix + "verificationUrl");
    MemoPng = OdgovorLista.value(last ? "receiptImageBase64" : "invoiceImagePngBase64");
    if (onAnswerStored) onAnswerStored();
}

}  // namespace kv::device
