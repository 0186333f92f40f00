// The message loop's queue and targets, and socket readiness turned into notifications;
// see MessageLoop.h.
#include "platform/MessageLoop.h"

#include "platform/LoopFailure.h"
#include "platform/SocketErrors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quenloft {

namespace {

constexpr uint32_t FirstMessageId = 0xC000;
constexpr int PollBatch = 64;
// While messages keep coming, the sockets are polled once this many have been handled.
constexpr int PollEvery = 32;

constexpr uint32_t Epoll(EPOLL_EVENTS bit) {
    return static_cast<uint32_t>(bit);
}

// A descriptor that start-up needs, or a std::system_error.
int Needed(int fd) {
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "MessageLoop");
    }
    return fd;
}

// The pending error of a socket (reading it clears it).
int PendingError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        return errno;
    }
    return err;
}

// A hang-up with EPIPE pending is a reset that came after the peer's own close.
int32_t CloseErrorCode(int err) {
    if (err == EPIPE) {
        return SocketErrorCode(ECONNRESET);
    }
    return err == 0 ? 0 : SocketErrorCode(err);
}

} // namespace

MessageLoop::MessageLoop()
    : epollFd_(Needed(epoll_create1(EPOLL_CLOEXEC))),
      wakeFd_(Needed(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))), descriptors_(epollFd_.Get()) {
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wakeFd_.Get();
    if (epoll_ctl(epollFd_.Get(), EPOLL_CTL_ADD, wakeFd_.Get(), &wake) != 0) {
        throw std::system_error(errno, std::generic_category(), "MessageLoop");
    }
}

MessageLoop::~MessageLoop() = default;

// ---- Targets and the queue ----

uint32_t MessageLoop::RegisterMessage(std::string_view name) {
    auto [it, added] = messageIds_.try_emplace(std::string(name), 0);
    if (added) {
        it->second = FirstMessageId + static_cast<uint32_t>(messageIds_.size() - 1);
    }
    return it->second;
}

Window MessageLoop::CreateWindow(WindowProc proc) {
    Window w = nextWindow_++;
    windows_[w] = std::make_shared<WindowProc>(proc ? std::move(proc) : DefaultWindowProc);
    return w;
}

bool MessageLoop::DestroyWindow(Window w) {
    return windows_.erase(w) > 0;
}

WindowProc MessageLoop::SetWindowProc(Window w, WindowProc proc) {
    auto it = windows_.find(w);
    if (it == windows_.end()) {
        return {};
    }
    WindowProc previous = *it->second;
    // A new holder, so a procedure that replaces itself keeps running on the old one.
    it->second = std::make_shared<WindowProc>(proc ? std::move(proc) : DefaultWindowProc);
    return previous;
}

void MessageLoop::Post(Window w, uint32_t msg, uintptr_t first, intptr_t second) {
    Push(Message{w, msg, first, second, 0, 0});
}

void MessageLoop::Push(Message m) {
    std::lock_guard lock(queueLock_);
    m.Sequence = nextSequence_++;
    queue_.push_back(m);
    WakeUp();
}

// Makes the wake-up descriptor readable, once until it is settled; under queueLock_.
void MessageLoop::WakeUp() {
    if (!woken_) {
        woken_ = true;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_.Get(), &one, sizeof one);
    }
}

void MessageLoop::PostAfter(std::chrono::milliseconds delay, Window w, uint32_t msg,
                            uintptr_t first, intptr_t second) {
    descriptors_.After(delay, [this, m = Message{w, msg, first, second, 0, 0}] { Push(m); });
}

bool MessageLoop::PopBefore(uint64_t end, Message& m) {
    std::lock_guard lock(queueLock_);
    if (queue_.empty() || queue_.front().Sequence >= end) {
        return false;
    }
    m = queue_.front();
    queue_.pop_front();
    return true;
}

// The wake-up descriptor is readable while messages are queued. It is reset only after a
// pass that found nothing to do, so a busy loop posts and passes without these two calls.
void MessageLoop::SettleWakeup(bool idlePass) {
    std::lock_guard lock(queueLock_);
    if (idlePass && queue_.empty() && woken_) {
        uint64_t count;
        [[maybe_unused]] ssize_t n = read(wakeFd_.Get(), &count, sizeof count);
        woken_ = false;
    }
}

