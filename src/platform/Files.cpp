#include "platform/Files.h"

#include "base/Error.h"
#include "platform/MessageLoop.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quenloft::files {

namespace {

std::string BaseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens a regular file; O_NONBLOCK keeps a pipe swapped in from blocking the one thread.
UniqueFd OpenRegular(const std::string& path, int flags, const std::string& source,
                     struct stat* info = nullptr) {
    UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!fd.IsOpen()) {
        RaiseFileError(errno, source);
    }
    struct stat own {};
    struct stat& st = info ? *info : own;
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        RaiseFileError(EISDIR, source);
    }
    return fd;
}

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is only durable once the folder that holds the new name is on disk too.
void SyncFolder(const std::string& folder, const std::string& source) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0) {
        RaiseFileError(errno, source);
    }
    // EINVAL: a file system that cannot sync folders; there is nothing more to do.
    if (::fsync(fd.Get()) != 0 && errno != EINVAL) {
        RaiseFileError(errno, source);
    }
}

// Writes all of `bytes`; on a failure returns its errno, `written` telling how much went out.
int WriteAll(int fd, std::string_view bytes, size_t& written) {
    written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        written += static_cast<size_t>(n);
    }
    return 0;
}

void WriteFully(int fd, std::string_view bytes, const std::string& source) {
    size_t written;
    if (int err = WriteAll(fd, bytes, written)) {
        RaiseFileError(err, source);
    }
}

// Appends all of `bytes` or none: a full disk takes the first part of a line and refuses
// the rest, and the next line would be glued to that part.
void AppendWhole(int fd, std::string_view bytes, const std::string& source) {
    size_t written;
    if (int err = WriteAll(fd, bytes, written)) {
        struct stat st {};
        if (written > 0 && ::fstat(fd, &st) == 0 && st.st_size >= off_t(written)) {
            [[maybe_unused]] int rc = ::ftruncate(fd, st.st_size - off_t(written));
        }
        RaiseFileError(err, source);
    }
}

// What the watch reports: a name in a folder on the way removed, or renamed from or to.
constexpr uint32_t PathChanges = IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_ONLYDIR;

struct PathStep {
    std::string Folder;
    std::string Name; // the name in Folder that the way to the file goes on by
};

// "/a/b/Log.dat" gives ("/a/b", "Log.dat"), ("/a", "b") and ("/", "a").
std::vector<PathStep> StepsTo(std::string path) {
    std::vector<PathStep> steps;
    while (!path.empty() && path != "/" && path != ".") {
        std::string name = BaseName(path);
        std::string folder = FolderOf(path);
        if (!name.empty() && name != ".") {
            steps.push_back({folder, name});
        }
        path = folder;
    }
    return steps;
}

} // namespace

void RaiseFileError(int err, const std::string& source) {
    switch (err) {
    case ENOENT:
        throw Error(53, "File not found", source);
    case EACCES:
    case EPERM:
    case EROFS:
        throw Error(70, "Permission denied", source);
    case ENOTDIR:
        throw Error(76, "Path not found", source);
    case ENOSPC:
    case EDQUOT:
        throw Error(61, "Disk full", source);
    case EMFILE:
    case ENFILE:
        throw Error(67, "Too many files", source);
    default:
        throw Error(75, "Path/File access error", source);
    }
}

