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
void WriteAll(const std::string& path, std::string_view bytes, const std::string& source = {});
// Appends `text` and CR LF with one write, creating the file when missing.
void AppendLine(const std::string& path, std::string_view text, const std::string& source = {});
// Appends bytes as they are with one write, creating the file when missing.
void AppendBytes(const std::string& path, std::string_view bytes, const std::string& source = {});
// Writes a temporary file beside `path`, flushes it to disk and renames it over `path`,
// so `path` holds either its old or its new contents, never a part.
void ReplaceAtomically(const std::string& path, std::string_view bytes,
                       const std::string& source = {});
// Creates `path` and every missing parent; an existing folder is fine. Never fails.
void CreateFolders(const std::string& path);

// The Error for an errno value, with the runtime's file error numbers.
[[noreturn]] void RaiseFileError(int err, const std::string& source);

} // namespace quenloft::files
