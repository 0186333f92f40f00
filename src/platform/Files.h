// The file services the program uses: whole-file reads and writes, appending a line,
// folders, and an existence test that sees only ordinary files.
#pragma once

#include "platform/UniqueFd.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenloft::files {

// A name that the file system hides: it begins with ".".
bool IsHiddenName(std::string_view name);

// True when `path` names an existing regular file (links followed) whose own name
// is not hidden. Folders, devices, pipes and sockets never pass. Never fails.
bool FileExists(const std::string& path);

// These fail with an Error whose source is `source` (runtime file error numbers:
// 53 file not found, 70 permission denied, 75 path/file access error, 76 path not found,
// 61 disk full, 67 too many files: out of descriptors).
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

// The local disk and memory file systems (ext2-4, xfs, btrfs, tmpfs, f2fs, zfs): they see
// every change made to their files and give each change its own change time. Network and
// user-space file systems may report what they have not checked with a server. `type` is
// a statfs f_type.
bool IsLocalFileSystem(uint64_t type);

// A file that lines are appended to, kept open between writes. An inotify watch on the way
// to the file (each folder, for the next name on the way) tells through the program's
// message loop when the file, or a folder above it, is removed, renamed or replaced; the
// next write then reopens (and creates) the file at the path. So a write costs one system
// call, and every write lands in the file the path named when the loop last polled. Where
// no watch can be set up, the path is looked at before each write instead.
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
    struct WatchedName {
        int Watch;
        std::string Name;
    };

    bool StillAtPath(const std::string& path) const;
    bool PathNamesFile() const;
    void Open(const std::string& path, const std::string& source);
    bool StartWatching(const std::string& path);
    void StopWatching();
    void DropWatch();
    void ReadWatch();
    bool Concerns(int watch, uint32_t mask, std::string_view name) const;

    UniqueFd fd_;
    std::string path_;
    unsigned long device_ = 0, inode_ = 0; // what the path named at the open
    UniqueFd watchFd_;                     // inotify, or none when the path is looked at
    std::vector<WatchedName> watched_;
    bool pathChanged_ = false; // the watch saw a change since the open
};

// The Error for an errno value, with the runtime's file error numbers.
[[noreturn]] void RaiseFileError(int err, const std::string& source);

} // namespace quenloft::files
