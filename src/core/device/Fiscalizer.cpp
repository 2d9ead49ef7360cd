#include "device/Fiscalizer.h"

#include "device/DeviceClient.h"
#include "device/InvoiceModel.h"
#include "device/InvoiceRequest.h"
#include "platform/Platform.h"
#include "util/SafeText.h"

namespace kv::device {

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

Fiscalizer::Fiscalizer(DeviceClient& client, InvoiceModel& model, std::function<RunSettings()> settings,
                       RequestLedger* ledger)
    : client_(client), model_(model), settings_(std::move(settings)), ledger_(ledger) {}

FiscalOutcome Fiscalizer::Fiscalize(Start start) {
    if (busy_) return {};
    Busy busy(*this);
    RunSettings s = settings_();
    if (refusedPin_ && *refusedPin_ != s.pin) refusedPin_.reset();  // a new PIN may be tried
    run(s, start);
    using Kind = FiscalOutcome::Kind;
    return {pending_ ? Kind::Pending : FiskGreska.empty() ? Kind::Done : Kind::Failed, FiskGreska};
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

bool Fiscalizer::isSuccess(const RunSettings& s, const std::string& messages) const {
    std::string head = FirstChars(messages, 3);
    // Devices and test services in the field also answer in Latin script ("Uspješno", "Uspešno").
    return s.testMode ? head == "Suc" : (head == "Усп" || head == "Usp" || head == "Suc");
}

// The device's answer (flattened) belongs to the sale in the model: its total
// equals the items' total, or, when the device sent no total, Kovira itself
// sent this sale under this id.
bool Fiscalizer::answerIsThisSale(bool weSentIt) {
    std::string total = OdgovorLista.value("totalAmount");
    if (total.empty()) return weSentIt;
    auto theirs = TaxAmountValue(total, platform::DecimalSeparator());
    Currency ours = RoundCurr(-2, model_.ItemsTotal().value_or(Currency()));
    if (!theirs) return false;
    Currency t = RoundCurr(-2, *theirs);
    // Refunds may be reported with either sign.
    return t == ours || t == -ours;
}

Fiscalizer::Verdict Fiscalizer::askDevice(const std::string& requestId, const std::string& digest, bool weSentIt) {
    (void)digest;
    client_.CmdReprint(requestId);
    if (!client_.lastError().empty()) return Verdict::Unclear;
    const int status = client_.log().statusCode;
    if (status == 404) return Verdict::Unknown;
    if (status != 200) return Verdict::Unclear;
    flatten();
    if (OdgovorLista.value("invoiceNumber").empty()) return Verdict::Unclear;
    return answerIsThisSale(weSentIt) ? Verdict::Signed : Verdict::OtherSale;
}

void Fiscalizer::keepSigned(const std::string& reqId, const std::string& digest) {
    if (ledger_)
        ledger_->recordSigned(reqId, digest, model_.Invoice.field("PFRnumber").asString(),
                              model_.Invoice.field("PFRvrijeme").asString(), answer_.verificationUrl);
}

void Fiscalizer::keepRefused(const std::string& reqId, const std::string& digest) {
    if (ledger_) ledger_->recordRefused(reqId, digest);
}

void Fiscalizer::sendInvoice(const RunSettings& s, const std::string& requestId, const std::string& digest,
                             bool weSentBefore) {
    const std::string reqId = DeviceClient::ReqID(requestId);
    if (ledger_ && !weSentBefore) ledger_->recordSent(reqId, digest);
    client_.CmdInvoice(requestId, BuildInvoiceRequest(model_, s));

    // Whether the device may have signed it although its answer says nothing clear.
    bool uncertain = false;
    std::string failure;
    const int status = client_.log().statusCode;
    if (!client_.lastError().empty()) {
        uncertain = true;
        failure = msg::kInvoiceError;
    } else if (status >= 500) {
        uncertain = true;
        failure = msg::kFiscalError;
    } else if (status != 200) {
        FiskGreska = msg::kFiscalError;
        keepRefused(reqId, digest);
        return;
    } else {
        flatten();
        const std::string messages = OdgovorLista.value("messages");
        if (messages.empty()) {
            // Cut short, not JSON, or no verdict in it.
            uncertain = true;
            failure = msg::kNotSuccessful;
        } else if (!isSuccess(s, messages)) {
            FiskGreska = msg::kNotSuccessful;
            keepRefused(reqId, digest);
            return;
        } else if (!answerIsThisSale(true)) {
            // The device answered with an invoice it signed earlier under this id.
            FiskGreska = msg::kRequestIdReused;
            keepRefused(reqId, digest);
            return;
        }
    }
    if (!uncertain) {
        storeAnswer("", InvoiceType::Normal);
        keepSigned(reqId, digest);
        return;
    }
    switch (askDevice(requestId, digest, true)) {
        case Verdict::Signed:
            // Signed although the answer was lost: keep it rather than sign it twice.
            storeAnswer("", InvoiceType::Normal);
            keepSigned(reqId, digest);
            if (onRecovered) onRecovered();
            return;
        case Verdict::Unknown:
            FiskGreska = failure;
            keepRefused(reqId, digest);
            return;
        case Verdict::OtherSale:
            FiskGreska = msg::kRequestIdReused;
            keepRefused(reqId, digest);
            return;
        case Verdict::Unclear:
            FiskGreska = msg::kStateUnknown;
            pending_ = true;
            return;
    }
}

void Fiscalizer::run(const RunSettings& s, Start start) {
    FiskGreska.clear();
    answer_.clear();
    pending_ = false;
    printAfter_ = true;
    requestIdProblem_.clear();
    // Lines still being typed belong to the invoice that is sent.
    if (model_.Items.isEditing()) model_.Items.post();
    if (model_.Payment.isEditing()) model_.Payment.post();
    const MemTable& inv = model_.Invoice;
    bool hasRow = !inv.isEmpty() || inv.isEditing();
    const auto type = static_cast<InvoiceType>(hasRow ? inv.field("invoiceType").asInteger() : 0);
    std::string requestId = hasRow ? inv.field("RequestId").asString() : std::string();
    const bool sends = type != InvoiceType::Last && type != InvoiceType::ByRequestId;

    auto finish = [&] {
        if (onResultStep) onResultStep();
        if (FiskGreska.empty() && printAfter_ && (s.printUredjaj == 2 || s.printUredjaj == 3) && onPrint)
            onPrint(s.renderPrint);
    };

    // The id is checked before anything is sent.
    if (type != InvoiceType::Last) {
        if (auto problem = RequestIdProblem(requestId)) {
            requestIdProblem_ = *problem;
            FiskGreska = msg::kBadRequestId;
            finish();
            return;
        }
    }
    const std::string reqId = DeviceClient::ReqID(requestId);
    std::string digest;
    std::optional<LedgerEntry> entry;
    if (sends) {
        digest = SaleDigest(model_);
        if (ledger_) entry = ledger_->find(reqId);
        const bool sameSale = entry && entry->digest == digest;
        if (entry && !sameSale && entry->state != LedgerEntry::State::Refused) {
            FiskGreska = msg::kRequestIdReused;
            finish();
            return;
        }
        if (sameSale && entry->state == LedgerEntry::State::Signed) {
            // The same sale again: answered from the record, not signed a second time.
            MemTable& head = model_.Invoice;
            if (!head.isEditing()) head.edit();
            head.field("PFRnumber").setValue(Value(entry->number));
            head.field("PFRvrijeme").setValue(Value(entry->time));
            head.post();
            answer_.invoiceNumber = entry->number;
            answer_.sdcDateTime = entry->time;
            answer_.verificationUrl = entry->url;
            printAfter_ = false;
            finish();
            return;
        }
        if (sameSale && entry->state == LedgerEntry::State::Sent) start = Start::AskDeviceFirst;
    }

    if (!client_.CmdAttention()) FiskGreska = msg::kNoAttention;
    if (FiskGreska.empty() && !client_.CmdStatus()) FiskGreska = msg::kNoStatus;
    if (FiskGreska.empty()) pinStep(s);
    std::string prefix = type == InvoiceType::Last ? "invoiceResponse." : "";
    if (FiskGreska.empty()) {
        if (type == InvoiceType::Last) {
            if (!client_.CmdLast()) FiskGreska = msg::kLastUnknown;
        } else if (type == InvoiceType::ByRequestId) {
            if (!client_.CmdReprint(requestId) || client_.log().statusCode != 200) FiskGreska = msg::kNotFiscalised;
        } else {
            const bool weSentBefore = entry && entry->digest == digest && entry->state == LedgerEntry::State::Sent;
            Verdict first = Verdict::Unknown;
            if (start == Start::AskDeviceFirst) first = askDevice(requestId, digest, weSentBefore);
            switch (first) {
                case Verdict::Signed:
                    printAfter_ = false;  // printed when it was signed, or never to be known
                    storeAnswer("", InvoiceType::Normal);
                    keepSigned(reqId, digest);
                    break;
                case Verdict::Unknown:
                    sendInvoice(s, requestId, digest, weSentBefore);
                    break;
                case Verdict::OtherSale:
                    FiskGreska = msg::kRequestIdReused;
                    break;
                case Verdict::Unclear:
                    FiskGreska = msg::kStateUnknown;
                    pending_ = true;
                    break;
            }
            if (pending_) return;  // nothing is answered while the device's state is unknown
            finish();
            return;
        }
    }
    if (FiskGreska.empty()) {
        flatten();
        std::string messages = OdgovorLista.value(prefix + "messages");
        if (!isSuccess(s, messages))
            FiskGreska = type == InvoiceType::Last ? std::string(msg::kNotSuccessful) + "\r" + messages : msg::kNotSuccessful;
    }
    if (FiskGreska.empty()) storeAnswer(prefix, type);
    finish();
}

void Fiscalizer::storeAnswer(const std::string& prefix, InvoiceType type) {
    // OdgovorLista holds this answer already: every road here flattened it last.
    DeviceAnswer stored = ReadDeviceAnswer(OdgovorLista, type);
    stored.json = client_.log().jsonIndented;
    MemTable& inv = model_.Invoice;
    if (!inv.isEditing()) inv.edit();
    inv.field("PFRnumber").setValue(Value(stored.invoiceNumber));
    inv.field("PFRvrijeme").setValue(Value(stored.sdcDateTime));
    inv.post();

    ResponseTable& response = client_.response();
    std::string top = type == InvoiceType::Last ? "invoiceResponse" : "";
    response.setRootElement(prefix + "taxItems");
    try {
        model_.FillTaxItems(response.table());
    } catch (...) {
        response.setRootElement(top);
        throw;
    }
    response.setRootElement(top);

    answer_ = std::move(stored);
    if (onAnswerStored) onAnswerStored();
}

void Fiscalizer::LoadAnswer(const std::string& answerJson) {
    OdgovorLista.clear();
    OpenJSONFile(answerJson, "", OdgovorLista);
    const MemTable& inv = model_.Invoice;
    const bool hasRow = !inv.isEmpty() || inv.isEditing();
    const auto type = static_cast<InvoiceType>(hasRow ? inv.field("invoiceType").asInteger() : 0);
    answer_ = ReadDeviceAnswer(OdgovorLista, type);
    answer_.json = answerJson;
    if (onAnswerStored) onAnswerStored();
}

}  // namespace kv::device
