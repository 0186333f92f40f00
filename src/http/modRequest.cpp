// Request text, target mapping, URL coding, the content-type table and the listing page.
#include "http/modRequest.h"

#include "base/AsciiCase.h"
#include "base/Error.h"
#include "base/OleDate.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "platform/Files.h"
#include "platform/Folder.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <unordered_map>

namespace quenloft {

namespace {

constexpr std::string_view CrLf = "\r\n";

// The parts of `text` between separators, as views of it.
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

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (IsDigit(c)) {
        return c - '0';
    }
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string Spaces(int64_t count) {
    return std::string(static_cast<size_t>(std::max<int64_t>(count, 0)), ' ');
}

// The bytes of the character at `at`: a valid UTF-8 sequence, else one byte.
size_t CharacterLength(std::string_view bytes, size_t at) {
    return static_cast<unsigned char>(bytes[at]) < 0x80 ? 1 : Utf8SequenceLength(bytes.substr(at));
}

// The character at `at`, which moves past it: a valid UTF-8 sequence is one character, any
// other byte one character of ISO-8859-1.
char32_t NextCharacter(std::string_view bytes, size_t& at) {
    size_t length = CharacterLength(bytes, at);
    char32_t c = length > 1 ? Utf8Code(bytes.substr(at, length))
                            : static_cast<char32_t>(static_cast<unsigned char>(bytes[at]));
    at += length;
    return c;
}

size_t CharacterCount(std::string_view bytes) {
    size_t count = 0;
    for (size_t at = 0; at < bytes.size(); ++count) {
        at += CharacterLength(bytes, at);
    }
    return count;
}

// One character as page text in pure ASCII, so that every browser shows it right whatever
// character set it guesses: "&", quotes and angle brackets become entities, a character
// outside printable ASCII a numeric character reference ("&#233;").
void AppendPageCharacter(std::string& out, char32_t c) {
    switch (c) {
    case '&':
        out += "&amp;";
        break;
    case '<':
        out += "&lt;";
        break;
    case '>':
        out += "&gt;";
        break;
    case '"':
        out += "&quot;";
        break;
    case '\'':
        out += "&#39;";
        break;
    default:
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char digits[10];
            char* end = std::to_chars(digits, digits + sizeof digits, uint32_t{c}).ptr;
            out.append("&#").append(digits, end).append(";");
        }
    }
}

// The first `most` characters of `bytes` as page text.
void AppendPageText(std::string& out, std::string_view bytes, size_t most) {
    for (size_t at = 0, shown = 0; at < bytes.size() && shown < most; ++shown) {
        AppendPageCharacter(out, NextCharacter(bytes, at));
    }
}

// Text whose every byte is one character that a page shows as it is, as most names are.
bool IsPlainText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c >= 32 && c < 127 && c != '&' && c != '<' && c != '>' && c != '"' && c != '\'';
    });
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

// The local path for a target's path part, or empty when it is refused.
std::string LocalPath(std::string_view root, std::string_view path, bool plusAsSpace) {
    std::string decoded = Unescape(path, plusAsSpace);
    if (decoded.find('\0') != std::string::npos) {
        return {};
    }
    // A hidden name hides what lies below it too; "." and ".." are among them.
    for (std::string_view segment : SplitAt(decoded, "/")) {
        if (files::IsHiddenName(segment)) {
            return {};
        }
    }
    return (root == "/" ? std::string() : std::string(root)) + decoded;
}

bool NamesSomething(const std::string& path) {
    return files::FileExists(path) || folder::FolderExists(path);
}

// One row of the table: the extensions it lists and its result; a result ending in
// "+" is followed by the extension in the caller's letter case.
struct ContentTypeRow {
    std::array<std::string_view, 5> Extensions;
    std::string_view Result;
};

constexpr ContentTypeRow ContentTypes[] = {
    {{"gif", "ief", "rgb", "cgm", "fif"}, "image/+"},
    {{"png", "cmx", "pict"}, "image/x-+"},
    {{"jpg", "jpeg", "jpe"}, "image/jpeg"},
    {{"tiff", "tif"}, "image/tiff"},
    {{"xbm"}, "image/x-xbitmap"},
    {{"xpm"}, "image/x-xpixmap"},
    {{"g3f"}, "image/g3fax"},
    {{"rtf", "pdf", "zip", "exe"}, "application/+"},
    {{"ai", "eps", "ps"}, "application/postscript"},
    {{"mpeg", "mpg", "mpe"}, "movie/mpeg"},
    {{"ql", "mov"}, "video/quicktime"},
    {{"avi"}, "video/x-msvideo"},
    {{"movie"}, "video/x-sgi-movie"},
    {{"css"}, "text/css"},
    {{"html", "htm"}, "text/html"},
};

// The parent of the decoded target's folder, with its final "/"; the root is its own.
std::string ParentPath(const std::string& decoded) {
    std::string parent = "/";
    ResumeNext([&] { parent = LeftOfLast(decoded, "/", -1, 0); });
    ResumeNext(
        [&] { parent = LeftOfLast(parent, "/", static_cast<int32_t>(parent.size()) - 1, 0); });
    return parent;
}

std::string HeaderRow(const ListingRequest& request) {
    std::string row = "<pre>" + Spaces(6) + "<strong>Name</strong>" + Spaces(35);
    if (request.ShowDate) {
        row += "<strong>Last modified</strong>" + Spaces(9);
    }
    if (request.ShowSize) {
        row += "<strong>Size</strong>\r\n";
    }
    return row;
}

