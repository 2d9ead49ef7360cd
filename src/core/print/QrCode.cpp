#include "print/QrCode.h"

#include <qrencode.h>

#include <memory>

namespace kv::print {

QrBitmap StrToQRCode(const std::string& text)
{
    QrBitmap out;
    if (text.empty())
        return out;
    // Version 0 lets the library pick the smallest symbol that holds the text;
    // with QR_MODE_8 as the hint it still splits the text into numeric,
    // alphanumeric and 8-bit runs on its own. A text too long for any version
    // comes back as null: no code rather than a cut one.
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_L, QR_MODE_8, 1), &QRcode_free);
    if (!code || code->width <= 0)
        return out;
    const int side = code->width;
    out.side = side;
    out.dark.resize(static_cast<size_t>(side) * side);
    // Bit 0 of each cell is the module's colour; the other bits only say what
    // the module is part of.
    for (size_t i = 0; i < out.dark.size(); ++i)
        out.dark[i] = code->data[i] & 1;
    return out;
}

}  // namespace kv::print
