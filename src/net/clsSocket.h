// An event-driven, non-blocking IPv4 TCP or UDP socket object with a receive buffer and a
// send buffer. Its events reach the owner set with SetOwner, always from the program's
// message loop (ProgramLoop), except OnSendProgress, which SendData raises before it returns.
//
// Create it with std::make_shared<clsSocket>(): the socket registry keeps only a weak
// reference, and each notification holds a counted one while it is handled, so an event
// handler may drop the last other reference, or close and reopen the socket, safely.
#pragma once

#include "base/Variant.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quenloft {

class clsSocket;

// What the owner of a socket receives. Every event does nothing unless overridden. The
// socket does not own its owner; an owner that is destroyed stops receiving at once.
class SocketEvents {
public:
    SocketEvents();
    SocketEvents(const SocketEvents&);
    SocketEvents& operator=(const SocketEvents&);
    virtual ~SocketEvents();

    // Occurs when the connection has been closed
    virtual void OnClose() {}
    // Occurs connect operation is completed
    virtual void OnConnect() {}
    virtual void OnConnectionRequest(int32_t /*requestID*/) {}
    virtual void OnDataArrival(int32_t /*bytesTotal*/) {}
    virtual void OnError(int16_t /*Number*/, std::string& /*Description*/, int32_t /*Scode*/,
                         const std::string& /*Source*/, const std::string& /*HelpFile*/,
                         int32_t /*HelpContext*/, bool& /*CancelDisplay*/) {}
    virtual void OnSendComplete() {}
    virtual void OnSendProgress(int32_t /*bytesSent*/, int32_t /*bytesRemaining*/) {}

private:
    friend class clsSocket;
    std::shared_ptr<SocketEvents*> self_; // nulled when the owner goes away
};

class clsSocket : public std::enable_shared_from_this<clsSocket> {
public:
    enum : int32_t { ProtocolTCP = 0, ProtocolUDP = 1 };
    enum : int32_t {
        StateClosed = 0,
        StateListening = 2,
        StateResolvingHost = 4,
        StateHostResolved = 5,
        StateConnecting = 6,
        StateConnected = 7,
        StateClosing = 8,
        StateError = 9,
    };

    clsSocket(); // fails with the error of InitWinsockService
    ~clsSocket();
    clsSocket(const clsSocket&) = delete;
    clsSocket& operator=(const clsSocket&) = delete;

    // The receiver of the events (not owned); nullptr for none.
    void SetOwner(SocketEvents* owner);

    // Send data to remote computer
    void SendData(const Variant& varData);
    // Sends `head` and then `count` bytes of `block` from `offset` as one block, with the
    // events of SendData. What the socket does not take at once is kept as a share of
    // `block`, not copied, so that many connections sending one large text hold it once.
    // TCP only.
    void SendShared(std::string_view head, std::shared_ptr<const std::string> block, size_t offset,
                    size_t count);
    // Sends `count` bytes of the open file `fd` from `offset` as one block, with the events
    // of SendData: the kernel copies them from the file; what the socket does not take at
    // once is read into the send buffer. Returns the size of the block: fewer bytes when
    // the file ends early, 0 (nothing sent, no events) at its end. TCP only.
    int64_t SendFileData(int fd, int64_t offset, int64_t count);
    // Look at incoming data without removing it from the buffer
    void PeekData(Variant& varData, std::optional<int32_t> varType = std::nullopt,
                  std::optional<int32_t> maxLen = std::nullopt);
    // Listen for incoming connection requests
    void Listen();
    // Retrieve data sent by the remote computer
    void GetData(Variant& varData, std::optional<int32_t> varType = std::nullopt,
                 std::optional<int32_t> maxLen = std::nullopt);
    // Connect to the remote computer (an Empty argument counts as not given)
    void Connect(const Variant& strRemoteHost = Variant(),
                 const Variant& lngRemotePort = Variant());
    // Close current connection
    void CloseSocket();
    // Binds socket to specific port and adapter
    void Bind(int32_t lngLocalPort, const std::string& strLocalIP);
    // Accept an incoming connection request
    void Accept(int32_t requestID);
    // TCP: small blocks go out at once instead of waiting for acknowledgements (set for
    // accepted and connecting sockets).
    void SetNoDelay(bool on);
    // TCP: while on, only full segments go out; turning it off sends what is held at once.
    void SetCork(bool on);