void MessageLoop::Deliver(const Message& m) {
    if (m.Notified != 0) {
        if (Watch* w = Find(static_cast<int>(m.First))) {
            w->Queued &= static_cast<uint8_t>(~m.Notified); // may be reported again now
        }
    }
    auto it = windows_.find(m.Target);
    if (it == windows_.end()) {
        return;
    }
    std::shared_ptr<WindowProc> proc = it->second; // survives the procedure replacing itself
    try {
        (*proc)(m.Target, m.Msg, m.First, m.Second);
    } catch (...) {
        ReportLoopFailure("a message's procedure"); // nothing escapes the loop
    }
}

bool MessageLoop::HasQueued() {
    std::lock_guard lock(queueLock_);
    return !queue_.empty();
}

void MessageLoop::RunOnePass() {
    uint64_t end;
    {
        std::lock_guard lock(queueLock_);
        end = nextSequence_;
    }
    Message m;
    bool idle = true;
    while (PopBefore(end, m)) {
        Deliver(m);
        idle = false;
        ++deliveredSincePoll_;
    }
    if (deliveredSincePoll_ >= PollEvery || !HasQueued()) {
        deliveredSincePoll_ = 0;
        PollSockets(0);
    }
    SettleWakeup(idle);
}

void MessageLoop::RunFor(std::chrono::nanoseconds budget) {
    auto end = std::chrono::steady_clock::now() + budget;
    do {
        RunOnePass();
    } while (HasQueued() && std::chrono::steady_clock::now() < end);
}

void MessageLoop::Wait(int timeoutMs) {
    {
        std::lock_guard lock(queueLock_);
        if (!queue_.empty()) {
            return;
        }
    }
    PollSockets(timeoutMs);
}

// A Quit ends Run after the pass that follows it, so messages posted before it are handled.
void MessageLoop::Run() {
    for (;;) {
        if (!quit_.load()) {
            Wait(-1);
        }
        RunOnePass();
        if (quit_.exchange(false)) {
            return;
        }
    }
}

void MessageLoop::Quit() {
    quit_.store(true);
    std::lock_guard lock(queueLock_);
    WakeUp();
}

// ---- Socket readiness ----

MessageLoop::Watch* MessageLoop::Find(int fd) {
    if (fd < 0 || static_cast<size_t>(fd) >= sockets_.size() ||
        sockets_[fd].Phase == WatchPhase::Off) {
        return nullptr;
    }
    return &sockets_[fd];
}

int MessageLoop::AsyncSelect(int fd, Window target, uint32_t msg, uint32_t events) {
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    if (events == 0) {
        Cancel(fd);
        return 0;
    }
    int type = 0;
    socklen_t len = sizeof type;
    struct stat info {};
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || fstat(fd, &info) != 0) {
        return -1;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (!(flags & O_NONBLOCK) && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)) {
        return -1;
    }
    if (static_cast<size_t>(fd) >= sockets_.size()) {
        sockets_.resize(static_cast<size_t>(fd) + 1);
    }
    Watch& w = sockets_[fd];
    if (w.Phase != WatchPhase::Off && w.Inode != info.st_ino) {
        // The number was closed without cancelling and now names another socket.
        Purge(w.Target, w.Msg, fd);
        w = Watch{};
    }
    if (w.Phase == WatchPhase::Off) {
        // A datagram socket reports at once; a stream socket once it listens or connects.
        w.Stream = type == SOCK_STREAM;
        w.Phase = w.Stream ? WatchPhase::Registered : WatchPhase::Open;
        w.Inode = info.st_ino;
    }
    w.Target = target;
    w.Msg = msg;
    w.Events = events;
    if (!UpdateInterest(fd, w)) {
        int err = errno;
        w = Watch{};
        errno = err;
        return -1;
    }
    return 0;
}

// The socket leaves the epoll set, and its notifications still queued go with it.
void MessageLoop::Cancel(int fd) {
    Watch* w = Find(fd);
    if (!w) {
        return;
    }
    Window target = w->Target;
    uint32_t msg = w->Msg;
    w->Phase = WatchPhase::Off;
    UpdateInterest(fd, *w);
    *w = Watch{};
    Purge(target, msg, fd);
}

