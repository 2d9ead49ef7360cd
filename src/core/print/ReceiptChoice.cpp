#include "print/ReceiptChoice.h"

#include "app/Settings.h"
#include "print/RawPrinter.h"

namespace kv::print {

ReceiptForm ChooseReceiptForm(int64_t printUredjaj, int64_t renderPrint, bool answerHasPicture) {
    if (printUredjaj == 1) return ReceiptForm::ByDevice;
    if (printUredjaj != 2 && printUredjaj != 3) return ReceiptForm::None;
    switch (renderPrint) {
        case 0: return ReceiptForm::Text;
        case 1:
            if (answerHasPicture) return ReceiptForm::Picture;
            return printUredjaj == 2 ? ReceiptForm::Text : ReceiptForm::Report;
        case 2: return ReceiptForm::Report;
        default: return ReceiptForm::None;
    }
}

bool ReceiptsNeedDrawing(const SettingsRecord& Bafer) {
    switch (ChooseReceiptForm(Bafer.integer("PrintUredjaj"), Bafer.integer("RenderPrint"))) {
        case ReceiptForm::Text: return ParseEscLat(Bafer.text("EscLat")) == EscLatMode::ImageQR;
        case ReceiptForm::Picture:
        case ReceiptForm::Report: return true;
        default: return false;
    }
}

std::optional<DrawnReceipt> SendTextReceipt(const SettingsRecord& Bafer, const std::string& journal,
                                            const std::string& url, const std::string& invoiceNumber,
                                            std::string* jobTitle) {
    const auto receipt = PrintESCPOS(EscPosInputFromSettings(Bafer, journal, url, invoiceNumber));
    if (!receipt.raw.empty()) {
        auto target = OpenRawTarget(ParsePrinterTarget(Bafer.text("PosPrinter")));
        SendESCPOS(*target, receipt);
    }
    if (jobTitle) *jobTitle = receipt.jobTitle;
    return receipt.drawn;
}

}  // namespace kv::print
