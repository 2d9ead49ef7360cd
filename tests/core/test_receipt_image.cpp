// Receipt pictures: the QR code of the verification address, the device's
// Base64 PNG, and how a long picture is cut into pages of the POS roll.
#include <gtest/gtest.h>

#include <string>

#include "print/QrCode.h"
#include "print/ReceiptImage.h"
#include "util/Base64.h"

using namespace kv::print;

namespace {

// Real PNG files (greyscale, 8 bit) of 3 x 2 and 5 x 7 pixels.
const std::string kPng3x2 =
    "iVBORw0KGgoAAAANSUhEUgAAAAMAAAACCAAAAAC4HznGAAAAEElEQVR4nGNg0AhgsEnpAQAEkAGlzocA6gAAAABJRU5ErkJggg==";
const std::string kPng5x7 =
    "iVBORw0KGgoAAAANSUhEUgAAAAUAAAAHCAAAAADlzNgyAAAANUlEQVR4nAEqANX/AAAoUHigADxkjLTcAHigyPAYALTcBCxUAPAYQGiQACxU"
    "fKTMAGiQuOAITuUQjYiFwywAAAAASUVORK5CYII=";

// Signature and IHDR chunk start of a PNG of the given size (CRC and pixel
// data are not looked at when only the size is read).
std::string PngHead(uint32_t w, uint32_t h)
{
    std::string b("\x89PNG\r\n\x1a\n", 8);
    b += std::string("\0\0\0\x0d", 4) + "IHDR";
    for (uint32_t v : {w, h})
        for (int shift = 24; shift >= 0; shift -= 8)
            b.push_back(static_cast<char>((v >> shift) & 0xff));
    b += std::string("\x08\x00\x00\x00\x00", 5);
    return b;
}

int QrVersion(int side) { return (side - 17) % 4 == 0 ? (side - 17) / 4 : -1; }

}  // namespace

// ---- QR bitmap -------------------------------------------------------------

TEST(QrBitmap, SideFollowsTheSymbolVersionForShortAndLongTexts)
{
    struct Case {
        std::string text;
        int side;  // 0: any version-consistent side
    };
    const Case cases[] = {
        {"1", 21},
        {std::string(17, 'a'), 21},  // 17 bytes: the capacity of version 1-L in 8-bit mode
        {std::string(18, 'a'), 25},  // one more byte needs version 2
        // 41 digits fill version 1-L only in numeric mode: the mode is chosen
        // automatically, not forced to 8-bit.
        {"12345678901234567890123456789012345678901", 21},
        {"https://suf.test/v?q", 0},
        {"https://suf.test/v/?vl=" + std::string(300, 'A'), 0},
        {std::string(2953, 'x'), 177},  // 8-bit capacity of version 40-L
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        QrBitmap q = StrToQRCode(c.text);
        ASSERT_FALSE(q.empty());
        EXPECT_EQ(q.dark.size(), static_cast<size_t>(q.side) * q.side);
        const int v = QrVersion(q.side);
        EXPECT_GE(v, 1);
        EXPECT_LE(v, 40);
        if (c.side) {
            EXPECT_EQ(q.side, c.side);
        }
        const QrBitmap again = StrToQRCode(c.text);
        EXPECT_EQ(again.side, q.side);
        EXPECT_EQ(again.dark, q.dark);
    }
}

TEST(QrBitmap, HasNoQuietZoneAndIsCaseSensitive)
{
    const QrBitmap q = StrToQRCode("https://suf.test/v?q=AbC");
    ASSERT_FALSE(q.empty());
    // The finder patterns start at the very edges: dark corners, and the
    // light separator right after the 7-module pattern.
    EXPECT_TRUE(q.at(0, 0));
    EXPECT_TRUE(q.at(q.side - 1, 0));
    EXPECT_TRUE(q.at(0, q.side - 1));
    EXPECT_TRUE(q.at(6, 6));
    EXPECT_FALSE(q.at(7, 0));
    EXPECT_FALSE(q.at(1, 1));
    for (uint8_t cell : q.dark)
        EXPECT_LE(cell, 1);

    EXPECT_NE(StrToQRCode("https://suf.test/v?q=abc").dark, q.dark);
}

TEST(QrBitmap, EmptyOrTooLongTextGivesNoCode)
{
    EXPECT_TRUE(StrToQRCode("").empty());
    EXPECT_TRUE(StrToQRCode(std::string(2954, 'x')).empty());
}

