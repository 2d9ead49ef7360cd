#include "print/ReceiptImage.h"

#include "util/Base64.h"

#include <algorithm>
#include <array>

namespace kv::print {

namespace {


uint32_t BigEndian32(std::string_view b, size_t at)
{
    return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
           (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}

// Millimetres to whole pixels at `dpi`, truncated (25.4 mm to the inch).
int64_t MmToPixels(int64_t mm, int dpi) { return mm * dpi * 10 / 254; }

}  // namespace

std::optional<ImageSize> PngSize(std::string_view bytes)
{
    static constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);
    // Signature, then the IHDR chunk: length 13, type, width, height.
    if (bytes.size() < 24 || bytes.substr(0, 8) != kSignature || BigEndian32(bytes, 8) != 13 ||
        bytes.substr(12, 4) != "IHDR")
        return std::nullopt;
    const uint32_t w = BigEndian32(bytes, 16), h = BigEndian32(bytes, 20);
    constexpr uint32_t kMax = 0x7fffffffu;
    if (w == 0 || h == 0 || w > kMax || h > kMax)
        return std::nullopt;
    return ImageSize{static_cast<int>(w), static_cast<int>(h)};
}

bool StrToPngImage(const std::string& text, PngImage& image, std::string* error)
{
    if (text.empty() || text == "null")
        return false;
    auto bytes = DecodeBase64(text);
    if (!bytes) {
        if (error) *error = msg::kBadBase64;
        return false;
    }
    if (bytes->empty())
        return false;
    auto size = PngSize(*bytes);
    if (!size) {
        if (error) *error = msg::kNotPng;
        return false;
    }
    image.pngBytes = std::move(*bytes);
    image.width = size->width;
    image.height = size->height;
    return true;
}

int64_t EffectivePaperLength(int64_t lengthMm) { return lengthMm > 0 ? lengthMm : kDefaultPaperLengthMm; }

PngPagePlan PlanPngPages(int picWidth, int picHeight, const ReceiptPage& page, int printerDpi, int reportDpi)
{
    PngPagePlan plan;
    plan.pageWidthMm = page.widthMm;
    plan.pageLengthMm = EffectivePaperLength(page.lengthMm);
    plan.leftMarginMm = page.leftMarginMm;
    // Settings are typed in by hand: a page of more than 100 m in either
    // direction is a typing error, not a roll.
    constexpr int64_t kMaxMm = 100000;
    if (picWidth <= 0 || picHeight <= 0 || printerDpi <= 0 || reportDpi <= 0 || page.widthMm > kMaxMm ||
        plan.pageLengthMm > kMaxMm || page.leftMarginMm < 0)
        return plan;

    const int64_t band = MmToPixels(page.widthMm, reportDpi) - MmToPixels(page.leftMarginMm, reportDpi);
    const int64_t bandH = MmToPixels(plan.pageLengthMm, reportDpi);
    if (band <= 0 || bandH <= 0)
        return plan;
    const int64_t W = picWidth, H = picHeight;
    const int64_t imageH = band * H / W;
    plan.bandWidth = static_cast<int>(band);
    plan.bandHeight = static_cast<int>(bandH);
    plan.imageHeight = static_cast<int>(std::min<int64_t>(imageH, INT32_MAX));

    // Report units to printer pixels.
    auto scaled = [&](int64_t v) { return static_cast<int>(v * printerDpi / reportDpi); };
    const int left = static_cast<int>(MmToPixels(page.leftMarginMm, printerDpi));

    if (imageH < bandH) {
        plan.pages.push_back({0, picHeight, left, 0, scaled(band), scaled(imageH)});
        return plan;
    }

    // Longer than a page: slice k takes the picture rows that fall on the
    // k-th band height of the image. The last slice is cut at the picture's
    // end and drawn with the same scale rather than stretched to a full page;
    // a slice that would start past the end (an image exactly a whole number
    // of pages high) is no page at all.
    const int64_t slices = imageH / bandH;
    if (slices >= kMaxPngPages)
        return plan;
    plan.sliced = true;
    const int dstW = scaled(band);
    const int64_t dstH = scaled(bandH);
    for (int64_t k = 0; k <= slices; ++k) {
        const int64_t top = k * W * bandH / band;
        const int64_t full = (k + 1) * W * bandH / band;
        if (top >= H)
            break;
        if (full <= top)  // a picture so narrow that a band holds less than a row
            continue;
        const int64_t bottom = std::min(full, H);
        const int64_t h = dstH * (bottom - top) / (full - top);
        plan.pages.push_back({static_cast<int>(top), static_cast<int>(bottom), left, 0, dstW, static_cast<int>(h)});
    }
    return plan;
}

std::string DrawnReceiptPrinter(bool reportLayout, int64_t printUredjaj, const std::string& posPrinter,
                                const std::string& a4Printer)
{
    if (reportLayout || printUredjaj == 2)
        return posPrinter;
    if (printUredjaj == 3)
        return a4Printer;
    return {};
}

}  // namespace kv::print