    int32_t State() const { return state_; }
    // Returns the socket handle
    int32_t SocketHandle() const { return socketHandle_; }
    // Returns/Sets the port to be connected to on the remote computer
    int32_t RemotePort() const { return remotePort_; }
    void SetRemotePort(int32_t NewValue) { remotePort_ = NewValue; }
    // Returns the remote host IP address
    const std::string& RemoteHostIP() const { return remoteHostIP_; }
    // Returns/Sets the name used to identify the remote computer
    const std::string& RemoteHost() const { return remoteHost_; }
    void SetRemoteHost(const std::string& NewValue);
    // Returns/Sets the socket protocol
    int32_t Protocol() const { return protocol_; }
    void SetProtocol(int32_t NewValue);
    // Returns/Sets the port used on the local computer
    int32_t LocalPort() const { return localPort_; }
    void SetLocalPort(int32_t NewValue) { localPort_ = NewValue; }
    // Returns the local machine IP address
    const std::string& LocalIP() const { return localIP_; }
    // Returns the local machine name
    const std::string& LocalHostName() const { return localHostName_; }
    // Returns the number of bytes received on this connection
    int32_t BytesReceived() const { return bytesReceived_; }
    std::string Name() const { return "Socket"; }
    // The memory the receive buffer holds, its bytes and its spare room.
    size_t ReceiveCapacity() const { return receiveBuffer_.capacity(); }

private:
    // The socket service (modSocketSupport) hands notifications and resolution replies in.
    friend struct SocketDispatch;
    void PostSocketEvent(int32_t event, int32_t error);
    void PostGetHostEvent(int32_t requestHandle, uint32_t address, const std::string& name,
                          int32_t error);

    int32_t vbSocket();
    bool EnsureSocket();
    void ReadBufferSizes();
    int32_t RecvToBuffer();
    void ReadReceived(Variant& varData, std::optional<int32_t> varType,
                      std::optional<int32_t> maxLen, bool take);
    void DestroySocket();
    void SendBuffered();
    void SendWithShared();
    void ClearUnsent();
    void TakeSent(size_t taken);
    int64_t DoSendFileData(int fd, int64_t offset, int64_t count);
    void Sent(ssize_t n, int32_t code);
    void SendFrom(std::string_view data);
    void KeepUnsent(std::string_view data, size_t taken);

    void DoBind(int32_t lngLocalPort, const std::string& strLocalIP);
    void DoConnect(const Variant& strRemoteHost, const Variant& lngRemotePort);
    void DoAccept(int32_t requestID);
    void DoSendData(const Variant& varData);
    void StartConnect(uint32_t address);
    void OnReadable();
    void OnWritable();
    void OnAcceptable();
    void OnConnectFinished();
    void OnClosed();
    void CompleteClose();
    void RaiseOnError(int32_t number, const std::string& source);
    SocketEvents* Owner() const { return owner_ ? *owner_ : nullptr; }
    size_t SendLeft() const { return sendBuffer_.size() - sendOffset_ + sharedRest_.size(); }

    int32_t resolveReason_ = 0;
    int32_t protocol_ = ProtocolTCP;
    int32_t state_ = StateClosed;
    int32_t bytesReceived_ = 0;
    std::string localHostName_;
    std::string localIP_;
    int32_t localPort_ = 0;
    std::string remoteHost_;
    std::string remoteHostIP_;
    int32_t remotePort_ = 0;
    int32_t socketHandle_ = -1;
    int32_t resolveHandle_ = 0;
    std::string sendBuffer_; // bytes from sendOffset_ on are still to be sent
    size_t sendOffset_ = 0;
    // The shared block of SendShared, and what of it is still to be sent after sendBuffer_'s.
    std::shared_ptr<const std::string> sharedBlock_;
    std::string_view sharedRest_;
    std::string receiveBuffer_;
    int32_t sendChunkSize_ = 0;
    int32_t receiveChunkSize_ = 0;
    int32_t datagramSize_ = 0;
    bool isBound_ = false;
    bool sendPending_ = false;
    // The peer shut its sending side while an answer was under way; the close completes
    // once the owner has sent what it meant to.
    bool peerShut_ = false;
    bool isBroadcast_ = false;
    std::shared_ptr<SocketEvents*> owner_;
};

} // namespace quenloft
