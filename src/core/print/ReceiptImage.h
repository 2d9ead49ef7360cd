#pragma once
// The receipt picture the fiscal device sends with its answer (Base64 PNG),
// and how a drawn receipt is laid out on the POS roll: one page when the
// picture fits the page length, otherwise one slice of the picture per page.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::print {

namespace msg {
inline constexpr const char* kNoReceiptImage = "Nema slike računa za štampu!";
inline constexpr const char* kBadBase64 = "Slika računa nije ispravan Base64 tekst!";
inline constexpr const char* kNotPng = "Slika računa nije PNG slika!";
inline constexpr const char* kBadPaper = "Provjeri dimenzije papira (širina, dužina, margina)!";
inline constexpr const char* kPrinterNotReady = "Štampač nije spreman: ";  // + printer name
inline constexpr const char* kQrTooLong = "URL je predug za QR kod!";
}  // namespace msg


struct ImageSize {
    int width = 0, height = 0;
};
// Width and height from the IHDR chunk, which a PNG file must start with.
// nullopt when the bytes do not start like a PNG or a side is 0 or beyond
// the format's limit of 2^31 - 1.
std::optional<ImageSize> PngSize(std::string_view bytes);

// The held receipt picture: the PNG file as the device sent it, and its size.
struct PngImage {
    std::string pngBytes;
    int width = 0, height = 0;
    bool empty() const { return pngBytes.empty(); }
};

// Takes the picture of an answer into `image`. Returns true when the picture
// was replaced. "null", an empty text and a text that decodes to no bytes
// leave the previous picture without complaint; text that is not Base64 or
// bytes that are not a PNG leave it too, and `error` (when given) gets the
// reason for the operator.
bool StrToPngImage(const std::string& text, PngImage& image, std::string* error = nullptr);

// The page of a drawn receipt from the settings, in whole millimetres.
struct ReceiptPage {
    int64_t widthMm = 0;     // PaperWidth
    int64_t lengthMm = 0;    // PaperLength: 0 (or unset) means 3276
    int64_t leftMarginMm = 0;
};
inline constexpr int64_t kDefaultPaperLengthMm = 3276;
int64_t EffectivePaperLength(int64_t lengthMm);

// One page of the print job: rows [srcTop, srcBottom) of the picture, full
// width, stretched into the printer rectangle (dstLeft, dstTop, dstWidth x
// dstHeight), in printer pixels from the paper's top left corner.
struct PngSlice {
    int srcTop = 0, srcBottom = 0;
    int dstLeft = 0, dstTop = 0, dstWidth = 0, dstHeight = 0;
};

struct PngPagePlan {
    // Layout in report units (kReportDpi): the band fills the page right of
    // the left margin; the image is as wide as the band, its height keeps
    // the picture's aspect ratio.
    int bandWidth = 0, bandHeight = 0, imageHeight = 0;
    int64_t pageWidthMm = 0, pageLengthMm = 0, leftMarginMm = 0;
    // false: the image fits one page, which may be printed or previewed.
    // true: longer than a page, printed slice by slice, never previewed.
    bool sliced = false;
    std::vector<PngSlice> pages;  // empty: nothing can be printed (no picture, no band, absurd page)
};

// The report engine's unit: a screen pixel at the usual 96 per inch.
inline constexpr int kReportDpi = 96;

// More pages than this for one receipt means the page settings are wrong.
inline constexpr int64_t kMaxPngPages = 10000;

// Lays a picture of picWidth x picHeight pixels out on the page for a
// printer of printerDpi pixels per inch.
PngPagePlan PlanPngPages(int picWidth, int picHeight, const ReceiptPage& page, int printerDpi,
                         int reportDpi = kReportDpi);

// The printer name a drawn receipt goes to: the image receipt to the POS
// printer when printing on POS (2) and to the A4 printer on A4 (3); the
// report layout always to the POS printer. Empty: keep the current printer.
std::string DrawnReceiptPrinter(bool reportLayout, int64_t printUredjaj, const std::string& posPrinter,
                                const std::string& a4Printer);

}  // namespace kv::print
