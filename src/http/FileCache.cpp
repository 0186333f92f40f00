// Kept contents of small files, checked against the file's status at every use; see
// FileCache.h.
#include "http/FileCache.h"

#include "platform/Files.h"

#include <cerrno>
#include <ctime>
#include <sys/statfs.h>
#include <unistd.h>

namespace quenloft {

namespace {

// Longer than the coarsest granularity of the times of the file systems that qualify
// (whole seconds, on ext4 with small inodes).
constexpr std::chrono::seconds Settled{2};

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The same file in the same state, as far as a stat can tell.
bool SameStatus(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mode == b.st_mode && a.st_uid == b.st_uid && a.st_gid == b.st_gid &&
           SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
}

// The file last changed longer ago than any later change could share its change time.
bool ChangedLongAgo(const struct stat& status) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - status.st_ctim.tv_sec > Settled.count();
}

// Local file systems that give every change its own change time, to the nanosecond or the
// second; FAT-like ones have no change time at all.
bool KeepsExactTimes(int fd) {
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 && files::IsLocalFileSystem(static_cast<uint64_t>(fs.f_type));
}

// All `size` bytes of the file from its start, or false when it ended early or failed.
bool ReadWhole(int fd, std::string& bytes, size_t size) {
    bytes.resize(size);
    for (size_t got = 0; got < size;) {
        ssize_t n = ::pread(fd, bytes.data() + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

FileCache::Contents FileCache::Find(const std::string& path) {
    bool changed = false;
    const Kept* kept = files_.Use(path, [&](const Kept& k) {
        struct stat now {};
        changed = ::stat(path.c_str(), &now) != 0 || !SameStatus(now, k.Status);
        return !changed;
    });
    if (changed) {
        files_.Forget(path);
    }
    return kept ? kept->Bytes : nullptr;
}

FileCache::Contents FileCache::Keep(const std::string& path, int fd, const struct stat& status) {
    if (!S_ISREG(status.st_mode) || status.st_size > MostFileBytes || !ChangedLongAgo(status) ||
        !KeepsExactTimes(fd)) {
        return nullptr;
    }
    auto bytes = std::make_shared<std::string>();
    struct stat after {};
    if (!ReadWhole(fd, *bytes, static_cast<size_t>(status.st_size)) || ::fstat(fd, &after) != 0 ||
        !SameStatus(after, status)) {
        return nullptr; // it changed while it was read
    }
    files_.Keep(path, Kept{bytes, status}, bytes->size());
    return bytes;
}

} // namespace quenloft
