// The web server: listens on one port, keeps the table of client connections, frames
// and answers requests (files, index files, listing pages, error pages) and streams files
// in pieces of 1024 bytes, one piece per send completion.
#pragma once

#include "http/FileCache.h"
#include "http/FileTransfer.h"
#include "http/ListingPages.h"
#include "http/RequestFraming.h"
#include "http/clsConnection.h"
#include "net/clsSocket.h"
#include "platform/Folder.h"
#include "store/clsLog.h"
#include "store/clsSettings.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenloft {

class clsHTTP : public SocketEvents, public ConnectionTrap {
public:
    // A server that reads its settings from `settings`, counts its answers in `statistics`
    // and writes a line for every request to `log`; it does not own them.
    clsHTTP(clsSettings& settings, clsSettings& statistics, clsLog& log);
    ~clsHTTP() override;
    clsHTTP(const clsHTTP&) = delete;
    clsHTTP& operator=(const clsHTTP&) = delete;

    // The listening socket; absent while stopped.
    const std::shared_ptr<clsSocket>& PrimarySocket() const { return primarySocket_; }
    // The connection table: slot number = Index; a slot may be empty.
    const std::vector<std::shared_ptr<clsConnection>>& Connections() const { return connections_; }
    int32_t ConnectionCount() const { return static_cast<int32_t>(connections_.size()); }
    // The connections whose socket is still open.
    int32_t LiveConnections() const;

    // Listens on `Port`; a failure (10048 "Address already in use." from
    // "clsSocket.Listen", for example) reaches the caller.
    void StartServer(int32_t Port);
    // Stops listening and drops every connection. Touches nothing when stopped.
    void StopServer();

    // Every event of connection `requestID`'s socket. A failing step of its handling (an
    // Error) ends the handling; any other failure also drops the connection and goes on.
    void SocketEvent(int32_t requestID, SocketEventType EventType,
                     const SocketEventParameters& Paramenters) override;
    bool Holds(const clsConnection& C) const override;
    // Bytes received on a connection: frames the requests they complete and answers
    // them one at a time, in order.
    void ReceiveData(clsConnection& Connection, std::string_view data);

    // Sends status line, the response header lines, the empty line and the body.
    void SendHeader(clsConnection& Connection, const std::string& sResponse,
                    const std::string& sMessage);
    // The listing page of folder sPath (ending with "/") and its entries, for the
    // connection's request, as the settings shape it.
    std::string GenerateDirectoryHTML(clsConnection& Connection, const std::string& sPath,
                                      const std::vector<folder::FolderEntry>& entries);
    // The media type for a file-name extension; never empty, never fails.
    std::string ContentType(const std::string& Extension);
    std::string URLDecode(const std::string& URL);
    std::string URLEncode(const std::string& txt);
    // Sets bArray(i) to Value for i from startVal to endVal; an index outside the array
    // fails with 9 "Subscript out of range" after the ones before it are set.
    void SetArray(std::span<bool> bArray, int32_t startVal, int32_t endVal, bool Value);

    // The most connections kept at once; at the bound the longest-silent one makes room.
    // It never exceeds what the descriptor limit allows (found by StartServer).
    void SetConnectionLimit(int32_t limit);
    // The most request bytes held unanswered across all connections; past it the
    // connection holding the most is answered 431 and closed.
    void SetUnansweredLimit(size_t bytes);
    size_t UnansweredBytes() const { return unanswered_; }
    // The bytes of the listing pages on their way, each page once however many send it.
    size_t ListingBytes() const { return pages_.Bytes(); }
    // The contents of small files kept between answers.
    FileCache& KeptFiles() { return keptFiles_; }

    void OnConnectionRequest(int32_t requestID) override;

private:
    void InitSafeChars();
    void Count(const char* key, int16_t amount = 1);
    std::string RegistryContentType(const std::string& key);

    void AcceptConnection(int32_t requestID);
    void AcceptFailed();
    static bool IsLive(const std::shared_ptr<clsConnection>& C);
    int32_t ReusableSlot() const;
    void EvictLongestSilent(const clsConnection* spared = nullptr);
    void EmptySlot(int32_t index);

    struct DropOnFailure;
    void DataArrival(clsConnection& C);
    void SettleBuffer(clsConnection& C, size_t held);
    static size_t Held(const clsConnection& C);
    void KeepUnansweredBounded();
    void SendComplete(clsConnection& C);
    // `scanned`: how many bytes at the front of the buffer are known to end no request.
    void ServeNext(clsConnection& C, size_t scanned = 0);
    void FinishAnswer(clsConnection& C);
    void RefuseOversizedHead(clsConnection& C);
    void AnswerOversizedHead(clsConnection& C);
    void SendNextPiece(clsConnection& C);
    void EndTransfer(clsConnection& C);
    void SetCork(clsConnection& C, bool on);

    void ProcessRequest(const std::string& request, clsConnection& C);
    std::string LogLine(clsConnection& C, std::string_view firstLine);
    void WriteLog(const std::string& line);
    void Answer(clsConnection& C, const RequestText& text);
    void NewHeaderLists(clsConnection& C, const std::string& connection);
    std::string ServedRoot();
    bool ListingOn();
    bool ShowHidden();
    void AnswerGet(const std::string& version, const std::string& target, clsConnection& C);
    bool TryIndexFiles(clsConnection& C);
    void AnswerListing(const std::string& version, clsConnection& C);
    std::optional<std::vector<folder::FolderEntry>> ReadListedFolder(clsConnection& C,
                                                                     const std::string& path);
    void AnswerFile(const std::string& version, clsConnection& C);
    void AnswerUnsatisfiable(const std::string& version, clsConnection& C);
    std::string FileContentType(const std::string& path, const FileTransfer& file,
                                const std::string* first);
    bool OpenFile(clsConnection& C, const std::string& path);
    void Abandon(clsConnection& C);
    void AnswerNotFound(const std::string& version, clsConnection& C);
    void AnswerRefusal(clsConnection& C, const std::string& status, const std::string& body);
    void AnswerPage(clsConnection& C, const std::string& status, const std::string& body);
    void Answer(clsConnection& C, const std::string& status, const std::string& body);
    std::string HeadText(clsConnection& Connection, const std::string& sResponse);

    // Tests that place a connection in the table by hand.
    friend struct ServerInternals;

    clsSettings& settings_;
    clsSettings& statistics_;
    clsLog& log_;
    std::shared_ptr<clsSocket> primarySocket_;
    std::vector<std::shared_ptr<clsConnection>> connections_;
    std::array<bool, 256> SafeChars{};
    int32_t limitCap_ = 4096;        // set by SetConnectionLimit
    int32_t descriptorLimit_ = 4096; // what the descriptor limit allows, found at start
    uint64_t activityClock_ = 0;
    size_t unansweredLimit_ = size_t(32) << 20; // set by SetUnansweredLimit
    size_t unanswered_ = 0;                     // bytes in the connections' buffers
    FileCache keptFiles_;
    ListingPages pages_; // the listing pages on their way
};

} // namespace quenloft
