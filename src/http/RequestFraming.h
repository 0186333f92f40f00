// Request framing: where a request ends in the bytes received, its lines and header lines.
#pragma once

#include "http/clsMIME.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenloft {

// The most bytes a request head may take, and a connection may hold unanswered.
inline constexpr size_t MaxRequestHead = 64 * 1024;

// The position just after the first empty line (CR LF CR LF) of `buffer`, or npos. The
// first `scanned` bytes are known to hold none (they were searched when they arrived), so
// a head that trickles in byte by byte is searched once, not once per arrival.
size_t FindRequestEnd(std::string_view buffer, size_t scanned = 0);

// The bytes of the empty lines (CR LF) at the front of `buffer`: line ends that clients
// send before a request line, which are no request.
size_t LeadingEmptyLines(std::string_view buffer);

// A request split at every CR LF into lines, and line 0 at every space into fields: views
// of the request's text, which must outlive them.
struct RequestText {
    std::vector<std::string_view> Lines;
    std::vector<std::string_view> Fields;
};
RequestText SplitRequest(std::string_view request);

// Header lines 1 to the last, each split at every ": ": the first two parts of a line
// with at least two are added as name and value; nothing is trimmed.
void ParseHeaders(const std::vector<std::string_view>& lines, clsMIME& into);

// "HTTP/" digit "." digit: the only versions echoed into status lines.
bool IsValidVersion(std::string_view version);
// A request line of three fields whose version is valid; any other is answered 400.
bool IsWellFormed(const RequestText& text);

// The first line of a refused head for its log line: as far as it came, and cut to at most
// 1024 characters ("..." ending a cut one), however long the line a client sends.
std::string RefusedFirstLine(std::string_view head);

// The value of every header line (1 to the last) named `name` in any letter case, without
// the spaces around it. Looser than the header list: a colon needs no space after it.
std::vector<std::string_view> FieldValues(const std::vector<std::string_view>& lines,
                                          std::string_view name);

// A head whose lines announce a body (Content-Length above 0, or Transfer-Encoding).
bool AnnouncesBody(const std::vector<std::string_view>& lines);

// The value of the request's one "Range" header when it is to be honoured: not when there
// are several, nor beside an "If-Range" (the server offers no validator it could match).
std::optional<std::string_view> RangeAsked(const std::vector<std::string_view>& lines);

} // namespace quenloft
