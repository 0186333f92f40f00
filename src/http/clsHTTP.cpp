// The web server object; see clsHTTP.h.
#include "http/clsHTTP.h"

#include "base/AsciiCase.h"
#include "base/Error.h"
#include "base/OleDate.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "http/ByteRange.h"
#include "http/ContentTypes.h"
#include "http/ListingPage.h"
#include "http/TargetMapping.h"
#include "http/URLCoding.h"
#include "net/modSocketSupport.h"
#include "platform/DescriptorLimit.h"
#include "platform/Folder.h"
#include "platform/MediaTypes.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <optional>

namespace quenloft {

namespace {

constexpr int64_t PieceSize = 1024;
constexpr int32_t MostConnections = 4096;
// What a connection's buffer may keep beyond its bytes once a request has been taken.
constexpr size_t WorkingSize = 4 * 1024;

const std::string Body400 = "<html><h1>400 - Bad Request</h1></html>";
const std::string Body404 = "<html><h1>404 - File not found</h1></html>";
const std::string Body405 = "<html><h1>405 - Method Not Allowed</h1></html>";
const std::string Body416 = "<html><h1>416 - Range Not Satisfiable</h1></html>";
const std::string Body431 = "<html><h1>431 - Request Header Fields Too Large</h1></html>";

// The runtime's error number for a file that cannot be opened for want of descriptors.
constexpr int32_t ErrTooManyFiles = 67;

std::string ConnectionMode(const clsConnection& C) {
    return C.Current.ResponseMIME ? LowerAscii(C.Current.ResponseMIME->MimeValue("Connection"))
                                  : std::string();
}

// "Connection: close" ends the connection after the answer; so does a request of HTTP/1.0
// (or before) that does not ask for keep-alive, as such a client waits for the close.
bool AsksToClose(const std::string& version, const clsMIME& request) {
    std::string mode = LowerAscii(request.MimeValue("Connection"));
    bool beforeKeepAlive = version < "HTTP/1.1"; // the version reads "HTTP/" digit "." digit
    return mode == "close" || (beforeKeepAlive && mode != "keep-alive");
}

// Out of descriptors: a file that exists cannot be opened now.
bool OutOfDescriptors() {
    return errno == EMFILE || errno == ENFILE;
}

// Thrown when a request can be neither answered nor refused for want of descriptors; not
// an Error, so that no resume-next step swallows it.
struct NoDescriptorLeft {};

// Connections the descriptor limit allows: each needs its socket and, while it sends a
// file, that file; some are kept for the log, folders and the program itself. (Start-up
// raised the limit as far as it goes.)
int32_t ConnectionsTheDescriptorsAllow() {
    std::optional<int64_t> limit = DescriptorLimit();
    if (!limit) {
        return 16;
    }
    auto allowed = (*limit - 64) / 2;
    return static_cast<int32_t>(std::clamp<int64_t>(allowed, 16, MostConnections));
}

} // namespace

// --- creation, start and stop ------------------------------------------------------

clsHTTP::clsHTTP(clsSettings& settings, clsSettings& statistics, clsLog& log)
    : settings_(settings), statistics_(statistics), log_(log) {
    InitSafeChars();
}

clsHTTP::~clsHTTP() {
    ResumeNext([&] { StopServer(); });
}

void clsHTTP::InitSafeChars() {
    SetArray(SafeChars, 46, 57, true);
    SetArray(SafeChars, 65, 90, true);
    SetArray(SafeChars, 97, 122, true);
}

void clsHTTP::Count(const char* key, int16_t amount) {
    ResumeNext([&] { statistics_.IncreseVariable(Variant(key), Variant(amount)); });
}

void clsHTTP::SetArray(std::span<bool> bArray, int32_t startVal, int32_t endVal, bool Value) {
    for (int64_t i = startVal; i <= endVal; ++i) {
        if (i < 0 || i >= static_cast<int64_t>(bArray.size())) {
            throw Error::Runtime(ErrSubscript, "clsHTTP.SetArray");
        }
        bArray[static_cast<size_t>(i)] = Value;
    }
}

void clsHTTP::StartServer(int32_t Port) {
    primarySocket_ = std::make_shared<clsSocket>();
    primarySocket_->SetOwner(this);
    primarySocket_->SetLocalPort(Port);
    primarySocket_->Listen();
    descriptorLimit_ = ConnectionsTheDescriptorsAllow();
}

void clsHTTP::StopServer() {
    if (primarySocket_) {
        primarySocket_->CloseSocket();
        primarySocket_.reset();
    }
    // The table is made consistent before the connections (and their sockets) go.
    auto dropped = std::move(connections_); // leaves the table empty
    unanswered_ = 0;
    dropped.clear();
    keptFiles_.Clear();
}

void clsHTTP::SetConnectionLimit(int32_t limit) {
    limitCap_ = std::max(limit, 1);
}

void clsHTTP::SetUnansweredLimit(size_t bytes) {
    unansweredLimit_ = bytes;
}

// --- the connection table ----------------------------------------------------------

// A connection that cannot be taken is closed by the socket layer: its client sees it end.
void clsHTTP::OnConnectionRequest(int32_t requestID) {
    ResumeNext([&] {
        if (requestID < 0) {
            AcceptFailed();
        } else {
            AcceptConnection(requestID);
        }
    });
}

void clsHTTP::AcceptConnection(int32_t requestID) {
    // A handle nobody accepts is closed by the socket layer when this event ends.
    auto socket = std::make_shared<clsSocket>();
    if (LiveConnections() >= std::min(limitCap_, descriptorLimit_)) {
        EvictLongestSilent();
    }
    int32_t slot = ReusableSlot();
    if (slot < 0) {
        slot = static_cast<int32_t>(connections_.size());
        connections_.emplace_back();
    }
    auto C = std::make_shared<clsConnection>();
    C->Socket = socket;
    C->Socket->SetOwner(C.get());
    C->Trapper = this;
    C->Index = slot;
    C->LastActivity = ++activityClock_;
    EmptySlot(slot); // a closed connection still held there goes first
    connections_[static_cast<size_t>(slot)] = C;
    C->Socket->CloseSocket();
    C->Socket->Accept(requestID); // with no delay for small answers: the pacing relies on it
}

bool clsHTTP::IsLive(const std::shared_ptr<clsConnection>& C) {
    return C && C->Socket && C->Socket->State() != clsSocket::StateClosed;
}

bool clsHTTP::Holds(const clsConnection& C) const {
    return C.Index >= 0 && C.Index < static_cast<int32_t>(connections_.size()) &&
           connections_[static_cast<size_t>(C.Index)].get() == &C;
}

int32_t clsHTTP::LiveConnections() const {
    return static_cast<int32_t>(std::count_if(connections_.begin(), connections_.end(), IsLive));
}

int32_t clsHTTP::ReusableSlot() const {
    auto free = std::find_if_not(connections_.begin(), connections_.end(), IsLive);
    return free == connections_.end() ? -1 : static_cast<int32_t>(free - connections_.begin());
}

// At the bound the connection that has gone longest without receiving or sending
// anything makes room, so idle and stalled clients cannot lock others out.
void clsHTTP::EvictLongestSilent(const clsConnection* spared) {
    int32_t oldest = -1;
    for (size_t i = 0; i < connections_.size(); ++i) {
        if (IsLive(connections_[i]) && connections_[i].get() != spared &&
            (oldest < 0 ||
             connections_[i]->LastActivity < connections_[size_t(oldest)]->LastActivity)) {
            oldest = static_cast<int32_t>(i);
        }
    }
    if (oldest >= 0) {
        EmptySlot(oldest);
    }
}

// Out of descriptors, the socket layer sheds the waiting connection so that the failure is
// not reported again at once; the longest-silent connection then makes room for the next.
void clsHTTP::AcceptFailed() {
    int failure = errno;
    if (failure == EMFILE || failure == ENFILE) {
        EvictLongestSilent();
    }
}

void clsHTTP::EmptySlot(int32_t index) {
    if (index >= 0 && index < static_cast<int32_t>(connections_.size())) {
        // The slot is empty before the connection (and its socket) goes.
        auto dropped = std::move(connections_[static_cast<size_t>(index)]);
        if (dropped) {
            unanswered_ -= dropped->CountedBytes;
            dropped->CountedBytes = 0;
        }
    }
}

// --- socket events -----------------------------------------------------------------

// When the handling of an event fails for any reason but an Error (out of memory, say), the
// connection's exchange is in no known state: the connection leaves its slot (its socket
// closes when the event ends), and the failure goes on to the loop's catch-all.
struct clsHTTP::DropOnFailure {
    clsHTTP& Server;
    const clsConnection& Connection;
    int Failing = std::uncaught_exceptions();
    ~DropOnFailure() {
        if (std::uncaught_exceptions() > Failing && Server.Holds(Connection)) {
            Server.EmptySlot(Connection.Index);
        }
    }
};

void clsHTTP::SocketEvent(int32_t requestID, SocketEventType EventType,
                          const SocketEventParameters& /*Paramenters*/) {
    if (requestID < 0 || requestID >= static_cast<int32_t>(connections_.size())) {
        return;
    }
    auto C = connections_[static_cast<size_t>(requestID)];
    if (!C) {
        return;
    }
    DropOnFailure guard{*this, *C};
    switch (EventType) {
    case SocketEventType::OnClose:
    case SocketEventType::OnError:
        EmptySlot(requestID); // a failed socket frees its slot like a closed one
        break;
    case SocketEventType::OnDataArrival:
        ResumeNext([&] { DataArrival(*C); });
        break;
    case SocketEventType::OnSendComplete:
        ResumeNext([&] { SendComplete(*C); });
        break;
    default:
        break;
    }
}

void clsHTTP::DataArrival(clsConnection& C) {
    Variant data;
    C.Socket->GetData(data);
    C.LastActivity = ++activityClock_;
    ReceiveData(C, data.Text());
}

void clsHTTP::ReceiveData(clsConnection& C, std::string_view data) {
    if (C.EndsAfterAnswer() || C.Refused) {
        return; // nothing more is read as requests: the connection ends after its answer
    }
    size_t scanned = C.Buffer.size(); // searched for a request's end when it arrived
    C.Buffer.append(data);
    size_t held = C.Buffer.size();
    ServeNext(C, scanned);
    if (!C.EndsAfterAnswer() && C.Buffer.size() > MaxRequestHead) {
        RefuseOversizedHead(C);
        ServeNext(C);
    }
    SettleBuffer(C, held);
    KeepUnansweredBounded();
}

// After requests have been taken from a buffer that held `held` bytes, memory beyond a small
// working size goes back: the buffer's, and what the answered heads left in the record
// (nothing reads the request's header lines or target once it is answered). The server's
// total of unanswered bytes follows the buffer.
void clsHTTP::SettleBuffer(clsConnection& C, size_t held) {
    if (C.Buffer.size() < held) {
        ReturnSpare(C.Buffer, WorkingSize);
        C.Current.RequestMIME.reset();
        std::string().swap(C.Current.OriginalRequest);
        ReturnSpare(C.Current.URL, WorkingSize);
    }
    size_t counted = Holds(C) ? C.Buffer.size() : 0; // a connection out of its slot is gone
    unanswered_ = unanswered_ - C.CountedBytes + counted;
    C.CountedBytes = counted;
}

// What a connection makes the server hold for it: its unanswered bytes, and the listing
// page it is sending (shared with whoever sends the same page).
size_t clsHTTP::Held(const clsConnection& C) {
    return C.CountedBytes + C.Current.Page.Size();
}

// Heads waiting and listing pages on their way, across all connections, have a total bound:
// past it, the connection holding the most is refused, as one over its own bound is, or,
// when it holds a page, closed without the rest of it.
void clsHTTP::KeepUnansweredBounded() {
    while (unanswered_ + pages_.Bytes() > unansweredLimit_) {
        auto most = std::max_element(
            connections_.begin(), connections_.end(),
            [](const auto& a, const auto& b) { return (a ? Held(*a) : 0) < (b ? Held(*b) : 0); });
        std::shared_ptr<clsConnection> C = most == connections_.end() ? nullptr : *most;
        if (!C || Held(*C) == 0) {
            return;
        }
        if (C->Current.Page.Size() > C->CountedBytes) {
            C->Current = {};
            Abandon(*C);
            continue;
        }
        RefuseOversizedHead(*C);
        ServeNext(*C);
        SettleBuffer(*C, C->CountedBytes);
    }
}

// Answers the next complete request unless an answer is still on its way: answers never
// interleave, and pipelined requests are answered in order.
void clsHTTP::ServeNext(clsConnection& C, size_t scanned) {
    while (C.Phase == ConnectionPhase::Reading) {
        if (C.Refused) {
            AnswerOversizedHead(C);
            break;
        }
        // Stray line ends before a request line are no request.
        size_t blank = LeadingEmptyLines(C.Buffer);
        C.Buffer.erase(0, blank);
        scanned -= std::min(scanned, blank);
        size_t end = FindRequestEnd(C.Buffer, scanned);
        if (end == std::string::npos) {
            return;
        }
        if (end > MaxRequestHead) {
            RefuseOversizedHead(C);
            continue;
        }
        std::string request = C.Buffer.substr(0, end);
        C.Buffer.erase(0, end);
        scanned = 0;
        ProcessRequest(request, C);
        if (ConnectionMode(C) == "close") {
            C.EndAfterAnswer();
        }
    }
    switch (C.Phase) {
    case ConnectionPhase::AnsweringLast:
        C.Buffer.clear();
        break;
    case ConnectionPhase::Ending:
        C.Buffer.clear();
        ResumeNext([&] { C.Socket->CloseSocket(); }); // sent, or it could not be
        break;
    case ConnectionPhase::Reading:
    case ConnectionPhase::Answering:
        break;
    }
}

// A head past its bound is answered 431; only its first line is kept, for the log.
void clsHTTP::RefuseOversizedHead(clsConnection& C) {
    C.Refused = RefusedFirstLine(C.Buffer);
    std::string().swap(C.Buffer); // the bytes go at once
}

void clsHTTP::AnswerOversizedHead(clsConnection& C) {
    std::string logLine = LogLine(C, *C.Refused);
    C.Refused.reset();
    AnswerRefusal(C, "HTTP/1.1 431 Request Header Fields Too Large", Body431);
    WriteLog(logLine);
}

void clsHTTP::SendComplete(clsConnection& C) {
    C.LastActivity = ++activityClock_;
    if (C.Current.Transfer.IsOpen()) {
        SendNextPiece(C);
    } else {
        FinishAnswer(C);
    }
}

// The answer has gone: the connection ends if the answer said so, else the next request
// is answered.
void clsHTTP::FinishAnswer(clsConnection& C) {
    C.AnswerGone();
    C.Current = {}; // an idle connection holds nothing of its last exchange
    size_t held = C.Buffer.size();
    ServeNext(C);
    SettleBuffer(C, held);
    KeepUnansweredBounded();
}

// One piece per send completion. The piece after the announced length is never read, and
// a file that ends early closes the connection: the client never waits for bytes that
// will not come, nor reads file bytes as the next answer.
void clsHTTP::SendNextPiece(clsConnection& C) {
    FileTransfer& file = C.Current.Transfer;
    int64_t size = file.SendPiece(*C.Socket, PieceSize);
    if (size == 0) {
        if (file.Position() < file.End()) {
            C.EndAfterAnswer(); // ended early
        }
        EndTransfer(C);
        FinishAnswer(C);
        return;
    }
    C.Current.FileIndex = file.Position() + 1;
    Count("BytesSend", static_cast<int16_t>(size));
    if (file.Position() >= file.End()) {
        SetCork(C, false); // the last piece leaves at once
    }
}

void clsHTTP::EndTransfer(clsConnection& C) {
    C.Current.Transfer.Close();
    C.Current.URL.clear();
    SetCork(C, false);
}

void clsHTTP::SetCork(clsConnection& C, bool on) {
    if (C.Corked != on) {
        C.Corked = on;
        C.Socket->SetCork(on);
    }
}

// --- answering a request -----------------------------------------------------------

void clsHTTP::ProcessRequest(const std::string& request, clsConnection& C) {
    RequestText text = SplitRequest(request);
    // The line is made on arrival and written once the answer is on its way, so the
    // client does not wait for the log file.
    std::string_view first = text.Lines.front();
    std::string logLine =
        IsWellFormed(text) ? LogLine(C, first) : LogLine(C, RefusedFirstLine(first));
    try {
        Answer(C, text);
    } catch (const NoDescriptorLeft&) {
        Abandon(C);
    }
    WriteLog(logLine);
}

// Every request, answered or refused, gets one log line: when, from whom, its first line.
std::string clsHTTP::LogLine(clsConnection& C, std::string_view firstLine) {
    std::string line;
    ResumeNext([&] {
        line = OleDateText(OleNow()) + ": " + C.Socket->RemoteHostIP() + "@" + ":" +
               std::to_string(C.Socket->RemotePort()) + "  ";
        line.append(firstLine);
    });
    return line;
}

void clsHTTP::WriteLog(const std::string& line) {
    ResumeNext([&] { log_.AddString(line); });
}

void clsHTTP::Answer(clsConnection& C, const RequestText& text) {
    C.Current = {}; // a new exchange: every answer gets fresh lists
    if (!IsWellFormed(text)) {
        AnswerRefusal(C, "HTTP/1.1 400 Bad Request", Body400);
        return;
    }
    const std::string version(text.Fields[2]);
    NewHeaderLists(C, "Keep-Alive");
    ParseHeaders(text.Lines, *C.Current.RequestMIME);
    // The client asks to close, or announces a body, which is never read and so must not
    // be taken for the next request.
    if (AsksToClose(version, *C.Current.RequestMIME) || AnnouncesBody(text.Lines)) {
        C.Current.ResponseMIME->SetMimeValue("Connection", "Close");
    }
    std::string method = UpperAscii(text.Fields[0]);
    if (method != "GET" && method != "HEAD") {
        Count("RequestsMethodNotAllowed");
        C.Current.ResponseMIME->Add("Allow", "GET, HEAD");
        AnswerPage(C, version + " 405 Method Not Allowed", Body405);
        return;
    }
    // HEAD is answered as GET is, without the body.
    C.Current.HeadOnly = method == "HEAD";
    if (auto range = RangeAsked(text.Lines)) {
        C.Current.Range = std::string(*range);
    }
    AnswerGet(version, std::string(text.Fields[1]), C);
}

// Fresh lists for every answer: an empty request list and the three base lines.
void clsHTTP::NewHeaderLists(clsConnection& C, const std::string& connection) {
    C.Current.RequestMIME.emplace();
    C.Current.ResponseMIME.emplace();
    C.Current.ResponseMIME->Add("Server", "Quenloft 1.0");
    C.Current.ResponseMIME->Add("Connection", connection);
    C.Current.ResponseMIME->Add("Accept-Ranges", "none");
}

void clsHTTP::AnswerGet(const std::string& version, const std::string& target, clsConnection& C) {
    C.Current.Response = version + " 200 OK";
    C.Current.URL = MapTarget(ServedRoot(), target);
    C.Current.OriginalRequest = target;
    bool folderAsked = !C.Current.URL.empty() && C.Current.URL.back() == '/';
    if (folderAsked && !folder::FolderExists(C.Current.URL)) {
        AnswerNotFound(version, C);
    } else if (folderAsked ? TryIndexFiles(C) : OpenFile(C, C.Current.URL)) {
        AnswerFile(version, C);
    } else if (folderAsked && ListingOn()) {
        AnswerListing(version, C);
    } else {
        AnswerNotFound(version, C);
    }
}

// The served folder without a final "/"; one is removed from the stored setting too.
std::string clsHTTP::ServedRoot() {
    std::string root;
    ResumeNext([&] { root = settings_.VariableValue(Variant("IndexPath")).ToText(); });
    if (root.size() > 1 && root.back() == '/') {
        root.pop_back();
        ResumeNext([&] { settings_.SetVariableValue(Variant("IndexPath"), Variant(root)); });
    }
    return root;
}

bool clsHTTP::ShowHidden() {
    bool shown = false;
    ResumeNext(
        [&] { shown = settings_.VariableValue(Variant("DLShowHiddenFiles")).EqualsNumber(1); });
    return shown;
}

bool clsHTTP::ListingOn() {
    Variant on = settings_.VariableValue(Variant("DLEnabled"));
    return on.IsEmpty() || on.EqualsNumber(1);
}

// The first index file, in list order, that exists in the requested folder. An index
// name is a file name: one holding "/" is skipped.
bool clsHTTP::TryIndexFiles(clsConnection& C) {
    Variant names = settings_.VariableValue(Variant("IndexNames"));
    if (!names.IsArray()) {
        return false;
    }
    for (const Variant& item : names.Items()) {
        std::string name;
        if (!ResumeNext([&] { name = item.ToText(); }) || name.empty() ||
            name.find('/') != std::string::npos) {
            continue;
        }
        std::string path = C.Current.URL + name;
        if (OpenFile(C, path)) {
            C.Current.URL = path;
            return true;
        }
    }
    return false;
}

// The head carries the first piece, so a small file leaves in one segment; the pieces
// after it follow one per send completion. A longer file keeps the socket corked until
// its last piece, so the kernel sends full segments instead of one per piece. A Range
// header that names part of the file makes the answer that part (206), or 416 when the
// file holds none of what it names.
void clsHTTP::AnswerFile(const std::string& version, clsConnection& C) {
    FileTransfer& file = C.Current.Transfer;
    ByteRange range = C.Current.Range ? ParseRange(*C.Current.Range, file.Size()) : ByteRange{};
    if (range.Answer == ByteRange::Unsatisfiable) {
        AnswerUnsatisfiable(version, C);
        return;
    }
    Count("RequestsOK");
    C.Current.ResponseMIME->SetMimeValue("Accept-Ranges", "bytes");
    if (range.Answer == ByteRange::Part) {
        C.Current.Response = version + " 206 Partial Content";
        file.Select(range.First, range.Last + 1);
    }
    int64_t length = file.Remaining();
    bool fromStart = file.Position() == 0;
    std::string first = C.Current.HeadOnly ? std::string() : file.NextPiece(PieceSize);
    // The first piece of the answer is the file's own first piece unless a range cut it.
    bool opening = fromStart && !C.Current.HeadOnly &&
                   (first.size() >= PieceSize || file.End() == file.Size());
    C.Current.ResponseMIME->Add("Content-Length", std::to_string(length));
    C.Current.ResponseMIME->Add("Content-Type",
                                FileContentType(C.Current.URL, file, opening ? &first : nullptr));
    if (range.Answer == ByteRange::Part) {
        C.Current.ResponseMIME->Add("Content-Range", "bytes " + std::to_string(range.First) + "-" +
                                                         std::to_string(range.Last) + "/" +
                                                         std::to_string(file.Size()));
    }
    if (!C.Current.HeadOnly && length > PieceSize) {
        SetCork(C, true);
    }
    Answer(C, C.Current.Response, first);
    if (!C.IsAnswering() || C.Current.HeadOnly) {
        EndTransfer(C);
        return;
    }
    C.Current.FileIndex = file.Position() + 1;
    if (!first.empty()) {
        Count("BytesSend", static_cast<int16_t>(first.size()));
    }
}

// A range past the file's end: the page says so, and "Content-Range" gives the length.
void clsHTTP::AnswerUnsatisfiable(const std::string& version, clsConnection& C) {
    Count("RequestsOK");
    int64_t size = C.Current.Transfer.Size();
    EndTransfer(C);
    C.Current.ResponseMIME->SetMimeValue("Accept-Ranges", "bytes");
    C.Current.ResponseMIME->Add("Content-Range", "bytes */" + std::to_string(size));
    AnswerPage(C, version + " 416 Range Not Satisfiable", Body416);
}

// The media type of the file: the server's table as it stands; a type of text from the
// system's database says "charset=utf-8" when the file's first piece reads as UTF-8.
// `first` is that piece when it has been read already.
std::string clsHTTP::FileContentType(const std::string& path, const FileTransfer& file,
                                     const std::string* first) {
    std::string extension = GetExtension(path);
    std::string type = TableContentType(extension);
    if (!type.empty()) {
        return type;
    }
    type = RegistryContentType("." + LowerAscii(extension));
    if (IsTextType(type) && IsUtf8Start(first ? *first : file.Opening(PieceSize))) {
        type += "; charset=utf-8";
    }
    return type;
}

// A file that exists but cannot be opened for want of descriptors is not missing: the
// longest-silent connection makes room, as for a failed accept, and the open is tried once
// more. If that fails too, the request gets no answer at all.
bool clsHTTP::OpenFile(clsConnection& C, const std::string& path) {
    errno = 0;
    if (C.Current.Transfer.Open(path, keptFiles_)) {
        return true;
    }
    if (!OutOfDescriptors()) {
        return false;
    }
    EvictLongestSilent(&C);
    errno = 0;
    if (C.Current.Transfer.Open(path, keptFiles_)) {
        return true;
    }
    if (OutOfDescriptors()) {
        throw NoDescriptorLeft{};
    }
    return false;
}

// The connection ends without an answer and leaves its slot; its socket closes when this
// event's handling ends. Nothing is counted.
void clsHTTP::Abandon(clsConnection& C) {
    C.Phase = ConnectionPhase::Ending;
    EmptySlot(C.Index);
}

// A folder that cannot be read is no listing of nothing: it is answered 404, as a folder
// that does not exist is. The page goes from one copy shared by every connection that
// sends it.
void clsHTTP::AnswerListing(const std::string& version, clsConnection& C) {
    std::optional<std::vector<folder::FolderEntry>> entries = ReadListedFolder(C, C.Current.URL);
    if (!entries) {
        AnswerNotFound(version, C);
        return;
    }
    Count("RequestsDirectoryListing");
    std::string page = GenerateDirectoryHTML(C, C.Current.URL, *entries);
    C.Current.ResponseMIME->Add("Content-Type", "text/html");
    C.Current.ResponseMIME->Add("Content-Length", std::to_string(page.size()));
    C.Current.URL.clear();
    if (C.Current.HeadOnly || page.empty()) {
        Answer(C, C.Current.Response, {});
        return;
    }
    C.Current.Page = pages_.Take(std::move(page));
    const ListingPages::Page& shared = C.Current.Page.Bytes();
    bool sent = ResumeNext(
        [&] { C.Socket->SendShared(HeadText(C, C.Current.Response), shared, 0, shared->size()); });
    sent ? C.AnswerUnderWay() : C.AnswerGone();
}

// The entries of the folder at `path`, or none when it cannot be read. A folder that cannot
// be opened for want of descriptors is not unreadable: the longest-silent connection makes
// room, as for a file, and it is read once more. If that fails too, the request gets no
// answer at all.
std::optional<std::vector<folder::FolderEntry>> clsHTTP::ReadListedFolder(clsConnection& C,
                                                                          const std::string& path) {
    bool hidden = ShowHidden();
    for (bool retried = false;; retried = true) {
        try {
            return folder::ListFolder(path, hidden);
        } catch (const Error& e) {
            if (e.Number() != ErrTooManyFiles) {
                return std::nullopt;
            }
            if (retried) {
                throw NoDescriptorLeft{};
            }
            EvictLongestSilent(&C);
        }
    }
}

void clsHTTP::AnswerNotFound(const std::string& version, clsConnection& C) {
    Count("RequestsFileNotFound");
    C.Current.URL.clear();
    AnswerPage(C, version + " 404 Not Found", Body404);
}

// A fixed page: its type and length follow the other header lines, so the connection stays
// open after it unless the "Connection" line says "Close".
void clsHTTP::AnswerPage(clsConnection& C, const std::string& status, const std::string& body) {
    C.Current.ResponseMIME->Add("Content-Type", "text/html");
    C.Current.ResponseMIME->Add("Content-Length", std::to_string(body.size()));
    Answer(C, status, body);
}

// An answer that ends the connection: the three base lines with "Connection: Close", and
// the page, whose end the connection's end tells.
void clsHTTP::AnswerRefusal(clsConnection& C, const std::string& status, const std::string& body) {
    NewHeaderLists(C, "Close");
    C.EndAfterAnswer();
    Answer(C, status, body);
}

// Sends the head and, but for a HEAD request, the body.
void clsHTTP::Answer(clsConnection& C, const std::string& status, const std::string& body) {
    static const std::string none;
    if (ResumeNext([&] { SendHeader(C, status, C.Current.HeadOnly ? none : body); })) {
        C.AnswerUnderWay();
    } else {
        C.AnswerGone();
    }
}

void clsHTTP::SendHeader(clsConnection& Connection, const std::string& sResponse,
                         const std::string& sMessage) {
    std::string text = HeadText(Connection, sResponse);
    text.append(sMessage);
    Connection.Socket->SendData(Variant(std::move(text)));
}

// The status line, the response header lines and the empty line that ends them.
std::string clsHTTP::HeadText(clsConnection& Connection, const std::string& sResponse) {
    if (!Connection.Current.ResponseMIME || !Connection.Socket) {
        throw Error::Runtime(ErrObjectNotSet, "clsHTTP.SendHeader");
    }
    std::string head = Connection.Current.ResponseMIME->ToString();
    std::string text;
    text.reserve(sResponse.size() + head.size() + 4 + PieceSize);
    text.append(sResponse).append("\r\n").append(head).append("\r\n");
    return text;
}

// --- listing, media types and URL coding ------------------------------------------

std::string clsHTTP::GenerateDirectoryHTML(clsConnection& Connection, const std::string& sPath,
                                           const std::vector<folder::FolderEntry>& entries) {
    ListingRequest request;
    request.Target = Connection.Current.OriginalRequest;
    request.Folder = sPath;
    ResumeNext(
        [&] { request.ShowDate = settings_.VariableValue(Variant("DLShowDate")).EqualsNumber(1); });
    if (request.ShowDate) { // the parent's date is shown only in the date column
        ResumeNext([&] {
            auto above = LeftOfLast(sPath, "/", static_cast<int32_t>(sPath.size()) - 1, 1);
            request.ParentDate = folder::LastModified(above);
        });
    }
    ResumeNext(
        [&] { request.ShowSize = settings_.VariableValue(Variant("DLShowSize")).EqualsNumber(1); });
    if (!primarySocket_) {
        return {}; // the footer names the listening socket
    }
    request.HostName = primarySocket_->LocalHostName();
    if (request.HostName.empty()) {
        request.HostName = MachineName();
    }
    request.Port = primarySocket_->LocalPort();
    std::string page;
    ResumeNext([&] { page = ListingPage(request, entries, SafeChars); });
    return page;
}

std::string clsHTTP::ContentType(const std::string& Extension) {
    std::string type = TableContentType(Extension);
    return type.empty() ? RegistryContentType("." + LowerAscii(Extension)) : type;
}

// The system media-type database stands in for the file-type registry.
std::string clsHTTP::RegistryContentType(const std::string& key) {
    std::string type = mediatypes::LookupMediaType(std::string_view(key).substr(1));
    return type.empty() ? "application/octet-stream" : type;
}

std::string clsHTTP::URLDecode(const std::string& URL) {
    return DecodeURL(URL);
}

std::string clsHTTP::URLEncode(const std::string& txt) {
    return EncodeURL(txt, SafeChars);
}

} // namespace quenloft
