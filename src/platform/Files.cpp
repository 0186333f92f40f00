#include "platform/Files.h"

#include "base/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenloft::files {

namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

std::string BaseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens a regular file; O_NONBLOCK keeps a pipe swapped in from blocking the one thread.
int OpenRegular(const std::string& path, int flags, const std::string& source) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        RaiseFileError(errno, source);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
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
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
    Descriptor fd(OpenRegular(path, O_RDONLY, source));
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
    Descriptor fd(OpenRegular(path, O_WRONLY | O_CREAT | O_APPEND, source));
    WriteFully(fd.Get(), bytes, source);
}

AppendFile::~AppendFile() {
    Close();
}

void AppendFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void AppendFile::Append(const std::string& path, std::string_view bytes,
                        const std::string& source) {
    struct stat st {};
    bool same = fd_ >= 0 && path == path_ && ::stat(path.c_str(), &st) == 0 &&
                st.st_dev == device_ && st.st_ino == inode_;
    if (!same) {
        Close();
        fd_ = OpenRegular(path, O_WRONLY | O_CREAT | O_APPEND, source);
        ::fstat(fd_, &st);
        path_ = path;
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    AppendWhole(fd_, bytes, source);
}

void ReplaceAtomically(const std::string& path, std::string_view bytes, const std::string& source) {
    std::string temporary = path + ".tmp";
    try {
        Descriptor fd(OpenRegular(temporary, O_WRONLY | O_CREAT | O_TRUNC, source));
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

} // namespace quenloft::files
