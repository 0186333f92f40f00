#include "net/clsSocket.h"

#include "base/Error.h"
#include "base/TextHelpers.h"
#include "net/modSocketSupport.h"
#include "platform/MessageLoop.h"
#include "platform/SocketErrors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <fstream>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string_view>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace quenloft {

namespace {

constexpr int32_t ErrWouldBlock = 10035;
constexpr int32_t ErrNotSocket = 10038;
constexpr int32_t ErrCannotAssign = 10049;
constexpr int32_t ErrInvalidArg = 10022;
constexpr int32_t ErrWrongState = 40006;
constexpr const char* WrongStateText =
    "Wrong protocol or connection state for the requested transaction or request.";
constexpr size_t FallbackChunk = 65536;    // when the receive-buffer size could not be read
constexpr size_t KeptCapacity = 64 * 1024; // larger buffers are released once emptied
// What a receive buffer may keep beyond its bytes: a large arrival that has been taken must
// not leave its memory behind on a connection that stays open.
constexpr size_t WorkingCapacity = 4 * 1024;

// The longest accept queue the system allows. A short one drops connections that arrive
// together (a page's images, a second browser), and their clients retry only a second later.
int ListenBacklog() {
    int most = 0;
    std::ifstream("/proc/sys/net/core/somaxconn") >> most;
    return most > 0 ? most : SOMAXCONN;
}

// Runs a step; an Error leaving it carries `source`.
template <typename Step>
void Sourced(const char* source, Step&& step) {
    try {
        step();
    } catch (const Error& e) {
        throw e.WithSource(source);
    }
}

[[noreturn]] void RaiseLast(const char* source) {
    throw SocketError(LastSocketError(), source);
}

// The test that tells a dotted IPv4 address from a host name (short forms such as
// "127.1" count as addresses, as they always have).
bool ParseDotted(const std::string& text, uint32_t& address) {
    in_addr parsed{};
    if (text.empty() || inet_aton(text.c_str(), &parsed) == 0) {
        return false;
    }
    address = parsed.s_addr;
    return true;
}

std::string Dotted(uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

sockaddr_in SocketAddress(int32_t port, uint32_t address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(UnsignedToWord(port)));
    sa.sin_addr.s_addr = address;
    return sa;
}

// The official name of an address, or empty when none is found (a blocking lookup).
std::string HostNameOf(uint32_t address) {
    sockaddr_in sa = SocketAddress(0, address);
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr,
                    0, NI_NAMEREQD) != 0) {
        return {};
    }
    return host;
}

bool ReadAddress(int fd, bool peer, int32_t& port, std::string& ip) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len)
                  : getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    if (rc != 0 || sa.sin_family != AF_INET) {
        return false;
    }
    port = WordToUnsigned(static_cast<int16_t>(ntohs(sa.sin_port)));
    ip = Dotted(sa.sin_addr.s_addr);
    return true;
}

int32_t ReadIntOption(int fd, int option, int32_t fallback) {
    int value = 0;
    socklen_t len = sizeof value;
    return getsockopt(fd, SOL_SOCKET, option, &value, &len) == 0 ? value : fallback;
}

void SetTcpOption(int fd, int option, bool on) {
    int value = on ? 1 : 0;
    setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value);
}

// One receive area for every socket: receives are copied out of it at once.
char* Scratch(size_t size) {
    static std::vector<char> scratch;
    if (scratch.size() < size) {
        scratch.resize(size);
    }
    return scratch.data();
}

void ReleaseIfLarge(std::string& buffer) {
    if (buffer.capacity() > KeptCapacity) {
        std::string().swap(buffer);
    } else {
        buffer.clear();
    }
}

// A descriptor kept in reserve, so that a connection can still be taken off the queue and
// closed when the process has run out of descriptors (otherwise it would be reported again
// and again).
int& ReserveDescriptor() {
    static int reserve = -1;
    return reserve;
}