// The target's path as it was mapped onto the folder: a "+" in it is literal unless only
// its reading as a space named the folder.
std::string MappedPath(const ListingRequest& request) {
    std::string_view path = std::string_view(request.Target).substr(0, request.Target.find('?'));
    std::string literal = DecodePath(path);
    return request.Folder.ends_with(literal) ? literal : DecodeURL(path);
}

// A date as the listing shows it: the locale's text, escaped as names are, so that the
// page stays pure ASCII in every locale.
std::string DateText(double date) {
    std::string text = OleDateText(date);
    return IsPlainText(text) ? text : HtmlEscape(text);
}

std::string ParentRow(const ListingRequest& request, std::span<const bool> safeChars) {
    std::string parent = ParentPath(MappedPath(request));
    std::string row = "<hr>[DIR] <a href=\"" + EncodePath(parent, safeChars) +
                      "\">Parent Directory</a>" + Spaces(23);
    if (request.ShowDate) {
        row += DateText(request.ParentDate);
    }
    return row + Spaces(3) + "- \r\n";
}

// The date text of the previous row, which the next row often shares.
struct DateTexts {
    double Date = -1;
    std::string Text;
    const std::string& Of(double date) {
        if (date != Date) {
            Date = date;
            Text = DateText(date);
        }
        return Text;
    }
};

// Appends the name as the listing shows it: at most 37 characters, a longer one cut to its
// first 34 and "...". Characters, not bytes, so that a cut never splits one. Returns how
// many characters it shows.
size_t AppendShownName(std::string& page, std::string_view name) {
    constexpr size_t MostShown = 37;
    bool plain = IsPlainText(name); // most names: a byte is a character and shows as it is
    size_t count = plain ? name.size() : CharacterCount(name);
    size_t kept = count <= MostShown ? count : MostShown - 3;
    if (plain) {
        page.append(name.substr(0, kept));
    } else {
        AppendPageText(page, name, kept);
    }
    if (kept < count) {
        page.append("...");
        return MostShown;
    }
    return count;
}

// Appends one row; the caller takes it back out when a step of it fails.
void AppendEntryRow(std::string& page, const ListingRequest& request,
                    const folder::FolderEntry& entry, std::span<const bool> safeChars,
                    DateTexts& dates) {
    constexpr size_t NameColumn = 38; // the shown name and the spaces after it
    page.append(6, ' ').append("<a href=");
    AppendEscaped(page, entry.Name, safeChars, false);
    if (entry.IsFolder) {
        page += '/';
    }
    page += '>';
    size_t shown = AppendShownName(page, entry.Name);
    page.append("</a> ").append(NameColumn - shown, ' ');
    if (request.ShowDate) {
        page.append(dates.Of(entry.Modified)).append(3, ' ');
    }
    if (request.ShowSize) {
        char digits[24];
        page.append(digits, std::to_chars(digits, digits + sizeof digits, entry.Length).ptr);
    }
    page.append("\r\n");
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

bool IsTextType(std::string_view type) {
    std::string t = LowerAscii(type);
    return t.starts_with("text/") || t == "application/javascript" || t == "application/json" ||
           t == "application/xml" || t.ends_with("+xml");
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendPageText(out, text, std::string_view::npos);
    return out;
}

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

std::string MapTarget(std::string_view root, std::string_view target) {
    if (root.empty() || root.front() != '/' || target.empty() || target.front() != '/') {
        return {};
    }
    std::string_view path = target.substr(0, target.find('?'));
    std::string local = LocalPath(root, path, false);
    // Earlier listings linked a space as "+", and bookmarks keep such links: a "+" is read as
    // a space only when that names something and the "+" itself names nothing.
    if (path.find('+') != std::string_view::npos && !NamesSomething(local)) {
        std::string spaced = LocalPath(root, path, true);
        if (NamesSomething(spaced)) {
            return spaced;
        }
    }
    return local;
}

std::string TableContentType(std::string_view extension) {
    // The table by extension, built once; where an extension is listed twice, the first
    // row holds.
    static const auto rows = [] {
        std::unordered_map<std::string_view, const ContentTypeRow*> byExtension;
        for (const ContentTypeRow& row : ContentTypes) {
            for (std::string_view listed : row.Extensions) {
                if (!listed.empty()) {
                    byExtension.emplace(listed, &row);
                }
            }
        }
        return byExtension;
    }();
    auto found = rows.find(LowerAscii(extension));
    if (found == rows.end()) {
        return {};
    }
    std::string_view result = found->second->Result;
    if (result.back() == '+') {
        return std::string(result.substr(0, result.size() - 1)) + std::string(extension);
    }
    return std::string(result);
}

std::string ListingPage(const ListingRequest& request,
                        const std::vector<folder::FolderEntry>& entries,
                        std::span<const bool> safeChars) {
    std::string title = HtmlEscape(request.Target.substr(0, request.Target.find('?')));
    std::string page = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\r\n"
                       "<html>\r\n<head>\r\n<title>Index of " +
                       title + "</title>\r\n</head>\r\n<body>\r\n<h1>Index of " + title +
                       "</h1>\r\n";
    page += HeaderRow(request);
    page += ParentRow(request, safeChars);
    page.reserve(page.size() + entries.size() * 128 + 256);
    DateTexts dates;
    for (const folder::FolderEntry& entry : entries) {
        size_t mark = page.size();
        if (!ResumeNext([&] { AppendEntryRow(page, request, entry, safeChars, dates); })) {
            page.resize(mark);
        }
    }
    page += "</pre><hr>\r\n<address>Quenloft at " + HtmlEscape(request.HostName) + " Port " +
            std::to_string(request.Port) + "</address>\r\n</body></html>";
    return page;
}

} // namespace quenloft
