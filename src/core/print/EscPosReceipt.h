#pragma once
// The text receipt: the journal the fiscal device laid out, line by line, on a
// POS printer, with the verification QR code just before its last line, either
// as the printer's own QR command or as a picture drawn through the driver.
// Building the receipt is pure; sending it is a separate step.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "print/AsciiPrint.h"

namespace kv {
class SettingsRecord;
}

namespace kv::print {

class RawPrinter;

// How the QR code is printed (the setting EscLat, "Štampa QR koda").
enum class EscLatMode : int {
    Unknown = -1,  // a value outside the three: only the init bytes go out
    BezQR = 0,     // "Bez QR coda": text only
    EscPosQR = 1,  // "Esc/POS": the printer's QR command
    ImageQR = 2,   // "Image": text and QR drawn through the driver
};

// The stored digit of EscLat: exactly "0", "1" or "2"; anything else is Unknown.
EscLatMode ParseEscLat(std::string_view stored);

struct EscPosInput {
    std::string journal;        // the device's receipt text, lines ended by CR LF or LF
    std::string url;            // the verification URL the QR code carries
    std::string invoiceNumber;  // for the job title
    std::string escInit;        // escape-sequence text sent first when not empty
    Konverzija escCir = kBezKonverzije;    // conversion of the lines
    EscLatMode escLat = EscLatMode::BezQR;
    int imageWidth = 181;       // side of the drawn QR picture, printer pixels
    std::string fontName = "Arial Narrow";  // drawn text, always bold and black
    int fontSize = 8;
};

// The printer settings of the record Bafer with the answer's journal and URL;
// the stored texts of EscCir and EscLat are read here.
EscPosInput EscPosInputFromSettings(const SettingsRecord& Bafer, std::string journal, std::string url,
                                    std::string invoiceNumber);

// What the window draws in the "Image" mode: the lines in order, each at
// x 0, with the QR picture between the last two.
struct DrawnReceipt {
    static constexpr int kGapBelowQr = 10;  // pixels between the picture and the last line
    std::vector<std::string> lines;         // UTF-8, no conversion
    bool hasQr = false;                     // true whenever there is a last line
    std::string url;                        // what the QR picture encodes
    int qrSide = 0;                         // ImageWidth
    std::string fontName;
    int fontSize = 8;
};

// Where everything of a DrawnReceipt goes once the font is known: every line
// is taken to be `lineHeight` high, the QR picture is centred on the width of
// the last line (truncated toward zero; it may start left of the margin when
// the line is narrower than the picture).
struct DrawnPlacement {
    std::vector<int> lineY;  // top of each line
    bool hasQr = false;
    int qrLeft = 0, qrTop = 0, qrSide = 0;
};
DrawnPlacement PlaceDrawnReceipt(const DrawnReceipt& receipt, int lineHeight, int lastLineWidth);

struct EscPosReceipt {
    EscLatMode mode = EscLatMode::BezQR;
    std::string jobTitle;  // "Racun " + invoice number
    // The bytes for the printer exactly as they must arrive. Modes 0 and 1:
    // the whole receipt; otherwise only the init bytes.
    std::string raw;
    std::optional<DrawnReceipt> drawn;  // mode 2
};

// Journal lines: split on CR LF, LF or a lone CR, none of which stays in a
// line; a break at the very end opens no further line, and an empty journal
// has no lines.
std::vector<std::string> SplitJournal(std::string_view journal);

// The five blocks of the QR command (model 2, module 3 dots, level L, store
// the URL, print it), each with its zero byte. Throws std::length_error for
// a URL too long for one block.
std::string QrCommandBlocks(std::string_view url);

// The receipt as the printer must get it: init bytes, every line but the last
// with LF, the QR blocks (mode 1), the last line with LF; each block with its
// zero byte; no cut or feed after it. `ansiCodePage` is the code page of
// characters the conversion leaves alone.
EscPosReceipt PrintESCPOS(const EscPosInput& input, const std::string& ansiCodePage = platform::FileCodePage());

// A black-and-white picture as ESC/POS raster commands (GS v 0), in bands of
// at most 255 rows. `bits` holds `height` rows of (width + 7) / 8 bytes, the
// leftmost dot in the high bit, 1 for black. For drawn receipts on targets
// that have no driver to draw through (a file, a network printer's socket).
std::string EscPosRaster(const std::vector<std::uint8_t>& bits, int width, int height);

// Sends the receipt's raw bytes as one job titled jobTitle; the job is
// discarded, never left open, when the printer fails (PrintError).
void SendESCPOS(RawPrinter& printer, const EscPosReceipt& receipt);

}  // namespace kv::print
