// The file services the program uses: whole-file reads and writes, appending a line,
// folders, and an existence test that sees only ordinary files.
#pragma once

#include <string>
#include <string_view>

namespace quenloft::files {

// A name that the file system hides: it begins with ".".
bool IsHiddenName(std::string_view name);

// True when `path` names an existing regular file (links followed) whose own name
// is not hidden. Folders, devices, pipes and sockets never pass. Never fails.
bool FileExists(const std::string& path);

// These fail with an Error whose source is `source` (runtime file error numbers:
// 53 file not found, 70 permission denied, 75 path/file access error, 76 path not found,
// 61 disk full).
void DeleteFile(const std::string& path, const std::string& source = {});
std::string ReadAll(const std::string& path, const std::string& source = {});
// Appends bytes as they are with one write, creating the file when missing.
void AppendBytes(const std::string& path, std::string_view bytes, const std::string& source = {});
// Writes a temporary file beside `path`, flushes it to disk, renames it over `path` and
// flushes the folder, so `path` holds either its old or its new contents, never a part,
// and the new contents survive a power loss once this returns.
void ReplaceAtomically(const std::string& path, std::string_view bytes,
                       const std::string& source = {});
// Creates `path` and every missing parent; an existing folder is fine. Never fails.
void CreateFolders(const std::string& path);

// A file that lines are appended to, kept open between writes. Before each write the
// path is looked at again: a file that was removed, renamed or replaced is reopened (and
// created), so every write lands in the file the path names at that moment.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Appends all of `bytes` on an O_APPEND descriptor, or none of them: what a failing
    // write left of them (a full disk takes part of a line) is cut off again.
    void Append(const std::string& path, std::string_view bytes, const std::string& source);
    void Close();

private:
    int fd_ = -1;
    std::string path_;
    unsigned long device_ = 0, inode_ = 0;
};

// The Error for an errno value, with the runtime's file error numbers.
[[noreturn]] void RaiseFileError(int err, const std::string& source);

} // namespace quenloft::files
