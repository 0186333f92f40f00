#include "net/modSocketSupport.h"

#include "net/clsSocket.h"
#include "platform/ProgramFolder.h"
#include "platform/SocketErrors.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace quenloft {

namespace {

// The largest IPv4 UDP payload: 65535 less the IP and UDP headers.
constexpr int32_t PlatformMaxDatagram = 65507;
constexpr uint32_t AllSocketEvents =
    SocketReadable | SocketWritable | SocketAccept | SocketConnected | SocketClosed;

struct Module {
    bool WinsockStarted = false;
    int32_t MaxDatagramSize = 0;
    uint32_t WinsockMessage = 0;
    uint32_t ResolveMessage = 0;
    Window SocketWindow = 0;
    WindowProc PreviousWindowProc;
    std::unordered_map<int32_t, std::weak_ptr<clsSocket>> SocketRegistry;
    std::unordered_map<uint32_t, std::weak_ptr<clsSocket>> PendingResolves;
    // Keyed by request, so a second resolution of one object never frees a buffer that the
    // resolver may still write.
    std::unordered_map<uint32_t, std::shared_ptr<HostEntryBuffer>> ResolveBuffers;
    Error LastError{0, ""};
};

// Never destroyed: sockets held by program-wide objects close after static destruction.
Module& M() {
    static Module* module = new Module();
    return *module;
}

std::string ExecutableBaseName() {
    std::string path = ExecutablePath();
    std::string_view name = path.empty() ? std::string_view("quenloft") : path;
    name = name.substr(name.rfind('/') + 1);
    size_t dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

Window CreateSocketWindow() {
    MessageLoop& loop = ProgramLoop();
    Window window = loop.CreateWindow();
    M().PreviousWindowProc = loop.SetWindowProc(window, SocketWindowProc);
    return window;
}

bool DestroySocketWindow() {
    Module& m = M();
    MessageLoop& loop = ProgramLoop();
    loop.SetWindowProc(m.SocketWindow, m.PreviousWindowProc);
    bool destroyed = loop.DestroyWindow(m.SocketWindow);
    m.SocketWindow = 0;
    // Replies to the old target can no longer arrive; their objects have no socket left.
    m.PendingResolves.clear();
    m.ResolveBuffers.clear();
    return destroyed;
}

void Fail(int32_t number, std::string description, const char* source) {
    M().LastError = Error(number, std::move(description), source);
}

void ForgetResolve(uint32_t request) {
    Module& m = M();
    m.PendingResolves.erase(request);
    m.ResolveBuffers.erase(request);
}

} // namespace

// What reaches a socket object from the loop: a notification of its handle, or the reply
// to its resolution request.
struct SocketDispatch {
    static void Notification(uintptr_t handle, intptr_t second);
    static void ResolveReply(uintptr_t first, intptr_t second);
};

void SocketDispatch::Notification(uintptr_t handle, intptr_t second) {
    Module& m = M();
    auto it = m.SocketRegistry.find(static_cast<int32_t>(handle));
    if (it == m.SocketRegistry.end()) {
        return; // nobody owns this handle (yet): dropped
    }
    // A counted reference for the length of this notification.
    if (std::shared_ptr<clsSocket> socket = it->second.lock()) {
        auto value = static_cast<int32_t>(second);
        socket->PostSocketEvent(LowWord(value), HighWord(value));
    }
}

void SocketDispatch::ResolveReply(uintptr_t first, intptr_t second) {
    Module& m = M();
    auto request = static_cast<uint32_t>(first);
    int32_t error = HighWord(static_cast<int32_t>(second));
    auto pending = m.PendingResolves.find(request);
    auto buffer = m.ResolveBuffers.find(request);
    if (pending == m.PendingResolves.end() || buffer == m.ResolveBuffers.end()) {
        return;
    }
    std::shared_ptr<clsSocket> socket = pending->second.lock();
    std::shared_ptr<HostEntryBuffer> entry = buffer->second;
    // The tables lose the request whatever the object does with the reply.
    struct Forget {
        uint32_t Request;
        ~Forget() { ForgetResolve(Request); }
    } forget{request};
    if (!socket) {
        return; // the object went away while its name was resolved
    }
    if (error != 0) {
        socket->PostGetHostEvent(0, 0, "", error);
        return;
    }
    HostEntry host = ReadHostEntry(*entry);
    socket->PostGetHostEvent(static_cast<int32_t>(request), host.Address,
                             StringFromAnsiPointer(host.Name.c_str()), 0);
}

std::string SocketErrorText(int32_t code) {
    const char* text = nullptr;
    switch (code) {
#define QUENLOFT_TEXT_OF(number, numberText, ...)                                                  \
    case number:                                                                                   \
        text = numberText;                                                                         \
        break;
        QUENLOFT_SOCKET_ERRORS(QUENLOFT_TEXT_OF)
#undef QUENLOFT_TEXT_OF
    default:
        break;
    }
    return text ? text : "Unknown error.";
}

int32_t LastSocketError() {
    return SocketErrorCode(errno);
}

Error SocketError(int32_t code, std::string source) {
    return Error(code, SocketErrorText(code), std::move(source));
}

int32_t InitWinsockService() {
    Module& m = M();
    if (m.WinsockStarted) {
        return m.MaxDatagramSize;
    }
    MessageLoop* loop = nullptr;
    try {
        loop = &ProgramLoop();
    } catch (const std::exception&) {
        throw Error(10091,
                    "The underlying network subsystem is not "
                    "ready for network communication.",
                    "modSocketSupport.InitWinsockService");
    }
    m.WinsockStarted = true;
    m.MaxDatagramSize = PlatformMaxDatagram;
    std::string base = ExecutableBaseName();
    m.ResolveMessage = loop->RegisterMessage(base + ".ResolveMessage");
    m.WinsockMessage = loop->RegisterMessage(base + ".WinsockMessage");
    return m.MaxDatagramSize;
}

void ReleaseWinsockService() {
    Module& m = M();
    if (m.SocketRegistry.empty() && m.WinsockStarted) {
        m.WinsockStarted = false;
    }
}

bool RegisterSocket(int32_t handle, const std::weak_ptr<clsSocket>& identity) {
    Module& m = M();
    const char* source = "modSocketSupport.RegisterSocket";
    if (m.SocketWindow == 0) {
        m.SocketWindow = CreateSocketWindow();
    }
    if (identity.expired()) {
        Fail(ErrInvalidArgument, RuntimeErrorText(ErrInvalidArgument), source);
        return false;
    }
    if (!m.SocketRegistry.try_emplace(handle, identity).second) {
        Fail(ErrInvalidArgument, RuntimeErrorText(ErrInvalidArgument), source);
        return false;
    }
    if (ProgramLoop().AsyncSelect(handle, m.SocketWindow, m.WinsockMessage, AllSocketEvents) != 0) {
        int32_t code = LastSocketError();
        m.SocketRegistry.erase(handle);
        Fail(code, SocketErrorText(code), source);
        return false;
    }
    return true;
}

bool UnregisterSocket(int32_t handle) {
    Module& m = M();
    if (m.SocketRegistry.empty() || handle == -1) {
        return false;
    }
    ProgramLoop().AsyncSelect(handle, m.SocketWindow, 0, 0);
    if (m.SocketRegistry.erase(handle) == 0) {
        throw Error::Runtime(ErrInvalidArgument, "modSocketSupport.UnregisterSocket");
    }
    if (m.SocketRegistry.empty()) {
        return DestroySocketWindow();
    }
    return true;
}

int32_t ResolveHost(const std::string& name, const std::weak_ptr<clsSocket>& identity) {
    Module& m = M();
    if (m.SocketWindow == 0) {
        Fail(10022, SocketErrorText(10022), "modSocketSupport.ResolveHost");
        return 0;
    }
    auto buffer = std::make_shared<HostEntryBuffer>();
    uint32_t request = 0;
    try {
        request = ProgramLoop().AsyncResolve(m.SocketWindow, m.ResolveMessage, name, buffer);
    } catch (const std::exception&) {
        request = 0;
    }
    if (request == 0) {
        Fail(10055, SocketErrorText(10055), "modSocketSupport.ResolveHost");
        return 0;
    }
    m.PendingResolves[request] = identity;
    m.ResolveBuffers[request] = std::move(buffer);
    return static_cast<int32_t>(request);
}

const Error& LastSupportError() {
    return M().LastError;
}

Window SocketWindow() {
    return M().SocketWindow;
}
uint32_t WinsockMessage() {
    return M().WinsockMessage;
}
uint32_t ResolveMessage() {
    return M().ResolveMessage;
}

intptr_t SocketWindowProc(Window window, uint32_t message, uintptr_t first, intptr_t second) {
    Module& m = M();
    if (message == m.WinsockMessage) {
        SocketDispatch::Notification(first, second);
        return 0;
    }
    if (message == m.ResolveMessage) {
        SocketDispatch::ResolveReply(first, second);
        return 0;
    }
    WindowProc previous = m.PreviousWindowProc;
    return previous ? previous(window, message, first, second) : 0;
}

std::string MachineName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

std::string StringFromAnsiPointer(const char* address) {
    if (!address) {
        return {};
    }
    return std::string(address, std::strlen(address));
}

int16_t UnsignedToWord(int32_t value) {
    if (value < 0 || value > 65535) {
        throw Error::Runtime(ErrOverflow);
    }
    return static_cast<int16_t>(static_cast<uint16_t>(value));
}

int32_t WordToUnsigned(int16_t word) {
    return static_cast<uint16_t>(word);
}

int32_t LowWord(int32_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value) & 0xFFFF);
}

int32_t HighWord(int32_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value) >> 16);
}

} // namespace quenloft