void MessageLoop::Purge(Window target, uint32_t msg, int fd) {
    std::lock_guard lock(queueLock_);
    std::erase_if(queue_, [&](const Message& m) {
        return m.Target == target && m.Msg == msg && m.First == static_cast<uintptr_t>(fd);
    });
}

void MessageLoop::WatchStream(int fd) {
    Watch* w = Find(fd);
    if (!w || !w->Stream) {
        return;
    }
    int listening = 0;
    socklen_t len = sizeof listening;
    getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len);
    w->Phase = listening != 0 ? WatchPhase::Listening : WatchPhase::Open;
    UpdateInterest(fd, *w);
}

void MessageLoop::WatchConnect(int fd) {
    Watch* w = Find(fd);
    if (!w) {
        return;
    }
    w->Phase = WatchPhase::Connecting;
    UpdateInterest(fd, *w);
}

void MessageLoop::WatchWritable(int fd) {
    Watch* w = Find(fd);
    if (!w || w->Phase == WatchPhase::Finished || w->WriteArmed) {
        return;
    }
    w->WriteArmed = true;
    UpdateInterest(fd, *w);
}

bool MessageLoop::WatchDescriptor(int fd, std::function<void()> handler) {
    return descriptors_.Watch(fd, std::move(handler));
}

// The epoll mask a watch's phase calls for; none while it has nothing to report.
std::optional<uint32_t> MessageLoop::InterestOf(const Watch& w) {
    uint32_t readable = (w.Events & (SocketReadable | SocketAccept)) ? Epoll(EPOLLIN) : 0;
    uint32_t peerClose = w.Stream ? Epoll(EPOLLRDHUP) : 0;
    uint32_t writable = w.WriteArmed ? Epoll(EPOLLOUT) : 0;
    switch (w.Phase) {
    case WatchPhase::Connecting:
        return readable | peerClose | EPOLLOUT;
    case WatchPhase::Listening:
        return readable | writable;
    case WatchPhase::Open:
        return readable | peerClose | writable;
    case WatchPhase::ReadShut:
        return writable;
    case WatchPhase::Off:
    case WatchPhase::Registered:
    case WatchPhase::Finished:
        break;
    }
    return std::nullopt;
}

// Puts the socket into the epoll set with the mask its phase calls for, or takes it out.
bool MessageLoop::UpdateInterest(int fd, Watch& w) {
    std::optional<uint32_t> mask = InterestOf(w);
    if (!mask) {
        if (w.InSet) {
            epoll_ctl(epollFd_.Get(), EPOLL_CTL_DEL, fd, nullptr); // fails harmlessly once closed
            w.InSet = false;
        }
        return true;
    }
    if (w.InSet && *mask == w.Interest) {
        return true;
    }
    epoll_event ev{};
    ev.events = *mask;
    ev.data.fd = fd;
    int op = w.InSet ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    int rc = epoll_ctl(epollFd_.Get(), op, fd, &ev);
    if (rc != 0 && errno == (w.InSet ? ENOENT : EEXIST)) {
        rc = epoll_ctl(epollFd_.Get(), w.InSet ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &ev);
    }
    if (rc != 0) {
        return false;
    }
    w.InSet = true;
    w.Interest = *mask;
    return true;
}

void MessageLoop::PollSockets(int timeoutMs) {
    epoll_event ready[PollBatch];
    int n = epoll_wait(epollFd_.Get(), ready, PollBatch, timeoutMs);
    for (int i = 0; i < n; ++i) {
        int fd = ready[i].data.fd;
        if (fd == wakeFd_.Get() || descriptors_.Call(fd)) {
            continue;
        }
        if (Watch* w = Find(fd)) {
            Translate(fd, *w, ready[i].events);
        }
    }
}

// Turns one epoll report into notifications, in the order: connect finished, connection
// request or readable, writable, closed.
void MessageLoop::Translate(int fd, Watch& w, uint32_t ready) {
    switch (w.Phase) {
    case WatchPhase::Connecting:
        if (EndConnect(fd, w, ready)) {
            ReportOpen(fd, w, ready & ~Epoll(EPOLLOUT));
        }
        break;
    case WatchPhase::Listening:
        ReportListening(fd, w, ready);
        break;
    case WatchPhase::Open:
        ReportOpen(fd, w, ready);
        break;
    case WatchPhase::ReadShut:
        ReportAfterReadShut(fd, w, ready);
        break;
    case WatchPhase::Off:
    case WatchPhase::Registered:
    case WatchPhase::Finished:
        break; // not in the epoll set: nothing to report
    }
}

