// URL coding; see URLCoding.h.
#include "http/URLCoding.h"

#include "base/TextHelpers.h"

#include <algorithm>

namespace quenloft {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Appends every byte that `safeChars` does not flag as "%" and two upper-case hexadecimal
// digits; a space as "+" when asked (the rule of form fields). Runs of flagged bytes are
// copied in one step.
void AppendEscaped(std::string& out, std::string_view text, std::span<const bool> safeChars,
                   bool spaceAsPlus) {
    auto safe = [&](unsigned char a) { return a < safeChars.size() && safeChars[a]; };
    for (size_t at = 0; at < text.size();) {
        size_t run = at;
        while (run < text.size() && safe(static_cast<unsigned char>(text[run]))) {
            ++run;
        }
        out.append(text.substr(at, run - at));
        if (run == text.size()) {
            return;
        }
        auto a = static_cast<unsigned char>(text[run]);
        if (a == 32 && spaceAsPlus) {
            out += '+';
        } else {
            AppendHexEscape(out, "%", a);
        }
        at = run + 1;
    }
}

std::string Escape(std::string_view text, std::span<const bool> safeChars, bool spaceAsPlus) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text, safeChars, spaceAsPlus);
    return out;
}

// Undoes the escapes; a "+" is a space when asked (the rule of form fields).
std::string Unescape(std::string_view url, bool plusAsSpace) {
    auto plain = [plusAsSpace](std::string_view part) {
        std::string out(part);
        if (plusAsSpace) {
            std::replace(out.begin(), out.end(), '+', ' ');
        }
        return out;
    };
    std::string result;
    size_t s = 0;
    for (;;) {
        size_t percent = url.find('%', s);
        if (percent == std::string_view::npos) {
            return result + plain(url.substr(std::min(s, url.size())));
        }
        result += plain(url.substr(s, percent - s));
        // Up to two hexadecimal digits; reading stops at the first other character.
        int value = 0;
        for (size_t i = percent + 1; i < url.size() && i <= percent + 2; ++i) {
            int digit = HexValue(url[i]);
            if (digit < 0) {
                break;
            }
            value = value * 16 + digit;
        }
        result += static_cast<char>(value);
        s = percent + 3;
    }
}

} // namespace

std::string EncodeURL(std::string_view text, std::span<const bool> safeChars) {
    return Escape(text, safeChars, true);
}

std::string EncodePath(std::string_view text, std::span<const bool> safeChars) {
    return Escape(text, safeChars, false);
}

std::string DecodeURL(std::string_view url) {
    return Unescape(url, true);
}

std::string DecodePath(std::string_view path) {
    return Unescape(path, false);
}

void AppendEncodedPath(std::string& out, std::string_view text, std::span<const bool> safeChars) {
    AppendEscaped(out, text, safeChars, false);
}

} // namespace quenloft
