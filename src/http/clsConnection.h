// The state of one client connection: its socket, the request bytes not yet answered, its
// phase and the current exchange (header lists, status line, the file being sent). It
// forwards every event of its socket to the server that holds it, as a typed event.
#pragma once

#include "http/FileTransfer.h"
#include "http/ListingPages.h"
#include "http/clsMIME.h"
#include "net/clsSocket.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quenloft {

class clsConnection;

// The events of a connection's socket, as the server receives them.
enum class SocketEventType {
    OnClose,
    OnConnect,
    OnConnectionRequest,
    OnDataArrival,
    OnError,
    OnSendComplete,
    OnSendProgress,
};

// What an event carries; only the fields of its own kind are set. The texts are valid for
// the length of the event.
struct SocketEventParameters {
    int32_t RequestID = 0;      // OnConnectionRequest
    int32_t BytesTotal = 0;     // OnDataArrival
    int32_t BytesSent = 0;      // OnSendProgress
    int32_t BytesRemaining = 0; // OnSendProgress
    int16_t Number = 0;         // OnError, with the five after it
    std::string_view Description;
    int32_t Scode = 0;
    std::string_view Source;
    std::string_view HelpFile;
    int32_t HelpContext = 0;
};

// The receiver of a connection's events: the server that keeps it in its table.
class ConnectionTrap {
public:
    // Whether slot `Index` of the table still holds `Connection`.
    virtual bool Holds(const clsConnection& Connection) const = 0;
    // Every event of connection `requestID`'s socket.
    virtual void SocketEvent(int32_t requestID, SocketEventType EventType,
                             const SocketEventParameters& Paramenters) = 0;

protected:
    ~ConnectionTrap() = default;
};

// Where a connection stands between the requests it receives and the answers it sends
// (clsConnection.cpp moves it by a table in this order).
enum class ConnectionPhase {
    Reading,       // no answer under way: a complete request is answered as it arrives
    Answering,     // an answer is on its way; the next request waits for it
    AnsweringLast, // an answer is on its way, and the connection ends after it
    Ending,        // the connection ends: nothing more is read or answered
};

// One request and its answer: the data the connection holds for them, given up in one
// assignment when the exchange is over.
struct Exchange {
    std::string URL;      // local path of the file still being sent; empty when none
    std::string Response; // status line of the answer
    std::optional<clsMIME> RequestMIME;
    std::optional<clsMIME> ResponseMIME;
    std::string OriginalRequest;      // the request's target as it came
    int64_t FileIndex = 0;            // 1-based position of the next piece of the file
    FileTransfer Transfer;            // the file being sent
    bool HeadOnly = false;            // a HEAD request: the answer's head without its body
    std::optional<std::string> Range; // the Range header to honour, when there is one
    ListingPages::Share Page;         // the listing page on its way
};

class clsConnection : public SocketEvents, public std::enable_shared_from_this<clsConnection> {
public:
    std::string Buffer;                // request bytes received and not yet answered
    ConnectionTrap* Trapper = nullptr; // receives this connection's socket events; not owned
    int32_t Index = 0;                 // slot number in the server's table
    std::shared_ptr<clsSocket> Socket;

    ConnectionPhase Phase = ConnectionPhase::Reading;
    Exchange Current; // the exchange under way, or what the last one left
    // A head past its bound was refused: its first line, for the log. The next answer is 431.
    std::optional<std::string> Refused;
    bool Corked = false;       // the socket holds back partial segments of a long file
    uint64_t LastActivity = 0; // when something was last received or sent (a count)
    size_t CountedBytes = 0;   // bytes of Buffer in the server's unanswered total

    bool IsAnswering() const {
        return Phase == ConnectionPhase::Answering || Phase == ConnectionPhase::AnsweringLast;
    }
    bool EndsAfterAnswer() const {
        return Phase == ConnectionPhase::AnsweringLast || Phase == ConnectionPhase::Ending;
    }
    // An answer has gone to the socket, and the next request waits until it is sent.
    void AnswerUnderWay();
    // The answer has been sent, or could not be: the next request may be answered.
    void AnswerGone();
    // The connection ends after the answer under way, or at once when there is none.
    void EndAfterAnswer();

    void OnClose() override;
    void OnConnect() override;
    void OnConnectionRequest(int32_t requestID) override;
    void OnDataArrival(int32_t bytesTotal) override;
    void OnError(int16_t Number, std::string& Description, int32_t Scode, const std::string& Source,
                 const std::string& HelpFile, int32_t HelpContext, bool& CancelDisplay) override;
    void OnSendComplete() override;
    void OnSendProgress(int32_t bytesSent, int32_t bytesRemaining) override;

private:
    void Forward(SocketEventType eventType, const SocketEventParameters& paramenters = {});
};

} // namespace quenloft
