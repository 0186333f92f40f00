// Request framing and request text; see RequestFraming.h.
#include "http/RequestFraming.h"

#include "base/AsciiCase.h"
#include "base/TextHelpers.h"

#include <algorithm>
#include <cstdint>

namespace quenloft {

namespace {

constexpr std::string_view CrLf = "\r\n";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

size_t FindRequestEnd(std::string_view buffer, size_t scanned) {
    size_t at = buffer.find("\r\n\r\n", scanned > 3 ? scanned - 3 : 0);
    return at == std::string_view::npos ? at : at + 4;
}

size_t LeadingEmptyLines(std::string_view buffer) {
    size_t at = 0;
    while (buffer.substr(at, 2) == CrLf) {
        at += 2;
    }
    return at;
}

RequestText SplitRequest(std::string_view request) {
    RequestText text;
    text.Lines = SplitAt(request, CrLf);
    text.Fields = SplitAt(text.Lines.front(), " ");
    return text;
}

void ParseHeaders(const std::vector<std::string_view>& lines, clsMIME& into) {
    constexpr std::string_view Separator = ": ";
    for (size_t i = 1; i < lines.size(); ++i) {
        size_t end = lines[i].find(Separator);
        if (end == std::string_view::npos) {
            continue;
        }
        std::string_view rest = lines[i].substr(end + Separator.size());
        into.Add(std::string(lines[i].substr(0, end)),
                 std::string(rest.substr(0, rest.find(Separator))));
    }
}

bool IsValidVersion(std::string_view version) {
    return version.size() == 8 && version.substr(0, 5) == "HTTP/" && IsDigit(version[5]) &&
           version[6] == '.' && IsDigit(version[7]);
}

bool IsWellFormed(const RequestText& text) {
    return text.Fields.size() == 3 && IsValidVersion(text.Fields[2]);
}

std::string RefusedFirstLine(std::string_view head) {
    constexpr int32_t MostLogged = 1024;
    head.remove_prefix(LeadingEmptyLines(head));
    return ShortenText(head.substr(0, head.find(CrLf)), MostLogged);
}

std::vector<std::string_view> FieldValues(const std::vector<std::string_view>& lines,
                                          std::string_view name) {
    std::vector<std::string_view> values;
    for (size_t i = 1; i < lines.size(); ++i) {
        size_t colon = lines[i].find(':');
        if (colon != std::string_view::npos &&
            EqualsIgnoringCase(TrimSpace(lines[i].substr(0, colon)), name)) {
            values.push_back(TrimSpace(lines[i].substr(colon + 1)));
        }
    }
    return values;
}

bool AnnouncesBody(const std::vector<std::string_view>& lines) {
    if (!FieldValues(lines, "Transfer-Encoding").empty()) {
        return true;
    }
    // A length that is not plainly zero might announce a body; it is never read.
    auto zero = [](std::string_view value) {
        return !value.empty() &&
               std::all_of(value.begin(), value.end(), [](char c) { return c == '0'; });
    };
    auto lengths = FieldValues(lines, "Content-Length");
    return !std::all_of(lengths.begin(), lengths.end(), zero);
}

std::optional<std::string_view> RangeAsked(const std::vector<std::string_view>& lines) {
    auto ranges = FieldValues(lines, "Range");
    if (ranges.size() != 1 || !FieldValues(lines, "If-Range").empty()) {
        return std::nullopt;
    }
    return ranges.front();
}

} // namespace quenloft
