#pragma once
// The QR code of a verification address as a plain bitmap: one cell per
// module, no quiet zone (whoever draws it adds the margin it needs).
#include <cstdint>
#include <string>
#include <vector>

namespace kv::print {

struct QrBitmap {
    int side = 0;                // modules per side; 0 when there is no code
    std::vector<uint8_t> dark;   // side * side cells, row by row, 1 = dark
    bool empty() const { return side == 0; }
    bool at(int x, int y) const { return dark[static_cast<size_t>(y) * side + x] != 0; }
};

// Error correction level L, automatic mode (8-bit / alphanumeric / numeric as
// libqrencode chooses), case-sensitive. An empty text gives an empty bitmap.
QrBitmap StrToQRCode(const std::string& text);

}  // namespace kv::print
