// The request log: one text line per request, appended to one file.
#pragma once

#include "platform/Files.h"

#include <memory>
#include <string>
#include <string_view>

namespace quenloft {

class clsLog {
public:
    const std::string& FileName() const { return fileName_; }
    void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }

    // Appends the text and CR LF; control bytes are written as \xNN so that a client
    // cannot forge lines. Fails with an Error when the file cannot be written; a line that
    // does not fit whole (a full disk) leaves nothing of itself, so the log holds whole lines.
    void AddString(std::string_view text) const;
    // Deletes the file if it exists.
    void ClearLog() const;
    // The whole file; a missing file is created empty.
    std::string ReadFile() const;

private:
    std::string fileName_;
    // Kept open between lines; it follows the path, so copies may share it.
    std::shared_ptr<files::AppendFile> file_ = std::make_shared<files::AppendFile>();
};

} // namespace quenloft
