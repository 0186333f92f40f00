// Reads the system's media-type database once; see MediaTypes.h.
#include "platform/MediaTypes.h"

#include "base/AsciiCase.h"
#include "base/Error.h"
#include "platform/Files.h"

namespace quenloft::mediatypes {

namespace {

constexpr std::string_view DatabaseFile = "/etc/mime.types";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The words of one line, up to a "#".
std::vector<std::string_view> Words(std::string_view line) {
    line = line.substr(0, line.find('#'));
    std::vector<std::string_view> words;
    size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && IsBlank(line[pos])) {
            ++pos;
        }
        size_t end = pos;
        while (end < line.size() && !IsBlank(line[end])) {
            ++end;
        }
        if (end > pos) {
            words.push_back(line.substr(pos, end - pos));
        }
        pos = end;
    }
    return words;
}

const std::unordered_map<std::string, std::string>& Database() {
    static const auto database = [] {
        std::string text;
        ResumeNext([&] { text = files::ReadAll(std::string(DatabaseFile)); });
        return ParseMediaTypes(text);
    }();
    return database;
}

} // namespace

std::unordered_map<std::string, std::string> ParseMediaTypes(std::string_view text) {
    std::unordered_map<std::string, std::string> types;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        auto words = Words(line);
        for (size_t i = 1; i < words.size(); ++i) {
            types.emplace(LowerAscii(words[i]), std::string(words[0]));
        }
    }
    return types;
}

std::string LookupMediaType(std::string_view extension) {
    const auto& database = Database();
    auto found = database.find(LowerAscii(extension));
    return found == database.end() ? std::string() : found->second;
}

} // namespace quenloft::mediatypes