void KeepReserveDescriptor() {
    if (ReserveDescriptor() < 0) {
        ReserveDescriptor() = open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
}

int AcceptPending(int listening) {
    int fd = accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE) && ReserveDescriptor() >= 0) {
        int err = errno;
        close(ReserveDescriptor());
        int shed = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (shed >= 0) {
            close(shed);
        }
        ReserveDescriptor() = open("/dev/null", O_RDONLY | O_CLOEXEC);
        errno = err;
    }
    return fd;
}

// The handle being offered by OnConnectionRequest until someone accepts it.
int32_t& OfferedHandle() {
    static int32_t offered = -1;
    return offered;
}

int32_t SaturatingAdd(int32_t a, int32_t b) {
    int64_t sum = static_cast<int64_t>(a) + b;
    return sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

int32_t Clamp32(size_t n) {
    return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

} // namespace

// ---- Owner events ----

SocketEvents::SocketEvents() : self_(std::make_shared<SocketEvents*>(this)) {}
SocketEvents::SocketEvents(const SocketEvents&) : SocketEvents() {}
SocketEvents& SocketEvents::operator=(const SocketEvents&) {
    return *this;
}
SocketEvents::~SocketEvents() {
    *self_ = nullptr;
}

// ---- Life ----

clsSocket::clsSocket() {
    datagramSize_ = InitWinsockService();
}

clsSocket::~clsSocket() {
    ResumeNext([&] { DestroySocket(); });
    ReleaseWinsockService();
}

void clsSocket::SetOwner(SocketEvents* owner) {
    owner_ = owner ? owner->self_ : nullptr;
}

int32_t clsSocket::vbSocket() {
    bool udp = protocol_ == ProtocolUDP;
    int fd = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    udp ? IPPROTO_UDP : IPPROTO_TCP);
    if (fd < 0) {
        return -1;
    }
    if (!udp) {
        // A restarted server may take its port back while old connections linger; a port
        // that another socket listens on stays taken.
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    if (!RegisterSocket(fd, weak_from_this())) {
        close(fd);
        return -1;
    }
    return fd;
}

bool clsSocket::EnsureSocket() {
    if (socketHandle_ != -1) {
        return true;
    }
    socketHandle_ = vbSocket();
    if (socketHandle_ == -1) {
        return false;
    }
    ReadBufferSizes();
    return true;
}

void clsSocket::ReadBufferSizes() {
    if (protocol_ != ProtocolTCP) {
        sendChunkSize_ = datagramSize_;
        receiveChunkSize_ = datagramSize_;
        return;
    }
    receiveChunkSize_ = ReadIntOption(socketHandle_, SO_RCVBUF, 0);
    sendChunkSize_ = ReadIntOption(socketHandle_, SO_SNDBUF, sendChunkSize_);
}

void clsSocket::DestroySocket() {
    receiveBuffer_.clear();
    ReturnSpare(receiveBuffer_, WorkingCapacity);
    ClearUnsent();      // a closed socket sends nothing more, and holds no share of a block
    resolveHandle_ = 0; // a closed socket waits for no name any more
    if (socketHandle_ == -1) {
        return;
    }
    int fd = socketHandle_;
    ResumeNext([&] { UnregisterSocket(fd); });
    // Linux releases the descriptor even when close reports a failure, so the handle is
    // gone either way.
    close(fd);
    socketHandle_ = -1;
    isBound_ = false;
    isBroadcast_ = false;
    peerShut_ = false;
}

// ---- Properties ----

void clsSocket::SetProtocol(int32_t NewValue) {
    if (socketHandle_ == -1) {
        protocol_ = NewValue;
    }
}

void clsSocket::SetRemoteHost(const std::string& NewValue) {
    Sourced("clsSocket.RemoteHost", [&] {
        remoteHost_ = NewValue;
        uint32_t address = 0;
        if (!ParseDotted(NewValue, address)) {
            return;
        }
        remoteHostIP_ = NewValue;
        if (protocol_ != ProtocolUDP || !EnsureSocket()) {
            return;
        }
        bool broadcast = NewValue.size() >= 4 && NewValue.ends_with(".255");
        if (broadcast == isBroadcast_) {
            return;
        }
        int value = broadcast ? 1 : 0;
        if (setsockopt(socketHandle_, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
            RaiseLast("clsSocket.RemoteHost");
        }
        isBroadcast_ = broadcast;
    });
}

void clsSocket::SetNoDelay(bool on) {
    if (socketHandle_ >= 0) {
        SetTcpOption(socketHandle_, TCP_NODELAY, on);
    }
}

void clsSocket::SetCork(bool on) {
    if (socketHandle_ >= 0) {
        SetTcpOption(socketHandle_, TCP_CORK, on);
    }
}

// ---- Binding, listening, connecting, accepting ----

void clsSocket::Bind(int32_t lngLocalPort, const std::string& strLocalIP) {
    Sourced("clsSocket.Bind", [&] { DoBind(lngLocalPort, strLocalIP); });
}

void clsSocket::DoBind(int32_t lngLocalPort, const std::string& strLocalIP) {
    if (!EnsureSocket()) {
        return;
    }
    if (!strLocalIP.empty()) {
        localIP_ = strLocalIP;
    }
    if (lngLocalPort > 0) {
        localPort_ = lngLocalPort;
    }
    uint32_t address = htonl(INADDR_ANY);
    if (!localIP_.empty() && !ParseDotted(localIP_, address)) {
        throw SocketError(ErrInvalidArg, "clsSocket.Bind");
    }
    sockaddr_in sa = SocketAddress(localPort_, address);
    if (bind(socketHandle_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        RaiseLast("clsSocket.Bind");
    }
    isBound_ = true;
    // The port the system chose for port 0, and the machine's name for a bound socket.
    std::string ignored;
    ReadAddress(socketHandle_, false, localPort_, ignored);
    localHostName_ = MachineName();
}

void clsSocket::Listen() {
    Sourced("clsSocket.Listen", [&] {
        if (!EnsureSocket()) {
            return;
        }
        if (!isBound_) {
            DoBind(0, "");
        }
        if (listen(socketHandle_, ListenBacklog()) != 0) {
            state_ = StateError;
            RaiseLast("clsSocket.Listen");
        }
        state_ = StateListening;
        KeepReserveDescriptor();
        ProgramLoop().WatchStream(socketHandle_);
    });
}

void clsSocket::Connect(const Variant& strRemoteHost, const Variant& lngRemotePort) {
    Sourced("clsSocket.Connect", [&] { DoConnect(strRemoteHost, lngRemotePort); });
}

void clsSocket::DoConnect(const Variant& strRemoteHost, const Variant& lngRemotePort) {
    if (!EnsureSocket()) {
        return;
    }
    if (!strRemoteHost.IsEmpty()) {
        std::string host = strRemoteHost.ToText();
        if (!host.empty()) {
            remoteHost_ = host;
        }
    }
    if (!lngRemotePort.IsEmpty() && lngRemotePort.IsNumeric()) {
        remotePort_ = lngRemotePort.ToLong();
    }
    if (remoteHost_.empty()) {
        throw SocketError(ErrCannotAssign, "clsSocket.Connect");
    }
    resolveReason_ = 0;
    uint32_t address = 0;
    if (!ParseDotted(remoteHost_, address)) {
        state_ = StateResolvingHost;
        resolveHandle_ = 0;
        resolveHandle_ = ResolveHost(remoteHost_, weak_from_this());
        if (resolveHandle_ == 0) {
            Error left = LastSupportError();
            DestroySocket();
            throw left;
        }
        return;
    }
    remoteHostIP_ = remoteHost_; // the address connected to, not one left from before
    StartConnect(address);
}

// Starts a non-blocking connect; its end arrives as the connect-finished notification.
void clsSocket::StartConnect(uint32_t address) {
    sockaddr_in sa = SocketAddress(remotePort_, address);
    SetNoDelay(true);
    if (connect(socketHandle_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        // Linux says "in progress" where a would-block is the normal case.
        if (errno != EINPROGRESS && errno != EAGAIN) {
            RaiseLast("clsSocket.Connect");
        }
        state_ = StateConnecting;
    }
    ProgramLoop().WatchConnect(socketHandle_);
}

void clsSocket::Accept(int32_t requestID) {
    Sourced("clsSocket.Accept", [&] { DoAccept(requestID); });
}

void clsSocket::DoAccept(int32_t requestID) {
    if (socketHandle_ != -1 && socketHandle_ != requestID) {
        DestroySocket(); // never lose a socket of our own
    }
    if (requestID == OfferedHandle()) {
        OfferedHandle() = -1;
    }
    socketHandle_ = requestID;
    if (ReadAddress(socketHandle_, false, localPort_, localIP_)) {
        localHostName_ = localIP_;
    }
    if (ReadAddress(socketHandle_, true, remotePort_, remoteHostIP_)) {
        remoteHost_ = remoteHostIP_;
    }
    int type = ReadIntOption(socketHandle_, SO_TYPE, -1);
    if (type != -1) {
        protocol_ = type == SOCK_STREAM ? ProtocolTCP : ProtocolUDP;
    }
    ReadBufferSizes();
    if (RegisterSocket(socketHandle_, weak_from_this())) {
        state_ = StateConnected;
        if (protocol_ == ProtocolTCP) {
            SetNoDelay(true);
        }
        ProgramLoop().WatchStream(socketHandle_);
    }
}

// ---- Sending ----

void clsSocket::SendData(const Variant& varData) {
    // The progress handler may drop the owner's reference to this object.
    std::shared_ptr<clsSocket> keep = weak_from_this().lock();
    try {
        DoSendData(varData);
    } catch (const Error& e) {
        if (e.Number() == ErrNotSocket) {
            throw Error(ErrWrongState, WrongStateText, "clsSocket.SendData");
        }
        throw e.WithSource("clsSocket.SendData");
    }
}

void clsSocket::DoSendData(const Variant& varData) {
    if (protocol_ != ProtocolTCP) {
        if (!EnsureSocket()) {
            return;
        }
    } else if (socketHandle_ == -1) {
        throw Error(ErrWrongState, WrongStateText, "clsSocket.SendData");
    }
    std::string image;
    std::string_view bytes;
    switch (varData.Type()) {
    case VarType::String:
    case VarType::ByteArray:
        bytes = varData.Text();
        break;
    case VarType::Integer:
    case VarType::Long:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency:
    case VarType::Date:
    case VarType::Boolean:
    case VarType::Byte:
        image = varData.Image();
        bytes = image;
        break;
    default:
        break;
    }
    if (bytes.empty()) {
        throw Error::Runtime(ErrSubscript, "clsSocket.SendData");
    }
    // A new block replaces what is left of the last one, not extends it.
    ClearUnsent();
    SendFrom(bytes);
}

void clsSocket::ClearUnsent() {
    sendBuffer_.clear();
    sendOffset_ = 0;
    sharedBlock_.reset();
    sharedRest_ = {};
}

void clsSocket::SendBuffered() {
    if (sharedRest_.empty()) {
        SendFrom(std::string_view(sendBuffer_).substr(sendOffset_));
    } else {
        SendWithShared();
    }
}

void clsSocket::SendShared(std::string_view head, std::shared_ptr<const std::string> block,
                           size_t offset, size_t count) {
    std::shared_ptr<clsSocket> keep = weak_from_this().lock(); // as in SendData
    Sourced("clsSocket.SendData", [&] {
        if (protocol_ != ProtocolTCP || socketHandle_ == -1) {
            throw Error(ErrWrongState, WrongStateText, "clsSocket.SendData");
        }
        ClearUnsent();
        std::string_view rest = block ? std::string_view(*block).substr(offset, count) : "";
        if (head.empty() && rest.empty()) {
            throw Error::Runtime(ErrSubscript, "clsSocket.SendData");
        }
        sendBuffer_.assign(head);
        sharedBlock_ = std::move(block);
        sharedRest_ = rest;
        SendBuffered();
    });
}

// The socket's own bytes and the shared block's rest go in one call.
void clsSocket::SendWithShared() {
    sendPending_ = true;
    std::string_view own = std::string_view(sendBuffer_).substr(sendOffset_);
    iovec parts[2] = {{const_cast<char*>(own.data()), own.size()},
                      {const_cast<char*>(sharedRest_.data()), sharedRest_.size()}};
    msghdr message{};
    message.msg_iov = own.empty() ? parts + 1 : parts;
    message.msg_iovlen = own.empty() ? 1 : 2;
    ssize_t n = ::sendmsg(socketHandle_, &message, MSG_NOSIGNAL);
    int32_t code = n < 0 ? LastSocketError() : 0;
    TakeSent(n > 0 ? static_cast<size_t>(n) : 0);
    Sent(n, code);
}

// The kernel took `taken` bytes: the socket's own first, then the shared block's.
void clsSocket::TakeSent(size_t taken) {
    size_t own = std::min(taken, sendBuffer_.size() - sendOffset_);
    sendOffset_ += own;
    sharedRest_.remove_prefix(std::min(taken - own, sharedRest_.size()));
    if (SendLeft() == 0) {
        ReleaseIfLarge(sendBuffer_);
        ClearUnsent();
    }
}

// Sends `data`: a new block, or the rest of the send buffer. Only what the kernel does not
// take at once is copied into the buffer, to go when there is room.
void clsSocket::SendFrom(std::string_view data) {
    sendPending_ = true;
    ssize_t n = 0;
    if (protocol_ == ProtocolTCP) {
        n = send(socketHandle_, data.data(), data.size(), MSG_NOSIGNAL);
    } else if (!remoteHostIP_.empty()) {
        uint32_t address = INADDR_NONE;
        ParseDotted(remoteHostIP_, address);
        sockaddr_in sa = SocketAddress(remotePort_, address);
        n = sendto(socketHandle_, data.data(), data.size(), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } else {
        resolveReason_ = 1;
        resolveHandle_ = ResolveHost(remoteHost_, weak_from_this());
    }
    int32_t code = n < 0 ? LastSocketError() : 0;
    KeepUnsent(data, n > 0 ? static_cast<size_t>(n) : 0);
    Sent(n, code);
}

// After a send took `n` bytes: the rest goes when there is room, or the completion is
// posted; the progress is told at once. A send that failed (`code`) waits for room when
// the kernel had none, and fails otherwise.
void clsSocket::Sent(ssize_t n, int32_t code) {
    if (n < 0) {
        if (code != ErrWouldBlock) {
            throw SocketError(code, "clsSocket.SendData");
        }
        ProgramLoop().WatchWritable(socketHandle_);
        return;
    }
    if (SendLeft() > 0) {
        if (protocol_ == ProtocolTCP) {
            ProgramLoop().WatchWritable(socketHandle_);
        }
    } else {
        ProgramLoop().Post(SocketWindow(), WinsockMessage(), static_cast<uintptr_t>(socketHandle_),
                           MakeLong(SocketWritable, 0));
    }
    if (SocketEvents* owner = Owner()) {
        owner->OnSendProgress(Clamp32(static_cast<size_t>(n)), Clamp32(SendLeft()));
    }
}

int64_t clsSocket::SendFileData(int fd, int64_t offset, int64_t count) {
    std::shared_ptr<clsSocket> keep = weak_from_this().lock(); // as in SendData
    try {
        return DoSendFileData(fd, offset, count);
    } catch (const Error& e) {
        if (e.Number() == ErrNotSocket) {
            throw Error(ErrWrongState, WrongStateText, "clsSocket.SendData");
        }
        throw e.WithSource("clsSocket.SendData");
    }
}

// One call per block: the file's bytes go from the page cache to the socket without a
// copy through the program. sendfile has no MSG_NOSIGNAL: a peer that has gone is an error
// here, not a signal that ends the program, because start-up ignores SIGPIPE
// (SetProcessWide).
int64_t clsSocket::DoSendFileData(int fd, int64_t offset, int64_t count) {
    if (protocol_ != ProtocolTCP || socketHandle_ == -1) {
        throw Error(ErrWrongState, WrongStateText, "clsSocket.SendData");
    }
    ClearUnsent();
    off_t at = offset;
    ssize_t n = count > 0 ? ::sendfile(socketHandle_, fd, &at, static_cast<size_t>(count)) : 0;
    int err = n < 0 ? errno : 0;
    if (n < 0 && err != EAGAIN && err != EINVAL && err != ENOSYS) {
        throw SocketError(SocketErrorCode(err), "clsSocket.SendData");
    }
    int64_t taken = n > 0 ? n : 0;
    if (taken < count) {
        // The rest of the block waits in the send buffer; a file that cannot be sent
        // this way (EINVAL) is read whole.
        sendBuffer_.resize(static_cast<size_t>(count - taken));
        ssize_t got = ::pread(fd, sendBuffer_.data(), sendBuffer_.size(), offset + taken);
        sendBuffer_.resize(got > 0 ? static_cast<size_t>(got) : 0);
    }
    int64_t block = taken + static_cast<int64_t>(sendBuffer_.size());
    if (block == 0) {
        return 0; // the end of the file
    }
    sendPending_ = true;
    if (n >= 0) {
        Sent(n, 0);
    } else if (err == EAGAIN) {
        ProgramLoop().WatchWritable(socketHandle_);
    } else {
        SendBuffered(); // the block was read whole: it goes as any other
    }
    return block;
}

// What is left of `data` after the kernel took `taken` bytes becomes the send buffer's rest.
void clsSocket::KeepUnsent(std::string_view data, size_t taken) {
    if (SendLeft() > 0) {
        TakeSent(taken); // `data` is the buffer's own rest
        return;
    }
    sendBuffer_.assign(data.substr(taken));
    if (SendLeft() == 0) {
        ReleaseIfLarge(sendBuffer_);
    }
}

// ---- Receiving ----

int32_t clsSocket::RecvToBuffer() {
    size_t want = receiveChunkSize_ > 0 ? static_cast<size_t>(receiveChunkSize_) : FallbackChunk;
    char* area = Scratch(want);
    ssize_t n;
    if (protocol_ == ProtocolTCP) {
        n = recv(socketHandle_, area, want, 0);
    } else {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        n = recvfrom(socketHandle_, area, want, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n >= 0) {
            remotePort_ = WordToUnsigned(static_cast<int16_t>(ntohs(from.sin_port)));
            remoteHostIP_ = Dotted(from.sin_addr.s_addr);
            std::string name = HostNameOf(from.sin_addr.s_addr);
            remoteHost_ = name.empty() ? remoteHostIP_ : name;
        }
    }
    if (n > 0) {
        receiveBuffer_.append(area, static_cast<size_t>(n));
        return static_cast<int32_t>(n);
    }
    if (n < 0) {
        RaiseLast("clsSocket.RecvToBuffer");
    }
    return 0;
}

void clsSocket::GetData(Variant& varData, std::optional<int32_t> varType,
                        std::optional<int32_t> maxLen) {
    Sourced("clsSocket.GetData", [&] { ReadReceived(varData, varType, maxLen, true); });
}

void clsSocket::PeekData(Variant& varData, std::optional<int32_t> varType,
                         std::optional<int32_t> maxLen) {
    Sourced("clsSocket.PeekData", [&] { ReadReceived(varData, varType, maxLen, false); });
}

void clsSocket::ReadReceived(Variant& varData, std::optional<int32_t> varType,
                             std::optional<int32_t> maxLen, bool take) {
    if (receiveBuffer_.empty()) {
        return;
    }
    int32_t limit = maxLen.value_or(0);
    size_t count = receiveBuffer_.size();
    if (limit > 0 && static_cast<size_t>(limit) <= count) {
        count = static_cast<size_t>(limit);
    }
    int32_t type = varType.value_or(static_cast<int32_t>(VarType::String));
    bool whole = take && count == receiveBuffer_.size();
    std::string_view data(receiveBuffer_.data(), count);
    switch (type) {
    case static_cast<int32_t>(VarType::String):
        // Taking everything hands the buffer over instead of copying it.
        varData = whole ? Variant(std::move(receiveBuffer_)) : Variant(std::string(data));
        break;
    case static_cast<int32_t>(VarType::ByteArray):
        varData =
            whole ? Variant::Bytes(std::move(receiveBuffer_)) : Variant::Bytes(std::string(data));
        break;
    case static_cast<int32_t>(VarType::Integer):
    case static_cast<int32_t>(VarType::Long):
    case static_cast<int32_t>(VarType::Single):
    case static_cast<int32_t>(VarType::Double):
    case static_cast<int32_t>(VarType::Currency):
    case static_cast<int32_t>(VarType::Date):
    case static_cast<int32_t>(VarType::Boolean):
    case static_cast<int32_t>(VarType::Byte):
        varData = Variant::FromImage(static_cast<VarType>(type), data);
        break;
    default:
        break; // another kind leaves varData as it was
    }
    if (whole) {
        std::string().swap(receiveBuffer_);
    } else if (take) {
        receiveBuffer_.erase(0, count);
        ReturnSpare(receiveBuffer_, WorkingCapacity);
    }
    bytesReceived_ = Clamp32(receiveBuffer_.size());
}

// ---- Closing ----

void clsSocket::CloseSocket() {
    if (socketHandle_ == -1) {
        return;
    }
    ResumeNext([&] {
        if (state_ == StateConnected) {
            // Half-close: the peer's own close completes it (OnClose).
            state_ = StateClosing;
            shutdown(socketHandle_, SHUT_WR);
            return;
        }
        DestroySocket();
        state_ = StateClosed;
    });
}

// ---- Notifications ----

void clsSocket::PostSocketEvent(int32_t event, int32_t error) {
    Sourced("clsSocket.PostSocketEvent", [&] {
        if (error != 0) {
            state_ = StateError;
            DestroySocket();
            RaiseOnError(error, "");
            return;
        }
        switch (event) {
        case SocketReadable:
            OnReadable();
            break;
        case SocketWritable:
            OnWritable();
            break;
        case SocketAccept:
            OnAcceptable();
            break;
        case SocketConnected:
            OnConnectFinished();
            break;
        case SocketClosed:
            OnClosed();
            break;
        default:
            break;
        }
    });
}

void clsSocket::OnReadable() {
    int32_t n = RecvToBuffer();
    bytesReceived_ = SaturatingAdd(bytesReceived_, n);
    if (n > 0) {
        if (SocketEvents* owner = Owner()) {
            owner->OnDataArrival(Clamp32(receiveBuffer_.size()));
        }
    }
}

void clsSocket::OnWritable() {
    const int32_t handle = socketHandle_;
    if (SendLeft() > 0) {
        // After the peer's close a send that fails ends the connection for good.
        if (!peerShut_) {
            SendBuffered();
        } else if (!ResumeNext([&] { SendBuffered(); }) && socketHandle_ == handle) {
            CompleteClose();
        }
        return;
    }
    if (sendPending_) {
        sendPending_ = false;
        if (SocketEvents* owner = Owner()) {
            owner->OnSendComplete();
        }
    }
    if (peerShut_ && socketHandle_ == handle && !sendPending_) {
        CompleteClose(); // the owner sent its last block
    }
}

void clsSocket::OnAcceptable() {
    int fd = AcceptPending(socketHandle_);
    int32_t outer = OfferedHandle();
    OfferedHandle() = fd;
    struct Restore {
        int32_t Outer;
        int32_t Fd;
        ~Restore() {
            // A connection that nobody accepted is closed rather than leaked.
            bool unclaimed = Fd >= 0 && OfferedHandle() == Fd;
            OfferedHandle() = Outer;
            if (unclaimed) {
                close(Fd);
            }
        }
    } restore{outer, fd};
    if (SocketEvents* owner = Owner()) {
        owner->OnConnectionRequest(fd);
    }
}

void clsSocket::OnConnectFinished() {
    uint32_t address = 0;
    if (ReadAddress(socketHandle_, false, localPort_, localIP_) && ParseDotted(localIP_, address)) {
        std::string name = HostNameOf(address);
        localHostName_ = name.empty() ? localIP_ : name;
    }
    state_ = StateConnected;
    if (SocketEvents* owner = Owner()) {
        owner->OnConnect();
    }
}

// True while the peer has shut only its own sending side (a reset leaves nothing to send to).
static bool CanStillSend(int fd) {
    tcp_info info{};
    socklen_t size = sizeof info;
    return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
           info.tcpi_state == TCP_CLOSE_WAIT;
}

// The peer closed: hand over what is left, then close. A handler that closes or replaces
// the socket on the way ends this notification's work.
void clsSocket::OnClosed() {
    const int32_t handle = socketHandle_;
    for (;;) {
        int32_t n = 0;
        if (!ResumeNext([&] { n = RecvToBuffer(); }) || n <= 0) {
            break; // end of data, or a failing receive: the close completes all the same
        }
        // A failing handler must not leave the socket half closed for good.
        ResumeNext([&] {
            if (SocketEvents* owner = Owner()) {
                owner->OnDataArrival(Clamp32(receiveBuffer_.size()));
            }
        });
        if (socketHandle_ != handle) {
            return;
        }
    }
    if (state_ == StateConnected && sendPending_ && !peerShut_ && CanStillSend(handle)) {
        // The peer shut only its sending side, and an answer is under way: it goes out
        // whole first (the loop goes on reporting room to write, and the connection's end).
        peerShut_ = true;
        return;
    }
    if (state_ != StateClosing) {
        state_ = StateClosing;
        if (SendLeft() > 0) {
            ResumeNext([&] { SendBuffered(); });
            if (socketHandle_ != handle) {
                return;
            }
        }
    }
    CompleteClose();
}

void clsSocket::CompleteClose() {
    state_ = StateClosing;
    DestroySocket();
    state_ = StateClosed;
    if (SocketEvents* owner = Owner()) {
        owner->OnClose();
    }
}

void clsSocket::PostGetHostEvent(int32_t requestHandle, uint32_t address, const std::string& name,
                                 int32_t error) {
    Sourced("clsSocket.PostGetHostEvent", [&] {
        if (error > 0) {
            state_ = StateError;
            RaiseOnError(error, "");
            return;
        }
        if (requestHandle == 0 || requestHandle != resolveHandle_) {
            return;
        }
        state_ = StateHostResolved;
        remoteHost_ = name;
        remoteHostIP_ = Dotted(address);
        if (resolveReason_ == 0) {
            SocketAddress(remotePort_, address); // an impossible port is dropped, not reported
            try {
                StartConnect(address);
            } catch (const Error& e) {
                RaiseOnError(e.Number(), "clsSocket.PostGetHostEvent");
            }
        } else if (resolveReason_ == 1) {
            SendBuffered();
        }
    });
}

void clsSocket::RaiseOnError(int32_t number, const std::string& source) {
    SocketEvents* owner = Owner();
    if (!owner) {
        return;
    }
    std::string description = SocketErrorText(number);
    bool cancelDisplay = false;
    owner->OnError(static_cast<int16_t>(number), description, 0, source, "", 0, cancelDisplay);
}

} // namespace quenloft
