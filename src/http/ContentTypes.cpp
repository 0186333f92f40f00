// The content-type table; see ContentTypes.h.
#include "http/ContentTypes.h"

#include "base/AsciiCase.h"

#include <array>
#include <unordered_map>

namespace quenloft {

namespace {

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

} // namespace

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

bool IsTextType(std::string_view type) {
    std::string t = LowerAscii(type);
    return t.starts_with("text/") || t == "application/javascript" || t == "application/json" ||
           t == "application/xml" || t.ends_with("+xml");
}

} // namespace quenloft
