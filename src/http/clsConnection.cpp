// One client connection: event forwarding and the open file of a transfer.
#include "http/clsConnection.h"

#include "http/clsHTTP.h"
#include "platform/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quenloft {

bool FileTransfer::Open(const std::string& path) {
    Close();
    // Opening is the existence test, and the opened file is judged: one call for its
    // length and kind. O_NONBLOCK: a pipe can never block the loop; it is not a regular
    // file and is closed at once.
    std::string_view name = std::string_view(path).substr(path.find_last_of('/') + 1);
    if (name.empty() || files::IsHiddenName(name)) {
        return false;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    descriptor_ = fd;
    length_ = static_cast<int64_t>(st.st_size);
    sent_ = 0;
    return true;
}

void FileTransfer::Close() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

std::string FileTransfer::NextPiece(int64_t limit) {
    if (sent_ >= length_) {
        return {};
    }
    std::string piece(static_cast<size_t>(std::min(limit, length_ - sent_)), '\0');
    ssize_t n;
    do {
        n = ::pread(descriptor_, piece.data(), piece.size(), sent_);
    } while (n < 0 && errno == EINTR);
    piece.resize(n > 0 ? static_cast<size_t>(n) : 0);
    sent_ += static_cast<int64_t>(piece.size());
    return piece;
}

int64_t FileTransfer::SendPiece(clsSocket& socket, int64_t limit) {
    if (sent_ >= length_) {
        return 0;
    }
    int64_t size = socket.SendFileData(descriptor_, sent_, std::min(limit, length_ - sent_));
    sent_ += size;
    return size;
}

// Holding a counted reference keeps this object alive when the server empties its slot
// while the event is being handled. A connection no longer in its slot has nothing to say.
void clsConnection::Forward(const char* eventType, std::vector<Variant> paramenters) {
    try {
        auto self = shared_from_this();
        if (Trapper && Index >= 0 && Index < static_cast<int32_t>(Trapper->Connections.size()) &&
            Trapper->Connections[static_cast<size_t>(Index)].get() == this) {
            Trapper->SocketEvent(Index, eventType, paramenters);
        }
    } catch (...) {
        // Nothing from the message loop escapes.
    }
}

void clsConnection::OnClose() {
    Forward("OnClose");
}

void clsConnection::OnConnect() {
    Forward("OnConnect");
}

void clsConnection::OnConnectionRequest(int32_t requestID) {
    Forward("OnConnectionRequest", {Variant(requestID)});
}

void clsConnection::OnDataArrival(int32_t bytesTotal) {
    Forward("OnDataArrival", {Variant(bytesTotal)});
}

void clsConnection::OnError(int16_t Number, std::string& Description, int32_t Scode,
                            const std::string& Source, const std::string& HelpFile,
                            int32_t HelpContext, bool& /*CancelDisplay*/) {
    Forward("OnError", {Variant(Number), Variant(Description), Variant(Scode), Variant(Source),
                        Variant(HelpFile), Variant(HelpContext)});
}

void clsConnection::OnSendComplete() {
    Forward("OnSendComplete");
}

void clsConnection::OnSendProgress(int32_t /*bytesSent*/, int32_t /*bytesRemaining*/) {
    Forward("OnSendProgress");
}

} // namespace quenloft
