// Range header values; see ByteRange.h.
#include "http/ByteRange.h"

#include "base/AsciiCase.h"
#include "base/TextHelpers.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace quenloft {

namespace {

// Decimal digits only; a number past 64 bits is the largest there is.
std::optional<int64_t> Position(std::string_view digits) {
    if (digits.empty()) {
        return std::nullopt;
    }
    constexpr int64_t Most = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        int digit = c - '0';
        value = value > (Most - digit) / 10 ? Most : value * 10 + digit;
    }
    return value;
}

} // namespace

ByteRange ParseRange(std::string_view value, int64_t size) {
    size_t equals = value.find('=');
    if (equals == std::string_view::npos ||
        !EqualsIgnoringCase(TrimSpace(value.substr(0, equals)), "bytes")) {
        return ByteRange{ByteRange::Whole};
    }
    std::string_view range = TrimSpace(value.substr(equals + 1));
    size_t dash = range.find('-');
    if (dash == std::string_view::npos || range.find(',') != std::string_view::npos) {
        return ByteRange{ByteRange::Whole}; // malformed, or several ranges
    }
    std::string_view firstText = range.substr(0, dash);
    std::string_view lastText = range.substr(dash + 1);
    std::optional<int64_t> last = Position(lastText);
    if (firstText.empty()) { // the last `last` bytes
        if (!last) {
            return ByteRange{ByteRange::Whole};
        }
        if (*last == 0 || size == 0) {
            return ByteRange{ByteRange::Unsatisfiable};
        }
        return ByteRange{ByteRange::Part, size - std::min(*last, size), size - 1};
    }
    std::optional<int64_t> first = Position(firstText);
    if (!first || (!lastText.empty() && !last) || (last && *last < *first)) {
        return ByteRange{ByteRange::Whole}; // malformed, or a last byte before the first
    }
    if (*first >= size) {
        return ByteRange{ByteRange::Unsatisfiable};
    }
    return ByteRange{ByteRange::Part, *first, std::min(last.value_or(size - 1), size - 1)};
}

} // namespace quenloft