// ---- Base64 and PNG --------------------------------------------------------

TEST(ReceiptBase64, DecodesStandardBase64AndRefusesTheRest)
{
    struct Case {
        const char* text;
        std::optional<std::string> bytes;
    };
    const Case cases[] = {
        {"TWFu", "Man"},
        {"TWE=", "Ma"},
        {"TQ==", "M"},
        {"TWE", "Ma"},                   // padding left off
        {"TW\r\nFu TQ\n==", "ManM"},     // line breaks and blanks skipped
        {"+/+/", std::string("\xfb\xff\xbf", 3)},
        {"", ""},
        {"T", std::nullopt},             // less than a byte
        {"TWFuT", std::nullopt},
        {"TQ==TWFu", std::nullopt},      // padding in the middle
        {"TWE==", std::nullopt},
        {"TWFu=", std::nullopt},
        {"TW-u", std::nullopt},          // URL-safe alphabet is not ours
        {"null", std::string("\x9e\xe9\x65", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(kv::DecodeBase64(c.text), c.bytes);
    }
}

TEST(ReceiptBase64, PngSizeComesFromTheHeaderChunk)
{
    auto s = PngSize(PngHead(576, 1200));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 576);
    EXPECT_EQ(s->height, 1200);
    s = PngSize(PngHead(0x01020304, 7));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 0x01020304);

    std::string wrongType = PngHead(5, 5);
    wrongType.replace(12, 4, "IDAT");
    std::string wrongSig = PngHead(5, 5);
    wrongSig[1] = 'J';
    for (const std::string& bad : {PngHead(0, 5), PngHead(5, 0), PngHead(0x80000000u, 5), wrongType, wrongSig,
                                   PngHead(5, 5).substr(0, 23), std::string("GIF89a")}) {
        EXPECT_FALSE(PngSize(bad));
    }
}

TEST(ReceiptBase64, ReceiptPictureIsReplacedOnlyByAValidPng)
{
    PngImage image;
    std::string error;
    ASSERT_TRUE(StrToPngImage(kPng3x2, image, &error));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.pngBytes.substr(1, 3), "PNG");
    const PngImage first = image;

    struct Case {
        const char* name;
        std::string text;
        bool reported;  // the operator is told why
    };
    const Case keep[] = {
        {"null", "null", false},
        {"empty", "", false},
        {"only blanks", " \r\n", false},
        {"not Base64", "iVBORw0K#GgoAAAA", true},
        {"Base64 of text", "SGVsbG8gd29ybGQ=", true},
        {"cut PNG", kPng3x2.substr(0, 20), true},
    };
    for (const auto& c : keep) {
        SCOPED_TRACE(c.name);
        error.clear();
        EXPECT_FALSE(StrToPngImage(c.text, image, &error));
        EXPECT_EQ(image.pngBytes, first.pngBytes);
        EXPECT_EQ(image.width, 3);
        EXPECT_EQ(image.height, 2);
        EXPECT_EQ(!error.empty(), c.reported);
    }

    // The next answer's picture replaces it, line breaks and all.
    std::string wrapped = kPng5x7;
    wrapped.insert(76, "\r\n");
    ASSERT_TRUE(StrToPngImage(wrapped, image));
    EXPECT_EQ(image.width, 5);
    EXPECT_EQ(image.height, 7);
}

// ---- pages of the image receipt --------------------------------------------

