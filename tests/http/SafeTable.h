// The bytes the server's links keep unescaped, as its tests give them: "." "/" digits and
// letters.
#pragma once

#include <array>

namespace quenloft::testing {

inline std::array<bool, 256> SafeTable() {
    std::array<bool, 256> safe{};
    for (int c = 0; c < 256; ++c) {
        safe[c] = (c >= 46 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122);
    }
    return safe;
}

} // namespace quenloft::testing
