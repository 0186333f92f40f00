// The contents of small files recently served, so that serving one again costs one stat of
// its path instead of open, fstat, read and close, and holds no descriptor between answers.
//
// Kept contents stand for a file only while a stat of its path gives the status they were
// read under: device, inode, size, mode, owner, and the modification and change times to
// the nanosecond. Every change to a file's bytes, length, mode or owner sets its change
// time to the present, and nothing can set it back, so a change after the read is seen
// unless it lands on the very change time the contents were read under. That can only
// happen within the granularity of the file system's times, so contents are kept only when
// the file last changed safely longer ago than that, on a local file system whose times
// are that exact. Contents nobody asked for during the keep time are forgotten by a timer
// of the program's loop, and their memory is given back. For the loop's thread only.
#pragma once

#include "platform/KeptCache.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace quenloft {

class FileCache {
public:
    using Contents = std::shared_ptr<const std::string>;
    // A larger file is never kept: from 32 KiB on, its pieces go out faster by sendfile from
    // the open file than by copies from memory.
    static constexpr int64_t MostFileBytes = 16 * 1024;
    static constexpr size_t MostBytes = 4 << 20; // all kept contents together
    static constexpr size_t MostFiles = 1024;

    FileCache() = default;
    FileCache(const FileCache&) = delete;
    FileCache& operator=(const FileCache&) = delete;

    // The kept contents of the file at `path` when a stat of the path now gives the status
    // they were read under; else null (and contents that no longer stand for it go).
    Contents Find(const std::string& path);
    // Reads the regular file open as `fd`, found at `path` with `status` (its fstat), and
    // keeps its contents when the file qualifies and did not change while it was read.
    // Returns them, or null when nothing was kept.
    Contents Keep(const std::string& path, int fd, const struct stat& status);

    // Contents are forgotten once nobody has asked for them for this long (10 s unless set).
    void KeepFor(std::chrono::milliseconds time) { files_.KeepFor(time); }
    size_t KeptFiles() const { return files_.Kept(); }
    size_t KeptBytes() const { return files_.Bytes(); }
    void Clear() { files_.Clear(); }

private:
    struct Kept {
        Contents Bytes;
        struct stat Status;
    };

    KeptCache<std::string, Kept> files_{MostFiles, MostBytes};
};

} // namespace quenloft
