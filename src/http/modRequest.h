// The parts of request handling that need no socket: framing, splitting a request,
// checking its version, mapping its target onto the served folder, URL coding, the
// content-type table and the listing page.
#pragma once

#include "http/clsMIME.h"
#include "platform/Folder.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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

// A media type of text, which a browser reads in some character set: "text/...",
// JavaScript, JSON and XML ones.
bool IsTextType(std::string_view type);

// A file name or target as page text in pure ASCII, so that every browser shows it right
// whatever character set it guesses. A valid UTF-8 sequence is one character, any other byte
// one character of ISO-8859-1; "&", quotes and angle brackets become entities, every
// character outside printable ASCII a numeric character reference ("&#233;").
std::string HtmlEscape(std::string_view text);

// URL coding over single bytes; `safeChars` flags the bytes URLEncode copies unchanged.
// EncodeURL and DecodeURL follow the rule of form fields (a space is "+"); in a path "+" is
// an ordinary character, so EncodePath writes a space as "%20" and DecodePath keeps "+".
std::string EncodeURL(std::string_view text, std::span<const bool> safeChars);
std::string DecodeURL(std::string_view url);
std::string EncodePath(std::string_view text, std::span<const bool> safeChars);
std::string DecodePath(std::string_view path);

// The local path that `target` names below `root` (given without a final "/"), or empty
// when it is refused: no root set, a target not beginning with "/", or a decoded path
// holding a NUL byte or a hidden segment (one beginning with ".", ".." among them). The
// query part ("?" and after) is not used. A "+" is itself; only when that names nothing
// and reading every "+" as a space names something, that reading is taken.
std::string MapTarget(std::string_view root, std::string_view target);

// The media type of an extension from the server's own table; empty when not listed.
std::string TableContentType(std::string_view extension);

// What the listing page shows besides the folder's entries.
struct ListingRequest {
    std::string Target;    // the request target as the client sent it
    std::string Folder;    // the local folder, ending with "/"
    double ParentDate = 0; // last modification of the folder that holds Folder
    bool ShowDate = false;
    bool ShowSize = false;
    std::string HostName; // named in the footer with the port
    int32_t Port = 0;
};
// The listing page of `entries`, in their order; it reads nothing but what it is given.
std::string ListingPage(const ListingRequest& request,
                        const std::vector<folder::FolderEntry>& entries,
                        std::span<const bool> safeChars);

} // namespace quenloft
