#include "store/clsLog.h"

#include "base/TextHelpers.h"
#include "platform/Files.h"

namespace quenloft {

namespace {

// Control bytes would let a client end a line early and forge the next one.
std::string EscapeControlBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127) {
            AppendHexEscape(out, "\\x", b);
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

void clsLog::AddString(std::string_view text) const {
    std::string line = EscapeControlBytes(text);
    line += "\r\n";
    file_->Append(fileName_, line, "clsLog.AddString");
}

void clsLog::ClearLog() const {
    if (files::FileExists(fileName_)) {
        files::DeleteFile(fileName_, "clsLog.ClearLog");
    }
}

std::string clsLog::ReadFile() const {
    files::AppendBytes(fileName_, {}, "clsLog.ReadFile"); // creates a missing file
    return files::ReadAll(fileName_, "clsLog.ReadFile");
}

} // namespace quenloft