bool IsHiddenName(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

bool FileExists(const std::string& path) {
    if (path.empty() || path.back() == '/' || IsHiddenName(BaseName(path))) {
        return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void DeleteFile(const std::string& path, const std::string& source) {
    if (::unlink(path.c_str()) != 0) {
        RaiseFileError(errno, source);
    }
}

std::string ReadAll(const std::string& path, const std::string& source) {
    UniqueFd fd = OpenRegular(path, O_RDONLY, source);
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            RaiseFileError(errno, source);
        }
        if (n == 0) {
            return out;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

void AppendBytes(const std::string& path, std::string_view bytes, const std::string& source) {
    UniqueFd fd = OpenRegular(path, O_WRONLY | O_CREAT | O_APPEND, source);
    WriteFully(fd.Get(), bytes, source);
}

AppendFile::~AppendFile() {
    Close();
}

void AppendFile::Close() {
    StopWatching();
    fd_.Reset();
    pathChanged_ = false;
}

void AppendFile::Append(const std::string& path, std::string_view bytes,
                        const std::string& source) {
    if (!StillAtPath(path)) {
        Open(path, source);
    }
    AppendWhole(fd_.Get(), bytes, source);
}

bool AppendFile::StillAtPath(const std::string& path) const {
    if (!fd_.IsOpen() || path != path_ || pathChanged_) {
        return false;
    }
    return watchFd_.IsOpen() || PathNamesFile(); // a watch would have told
}

bool AppendFile::PathNamesFile() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
}

void AppendFile::Open(const std::string& path, const std::string& source) {
    Close();
    struct stat st {};
    fd_ = OpenRegular(path, O_WRONLY | O_CREAT | O_APPEND, source, &st);
    path_ = path;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    // A change between the open and the start of the watch is looked for once.
    pathChanged_ = StartWatching(path) && !PathNamesFile();
}

bool AppendFile::StartWatching(const std::string& path) {
    watchFd_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!watchFd_.IsOpen()) {
        return false;
    }
    for (const auto& [folder, name] : StepsTo(path)) {
        int watch = ::inotify_add_watch(watchFd_.Get(), folder.c_str(), PathChanges);
        if (watch < 0) {
            DropWatch();
            return false;
        }
        watched_.push_back({watch, name});
    }
    bool noticed = false;
    try {
        noticed = ProgramLoop().WatchDescriptor(watchFd_.Get(), [this] { ReadWatch(); });
    } catch (const std::system_error&) {
        // no loop: the path is looked at before each write
    }
    if (!noticed) {
        DropWatch();
    }
    return noticed;
}

void AppendFile::StopWatching() {
    if (watchFd_.IsOpen()) {
        ProgramLoop().WatchDescriptor(watchFd_.Get(), {});
        DropWatch();
    }
}

void AppendFile::DropWatch() {
    watchFd_.Reset();
    watched_.clear();
}

bool AppendFile::Concerns(int watch, uint32_t mask, std::string_view name) const {
    if (mask & IN_Q_OVERFLOW) {
        return true; // news was lost: assume the worst
    }
    for (const WatchedName& watched : watched_) {
        if (watched.Watch == watch) {
            // IN_IGNORED: the folder itself is gone (or unmounted), and its watch with it.
            return (mask & IN_IGNORED) || name == watched.Name;
        }
    }
    return false;
}

// Called by the loop when the watch has news: reads all of it.
void AppendFile::ReadWatch() {
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while ((n = ::read(watchFd_.Get(), buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            std::string_view name(event->name, strnlen(event->name, event->len));
            pathChanged_ = pathChanged_ || Concerns(event->wd, event->mask, name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void ReplaceAtomically(const std::string& path, std::string_view bytes, const std::string& source) {
    std::string temporary = path + ".tmp";
    try {
        UniqueFd fd = OpenRegular(temporary, O_WRONLY | O_CREAT | O_TRUNC, source);
        WriteFully(fd.Get(), bytes, source);
        if (::fsync(fd.Get()) != 0) {
            RaiseFileError(errno, source);
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            RaiseFileError(errno, source);
        }
    } catch (const Error&) {
        ::unlink(temporary.c_str()); // a full disk leaves no part-written file behind
        throw;
    }
    SyncFolder(FolderOf(path), source);
}

void CreateFolders(const std::string& path) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (!partial.empty()) {
            ::mkdir(partial.c_str(), 0755);
        }
    }
}

bool IsLocalFileSystem(uint64_t type) {
    switch (type) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0x01021994: // tmpfs
    case 0xF2F52010: // f2fs
    case 0x2FC12FC1: // zfs
        return true;
    default:
        return false;
    }
}

} // namespace quenloft::files
