// Small text helpers on file names and on texts shown, logged or escaped: the layers above
// use them for paths, listings, URLs, the log and the stores' messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenloft {

// Text after the last "." of FileName; the whole name when it has none.
std::string GetExtension(std::string_view fileName);
// FileName up to and including its last "/"; empty when it has none.
std::string GetFolder(std::string_view fileName);
// The first p - skip characters of text, p being the 1-based position of the last `find`
// lying wholly within the first `start` characters (-1: the whole text). Fails with 5
// for start 0 (or below -1) and for a skip greater than p.
std::string LeftOfLast(std::string_view text, std::string_view find, int32_t start, int32_t skip);
// Text itself, or its first maxLength - 3 characters and "..." when it is longer.
std::string ShortenText(std::string_view text, int32_t maxLength);
// The parts of `text` between separators, as views of it; an empty text is one empty part.
std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator);
// Text without the spaces and tabs at its ends.
std::string_view TrimSpace(std::string_view text);
// Gives back the memory of a text that once grew large, keeping at most `spare` bytes
// beyond its size: a long-lived connection's buffers hold no more than they need.
void ReturnSpare(std::string& text, size_t spare);

// Appends `prefix` and the byte as two upper-case hexadecimal digits: the escape of a byte
// in a URL ("%2F") and in the log ("\\x0A").
inline void AppendHexEscape(std::string& out, std::string_view prefix, unsigned char byte) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    out += prefix;
    out += Digits[byte >> 4];
    out += Digits[byte & 15];
}

} // namespace quenloft
