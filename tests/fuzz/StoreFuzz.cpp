// Feeds arbitrary bytes to the store loader: it must never crash, read past the end or
// allocate more than the bytes justify, and what it loads must save and load the same.
#include "base/Error.h"
#include "store/clsSettings.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        quenloft::clsSettings store = quenloft::clsSettings::Decode(bytes);
        std::string image = store.Encode();
        quenloft::clsSettings again = quenloft::clsSettings::Decode(image);
        if (again.Encode() != image) {
            __builtin_trap();
        }
    } catch (const quenloft::Error&) {
        // A malformed image is refused with an Error; that is the expected answer.
    }
    return 0;
}
