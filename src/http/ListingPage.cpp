// The listing page; see ListingPage.h.
#include "http/ListingPage.h"

#include "base/Error.h"
#include "base/OleDate.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "http/URLCoding.h"

#include <algorithm>
#include <charconv>

namespace quenloft {

namespace {

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
    AppendEncodedPath(page, entry.Name, safeChars);
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

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendPageText(out, text, std::string_view::npos);
    return out;
}

} // namespace quenloft
