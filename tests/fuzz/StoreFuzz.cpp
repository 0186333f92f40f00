// Feeds arbitrary bytes to the store loader: it must never crash, read past the end or
// allocate more than the bytes justify, and what it loads must save (the file format holds
// every value it can load) and load the same.
#include "base/Error.h"
#include "store/clsSettings.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    quenloft::clsSettings store;
    try {
        store = quenloft::clsSettings::Decode(bytes);
    } catch (const quenloft::Error&) {
        return 0; // a malformed image is refused with an Error; that is the expected answer
    }
    try {
        std::string image = store.Encode();
        if (quenloft::clsSettings::Decode(image).Encode() != image) {
            __builtin_trap();
        }
    } catch (const quenloft::Error&) {
        __builtin_trap(); // a loaded store that cannot be saved, or does not load back
    }
    return 0;
}
