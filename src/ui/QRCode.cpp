#include "ui/QRCode.h"

#include <memory>
#include <qrencode.h>

namespace quenloft {

// The text goes in as its bytes, so a phone reads back exactly what was given.
QRCode EncodeQR(const std::string& text) {
    std::unique_ptr<QRcode, decltype(&QRcode_free)> encoded(
        QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
    QRCode code;
    if (!encoded) {
        return code;
    }
    code.Size = encoded->width;
    code.Dark.resize(size_t(code.Size) * size_t(code.Size));
    for (size_t i = 0; i < code.Dark.size(); ++i) {
        code.Dark[i] = encoded->data[i] & 1; // the lowest bit of each byte is the module
    }
    return code;
}

} // namespace quenloft