// The end of a non-blocking connect, as event 16 with its error. True when the connection
// is open; false while the connect goes on, or when it failed (nothing more comes then).
bool MessageLoop::EndConnect(int fd, Watch& w, uint32_t ready) {
    if (!(ready & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
        return false;
    }
    int err = PendingError(fd);
    w.Phase = WatchPhase::Open;
    Notify(fd, w, SocketConnected, err == 0 ? 0 : SocketErrorCode(err));
    if (err != 0) {
        Finish(fd, w);
        return false;
    }
    UpdateInterest(fd, w);
    return true;
}

void MessageLoop::ReportListening(int fd, Watch& w, uint32_t ready) {
    if (ready & EPOLLERR) {
        PendingError(fd);
    }
    if (ready & EPOLLIN) {
        Notify(fd, w, SocketAccept, 0);
    }
}

void MessageLoop::ReportOpen(int fd, Watch& w, uint32_t ready) {
    if (!w.Stream) {
        if (ready & EPOLLERR) {
            PendingError(fd); // an unconnected datagram socket has no one to tell
        }
    } else if (ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        ReportPeerClose(fd, w, ready);
        return;
    }
    if (ready & EPOLLIN) {
        Notify(fd, w, SocketReadable, 0);
    }
    ReportWritable(fd, w, ready);
}

// The closed notification drains what is left, so it comes alone.
void MessageLoop::ReportPeerClose(int fd, Watch& w, uint32_t ready) {
    bool hungUp = ready & (EPOLLERR | EPOLLHUP);
    int err = hungUp ? PendingError(fd) : 0;
    if (!(w.Events & SocketClosed) && (ready & EPOLLIN)) {
        Notify(fd, w, SocketReadable, 0);
    }
    Notify(fd, w, SocketClosed, CloseErrorCode(err));
    if (hungUp) {
        Finish(fd, w);
    } else {
        // Only the peer's sending side is shut: an answer under way may still go out.
        w.Phase = WatchPhase::ReadShut;
        UpdateInterest(fd, w);
    }
}

// After the peer shut its sending side nothing more is read; what is reported is room to
// write the rest, and the end of the connection (both sides shut, or a reset) as a
// second closed notification.
void MessageLoop::ReportAfterReadShut(int fd, Watch& w, uint32_t ready) {
    if (ready & (EPOLLERR | EPOLLHUP)) {
        int err = PendingError(fd);
        Notify(fd, w, SocketClosed, CloseErrorCode(err));
        Finish(fd, w);
        return;
    }
    ReportWritable(fd, w, ready);
}

void MessageLoop::ReportWritable(int fd, Watch& w, uint32_t ready) {
    if ((ready & EPOLLOUT) && w.WriteArmed) {
        w.WriteArmed = false;
        UpdateInterest(fd, w);
        Notify(fd, w, SocketWritable, 0);
    }
}

void MessageLoop::Finish(int fd, Watch& w) {
    w.Phase = WatchPhase::Finished;
    w.WriteArmed = false;
    UpdateInterest(fd, w);
}

void MessageLoop::Notify(int fd, Watch& w, uint32_t event, int32_t error) {
    if (!(w.Events & event)) {
        return;
    }
    // Readable and connection-request notices are level: one at a time, again after delivery.
    uint8_t level = static_cast<uint8_t>(event & (SocketReadable | SocketAccept));
    if (level != 0) {
        if (w.Queued & level) {
            return;
        }
        w.Queued |= level;
    }
    Push(Message{w.Target, w.Msg, static_cast<uintptr_t>(fd), MakeLong(event, error), 0, level});
}

// ---- Host names ----

uint32_t MessageLoop::AsyncResolve(Window w, uint32_t msg, std::string name,
                                   std::shared_ptr<HostEntryBuffer> reply) {
    return resolver_.Resolve(std::move(name), std::move(reply),
                             [this, w, msg](uint32_t handle, uint32_t length, int32_t error) {
                                 Post(w, msg, handle, MakeLong(length, error));
                             });
}

MessageLoop& ProgramLoop() {
    static MessageLoop* loop = new MessageLoop();
    return *loop;
}

} // namespace quenloft
