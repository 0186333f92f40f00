// The open file of an answer; see FileTransfer.h.
#include "http/FileTransfer.h"

#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quenloft {

bool FileTransfer::Open(const std::string& path, FileCache& kept) {
    Close();
    // Opening is the existence test, and the opened file is judged: one call for its
    // length and kind. O_NONBLOCK: a pipe can never block the loop; it is not a regular
    // file and is closed at once. Kept contents that still stand for the file spare both.
    std::string_view name = std::string_view(path).substr(path.find_last_of('/') + 1);
    if (name.empty() || files::IsHiddenName(name)) {
        return false;
    }
    if ((contents_ = kept.Find(path))) {
        Select(0, size_ = static_cast<int64_t>(contents_->size()));
        return true;
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    // No descriptor is held for a file sent from memory.
    if (!(contents_ = kept.Keep(path, fd.Get(), st))) {
        descriptor_ = std::move(fd);
    }
    Select(0, size_ = static_cast<int64_t>(st.st_size));
    return true;
}

void FileTransfer::Select(int64_t first, int64_t end) {
    position_ = first;
    end_ = end;
}

void FileTransfer::Close() {
    descriptor_.Reset();
    contents_.reset();
}

// Up to `count` bytes from `offset`: fewer when the file ends early or fails.
std::string FileTransfer::Read(int64_t offset, int64_t count) const {
    count = std::max<int64_t>(std::min(count, size_ - offset), 0);
    if (contents_) {
        return contents_->substr(static_cast<size_t>(offset), static_cast<size_t>(count));
    }
    std::string bytes(static_cast<size_t>(count), '\0');
    ssize_t n;
    do {
        n = ::pread(descriptor_.Get(), bytes.data(), bytes.size(), offset);
    } while (n < 0 && errno == EINTR);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
}

std::string FileTransfer::NextPiece(int64_t limit) {
    std::string piece = Read(position_, std::min(limit, Remaining()));
    position_ += static_cast<int64_t>(piece.size());
    return piece;
}

std::string FileTransfer::Opening(int64_t limit) const {
    return Read(0, limit);
}

// A piece from memory is sent as a share of the kept contents; from the open file, the
// kernel copies it (sendfile).
int64_t FileTransfer::SendPiece(clsSocket& socket, int64_t limit) {
    int64_t size = std::min(limit, Remaining());
    if (size <= 0) {
        return 0;
    }
    if (contents_) {
        socket.SendShared({}, contents_, static_cast<size_t>(position_), static_cast<size_t>(size));
    } else {
        size = socket.SendFileData(descriptor_.Get(), position_, size);
    }
    position_ += size;
    return size;
}

} // namespace quenloft
