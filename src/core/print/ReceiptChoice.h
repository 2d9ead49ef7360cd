#pragma once
// Which receipt Kovira prints after a signed invoice, decided from the
// settings alone: the window and the service draw what this says, and a
// service that prints nothing but raw text needs no drawing at all.
#include <cstdint>
#include <optional>
#include <string>

#include "print/EscPosReceipt.h"

namespace kv {
class SettingsRecord;
}

namespace kv::print {

enum class ReceiptForm {
    None,      // PrintUredjaj 0, or a form that does not exist
    ByDevice,  // PrintUredjaj 1: the device prints it
    Text,      // the journal as ESC/POS bytes (drawn too in the "Image" mode)
    Picture,   // the device's receipt picture
    Report,    // Kovira's own report layout
};

// PrintUredjaj 2 (POS) or 3 (A4) with RenderPrint 0, 1, 2. An answer that
// carried no picture is printed as text on a POS printer, as the report on A4.
ReceiptForm ChooseReceiptForm(int64_t printUredjaj, int64_t renderPrint, bool answerHasPicture = true);

// Whether receipts under these settings need drawing (a picture, the report,
// or text in the "Image" mode of EscLat 2).
bool ReceiptsNeedDrawing(const SettingsRecord& Bafer);

// The text receipt's raw bytes sent to the printer PosPrinter names; what the
// "Image" mode must still draw is returned. Throws PrintError when the
// printer cannot take it.
std::optional<DrawnReceipt> SendTextReceipt(const SettingsRecord& Bafer, const std::string& journal,
                                            const std::string& url, const std::string& invoiceNumber,
                                            std::string* jobTitle = nullptr);

}  // namespace kv::print
