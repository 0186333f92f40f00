// One client connection: event forwarding and the open file of a transfer.
#include "http/clsConnection.h"

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

namespace {

enum Change { UnderWay, Gone, EndAfter };

constexpr ConnectionPhase Reading = ConnectionPhase::Reading;
constexpr ConnectionPhase Answering = ConnectionPhase::Answering;
constexpr ConnectionPhase Last = ConnectionPhase::AnsweringLast;
constexpr ConnectionPhase Ending = ConnectionPhase::Ending;

// The phase after each change, by the phase before it.
constexpr ConnectionPhase After[4][3] = {
    // answer under way, answer gone, end after answer
    {Answering, Reading, Ending}, // Reading
    {Answering, Reading, Last},   // Answering
    {Last, Ending, Last},         // AnsweringLast
    {Last, Ending, Ending},       // Ending
};

} // namespace

void clsConnection::AnswerUnderWay() {
    Phase = After[static_cast<size_t>(Phase)][UnderWay];
}

void clsConnection::AnswerGone() {
    Phase = After[static_cast<size_t>(Phase)][Gone];
}

void clsConnection::EndAfterAnswer() {
    Phase = After[static_cast<size_t>(Phase)][EndAfter];
}

// Holding a counted reference keeps this object alive when the server empties its slot
// while the event is being handled. A connection no longer in its slot has nothing to say.
void clsConnection::Forward(SocketEventType eventType, const SocketEventParameters& paramenters) {
    auto self = shared_from_this();
    if (Trapper && Trapper->Holds(*this)) {
        Trapper->SocketEvent(Index, eventType, paramenters);
    }
}

void clsConnection::OnClose() {
    Forward(SocketEventType::OnClose);
}

void clsConnection::OnConnect() {
    Forward(SocketEventType::OnConnect);
}

void clsConnection::OnConnectionRequest(int32_t requestID) {
    SocketEventParameters p;
    p.RequestID = requestID;
    Forward(SocketEventType::OnConnectionRequest, p);
}

void clsConnection::OnDataArrival(int32_t bytesTotal) {
    SocketEventParameters p;
    p.BytesTotal = bytesTotal;
    Forward(SocketEventType::OnDataArrival, p);
}

void clsConnection::OnError(int16_t Number, std::string& Description, int32_t Scode,
                            const std::string& Source, const std::string& HelpFile,
                            int32_t HelpContext, bool& /*CancelDisplay*/) {
    SocketEventParameters p;
    p.Number = Number;
    p.Description = Description;
    p.Scode = Scode;
    p.Source = Source;
    p.HelpFile = HelpFile;
    p.HelpContext = HelpContext;
    Forward(SocketEventType::OnError, p);
}

void clsConnection::OnSendComplete() {
    Forward(SocketEventType::OnSendComplete);
}

void clsConnection::OnSendProgress(int32_t bytesSent, int32_t bytesRemaining) {
    SocketEventParameters p;
    p.BytesSent = bytesSent;
    p.BytesRemaining = bytesRemaining;
    Forward(SocketEventType::OnSendProgress, p);
}

} // namespace quenloft
