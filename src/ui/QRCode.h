// The address as a QR code, for a phone or a tablet on the same network to open.
#pragma once

#include <string>
#include <vector>

namespace quenloft {

// The modules of a QR code, row by row: Size × Size, true where a module is dark.
struct QRCode {
    int Size = 0;
    std::vector<bool> Dark;

    bool IsDark(int x, int y) const { return Dark[size_t(y) * size_t(Size) + size_t(x)]; }
};

// `text` as a QR code of the smallest version that holds it, with medium error correction;
// Size 0 when it cannot be encoded (too long).
QRCode EncodeQR(const std::string& text);

} // namespace quenloft
