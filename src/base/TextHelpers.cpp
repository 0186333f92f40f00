#include "base/TextHelpers.h"

#include "base/Error.h"

#include <algorithm>

namespace quenloft {

std::string GetExtension(std::string_view fileName) {
    auto dot = fileName.rfind('.');
    return std::string(dot == std::string_view::npos ? fileName : fileName.substr(dot + 1));
}

std::string GetFolder(std::string_view fileName) {
    auto slash = fileName.rfind('/');
    return std::string(slash == std::string_view::npos ? std::string_view{}
                                                       : fileName.substr(0, slash + 1));
}

std::string LeftOfLast(std::string_view text, std::string_view find, int32_t start, int32_t skip) {
    if (start == 0 || start < -1) {
        throw Error::Runtime(ErrInvalidArgument, "LeftOfLast");
    }
    size_t limit = start == -1 ? text.size() : std::min<size_t>(text.size(), size_t(start));
    // The occurrence must lie wholly within the first `limit` characters.
    size_t found = find.empty() ? std::string_view::npos : text.substr(0, limit).rfind(find);
    int64_t p = found == std::string_view::npos ? 0 : int64_t(found) + 1;
    if (skip > p) {
        throw Error::Runtime(ErrInvalidArgument, "LeftOfLast");
    }
    return std::string(text.substr(0, size_t(p - skip)));
}

std::string ShortenText(std::string_view text, int32_t maxLength) {
    if (int64_t(text.size()) <= maxLength) {
        return std::string(text);
    }
    if (maxLength < 3) {
        throw Error::Runtime(ErrInvalidArgument, "ShortenText");
    }
    return std::string(text.substr(0, size_t(maxLength - 3))) + "...";
}

std::string_view TrimSpace(std::string_view text) {
    auto space = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

void ReturnSpare(std::string& text, size_t spare) {
    if (text.capacity() > text.size() + spare) {
        std::string(text).swap(text); // a copy holds only its bytes
    }
}

std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> parts;
    parts.reserve(8); // a request line's fields, or a browser's header lines
    for (;;) {
        size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + separator.size());
    }
}

} // namespace quenloft