TEST(ReceiptPages, OnePageOrSlicesByTheImageHeight)
{
    struct Case {
        const char* name;
        int w, h;
        ReceiptPage page;
        int dpi;
        bool sliced;
        size_t pages;
        int bandW, bandH, imageH;
    };
    // At 96 report pixels per inch 80 mm are 302 pixels, 100 mm 377 and
    // 3276 mm 12381; 5 mm of margin 18.
    const Case cases[] = {
        {"576x1200 on 80x3276", 576, 1200, {80, 3276, 0}, 203, false, 1, 302, 12381, 629},
        {"length 0 means 3276", 576, 1200, {80, 0, 0}, 203, false, 1, 302, 12381, 629},
        {"576x1200 on 80x100", 576, 1200, {80, 100, 0}, 203, true, 2, 302, 377, 629},
        {"left margin narrows the band", 576, 1200, {80, 100, 5}, 203, true, 2, 284, 377, 591},
        {"one row less than the page", 302, 376, {80, 100, 0}, 203, false, 1, 302, 377, 376},
        {"exactly one page high", 302, 377, {80, 100, 0}, 203, true, 1, 302, 377, 377},
        {"seven pages", 576, 5000, {80, 100, 0}, 203, true, 7, 302, 377, 2621},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PngPagePlan p = PlanPngPages(c.w, c.h, c.page, c.dpi);
        EXPECT_EQ(p.sliced, c.sliced);
        ASSERT_EQ(p.pages.size(), c.pages);
        EXPECT_EQ(p.bandWidth, c.bandW);
        EXPECT_EQ(p.bandHeight, c.bandH);
        EXPECT_EQ(p.imageHeight, c.imageH);
        EXPECT_EQ(p.pageLengthMm, c.page.lengthMm ? c.page.lengthMm : 3276);
        // Every row of the picture is printed exactly once, top to bottom.
        EXPECT_EQ(p.pages.front().srcTop, 0);
        EXPECT_EQ(p.pages.back().srcBottom, c.h);
        for (size_t i = 1; i < p.pages.size(); ++i)
            EXPECT_EQ(p.pages[i].srcTop, p.pages[i - 1].srcBottom);
    }
}

TEST(ReceiptPages, PrinterRectanglesScaleReportPixelsToThePrinter)
{
    // One page: the image at the band's width, its height keeping the ratio.
    PngPagePlan one = PlanPngPages(576, 1200, {80, 3276, 5}, 203);
    ASSERT_EQ(one.pages.size(), 1u);
    const PngSlice& s = one.pages[0];
    EXPECT_EQ(s.dstLeft, 39);                // 5 mm at 203 dpi
    EXPECT_EQ(s.dstTop, 0);
    EXPECT_EQ(s.dstWidth, 284 * 203 / 96);   // 600
    EXPECT_EQ(s.dstHeight, 591 * 203 / 96);  // 1249

    // Slices: rows k*W*B/w to (k+1)*W*B/w, each stretched to a whole page;
    // the last one cut at the picture's end at the same scale.
    PngPagePlan sl = PlanPngPages(576, 1200, {80, 100, 0}, 300);
    ASSERT_EQ(sl.pages.size(), 2u);
    const int pageH = 377 * 300 / 96;  // 1178
    EXPECT_EQ(sl.pages[0].srcBottom, 576 * 377 / 302);  // 719
    EXPECT_EQ(sl.pages[0].dstHeight, pageH);
    EXPECT_EQ(sl.pages[0].dstWidth, 302 * 300 / 96);
    EXPECT_EQ(sl.pages[1].srcTop, 719);
    EXPECT_EQ(sl.pages[1].srcBottom, 1200);
    EXPECT_EQ(sl.pages[1].dstHeight, pageH * (1200 - 719) / (2 * 576 * 377 / 302 - 719));
    EXPECT_EQ(sl.pages[1].dstWidth, sl.pages[0].dstWidth);
}

TEST(ReceiptPages, NothingToPrintWithoutAPictureOrAPage)
{
    struct Case {
        const char* name;
        int w, h;
        ReceiptPage page;
    };
    const Case cases[] = {
        {"no picture", 0, 0, {80, 100, 0}},
        {"no paper width", 576, 1200, {0, 100, 0}},
        {"margin eats the width", 576, 1200, {80, 100, 80}},
        {"negative margin", 576, 1200, {80, 100, -5}},
        {"pages beyond reason", 1, 2000000000, {80, 1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(PlanPngPages(c.w, c.h, c.page, 203).pages.empty());
    }
}

TEST(ReceiptPages, PrinterOfEachDrawnReceipt)
{
    struct Case {
        bool report;
        int64_t printUredjaj;
        const char* printer;
    };
    const Case cases[] = {
        {false, 2, "POS"}, {false, 3, "A4"}, {false, 0, ""}, {false, 1, ""},
        {true, 2, "POS"},  {true, 3, "POS"},  // the report layout always goes to the POS printer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.report) + "/" + std::to_string(c.printUredjaj));
        EXPECT_EQ(DrawnReceiptPrinter(c.report, c.printUredjaj, "POS", "A4"), c.printer);
    }
}
