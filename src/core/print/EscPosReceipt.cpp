#include "print/EscPosReceipt.h"

#include <algorithm>
#include <stdexcept>

#include "app/Settings.h"
#include "print/AsciiPrint.h"
#include "print/RawPrinter.h"

namespace kv::print {

EscLatMode ParseEscLat(std::string_view stored) {
    if (stored == "0") return EscLatMode::BezQR;
    if (stored == "1") return EscLatMode::EscPosQR;
    if (stored == "2") return EscLatMode::ImageQR;
    return EscLatMode::Unknown;
}

EscPosInput EscPosInputFromSettings(const SettingsRecord& Bafer, std::string journal, std::string url,
                                    std::string invoiceNumber) {
    EscPosInput in;
    in.journal = std::move(journal);
    in.url = std::move(url);
    in.invoiceNumber = std::move(invoiceNumber);
    in.escInit = Bafer.text("EscInit");
    in.escCir = ParseKonverzija(Bafer.text("EscCir"));
    in.escLat = ParseEscLat(Bafer.text("EscLat"));
    in.imageWidth = static_cast<int>(Bafer.integer("ImageWidth"));
    in.fontName = Bafer.text("FontName");
    in.fontSize = static_cast<int>(Bafer.integer("FontSize"));
    return in;
}

std::vector<std::string> SplitJournal(std::string_view journal) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < journal.size(); ++i) {
        if (journal[i] != '\r' && journal[i] != '\n') continue;
        lines.emplace_back(journal.substr(start, i - start));
        if (journal[i] == '\r' && i + 1 < journal.size() && journal[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < journal.size()) lines.emplace_back(journal.substr(start));
    return lines;
}

std::string QrCommandBlocks(std::string_view url) {
    if (url.size() > kMaxBlockBytes - 1 - 8)
        throw std::length_error("A verification URL of " + std::to_string(url.size()) +
                                " bytes is too long for the printer's QR command");
    const std::size_t stored = url.size() + 3;  // the URL plus "1 P 0"
    std::string store = "\x1D\x28\x6B";
    store.push_back(static_cast<char>(stored & 0xFF));
    store.push_back(static_cast<char>(stored >> 8));
    store += "\x31\x50\x30";
    store += url;
    using namespace std::string_view_literals;
    return CommandBlock("\x1D\x28\x6B\x04\x00\x31\x41\x32\x00"sv)  // model 2
           + CommandBlock("\x1D\x28\x6B\x03\x00\x31\x43\x03"sv)   // module of 3 dots
           + CommandBlock("\x1D\x28\x6B\x03\x00\x31\x45\x30"sv)   // error correction L
           + CommandBlock(store)                                 // the data
           + CommandBlock("\x1D\x28\x6B\x03\x00\x31\x51\x30"sv);  // print it
}

DrawnPlacement PlaceDrawnReceipt(const DrawnReceipt& receipt, int lineHeight, int lastLineWidth) {
    DrawnPlacement p;
    const int n = static_cast<int>(receipt.lines.size());
    for (int i = 0; i < n; ++i) {
        int y = lineHeight * i;
        if (i == n - 1 && receipt.hasQr) {
            p.hasQr = true;
            p.qrSide = receipt.qrSide;
            p.qrTop = y;
            p.qrLeft = (lastLineWidth - receipt.qrSide) / 2;  // C++ division truncates toward zero
            y += receipt.qrSide + DrawnReceipt::kGapBelowQr;
        }
        p.lineY.push_back(y);
    }
    return p;
}

EscPosReceipt PrintESCPOS(const EscPosInput& input, const std::string& ansiCodePage) {
    EscPosReceipt r;
    r.mode = input.escLat;
    r.jobTitle = "Racun " + input.invoiceNumber;
    if (!input.escInit.empty()) {
        // Init bytes are commands: they go exactly as written, never converted.
        r.raw += CommandBlock(KonvKod(input.escInit));
    }

    const std::vector<std::string> lines = SplitJournal(input.journal);
    if (r.mode == EscLatMode::ImageQR) {
        DrawnReceipt d;
        d.lines = lines;
        d.hasQr = !lines.empty();
        d.url = input.url;
        d.qrSide = input.imageWidth;
        d.fontName = input.fontName;
        d.fontSize = input.fontSize;
        r.drawn = std::move(d);
        return r;
    }
    if (r.mode != EscLatMode::BezQR && r.mode != EscLatMode::EscPosQR) return r;

    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i + 1 == lines.size() && r.mode == EscLatMode::EscPosQR) r.raw += QrCommandBlocks(input.url);
        r.raw += TextPrint(lines[i], input.escCir, true, ansiCodePage);
    }
    return r;
}

void SendESCPOS(RawPrinter& printer, const EscPosReceipt& receipt) {
    SendRawJob(printer, receipt.jobTitle, receipt.raw);
}

std::string EscPosRaster(const std::vector<std::uint8_t>& bits, int width, int height) {
    const int rowBytes = (width + 7) / 8;
    if (width <= 0 || height <= 0 || rowBytes > 0xFFFF ||
        bits.size() < static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height))
        return {};
    std::string out;
    for (int top = 0; top < height; top += 255) {
        const int rows = std::min(255, height - top);
        out += "\x1D\x76\x30";
        out += '\0';  // normal density
        out += static_cast<char>(rowBytes & 0xFF);
        out += static_cast<char>(rowBytes >> 8);
        out += static_cast<char>(rows & 0xFF);
        out += static_cast<char>(rows >> 8);
        out.append(reinterpret_cast<const char*>(bits.data()) + static_cast<std::size_t>(top) * rowBytes,
                   static_cast<std::size_t>(rows) * rowBytes);
    }
    return out;
}

}  // namespace kv::print
