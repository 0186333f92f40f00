#include "platform/MessageLoop.h"

#include "platform/SocketErrors.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace quenloft {

namespace {

constexpr uint32_t FirstMessageId = 0xC000;
constexpr int PollBatch = 64;
// While messages keep coming, the sockets are polled once this many have been handled.
constexpr int PollEvery = 32;

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

int32_t ResolveErrorCode(int rc, int err) {
    switch (rc) {
    case EAI_NONAME:
        return 11001; // host not found
    case EAI_AGAIN:
        return 11002; // nonauthoritative host not found (try again)
    case EAI_FAIL:
        return 11003; // nonrecoverable
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return 11004; // a valid name without an IPv4 address
    case EAI_MEMORY:
        return SocketErrorCode(ENOBUFS);
    case EAI_FAMILY:
        return SocketErrorCode(EAFNOSUPPORT);
    case EAI_SYSTEM:
        return SocketErrorCode(err);
    default:
        return 11003;
    }
}

// Resolves `name` into `out`; returns (length written, error code).
std::pair<uint32_t, int32_t> ResolveInto(const std::string& name, HostEntryBuffer& out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        return {0, ResolveErrorCode(rc, errno)};
    }
    const addrinfo* first = found;
    while (first && first->ai_family != AF_INET) {
        first = first->ai_next;
    }
    if (!first) {
        freeaddrinfo(found);
        return {0, 11004};
    }
    uint32_t address = reinterpret_cast<const sockaddr_in*>(first->ai_addr)->sin_addr.s_addr;
    std::string_view official =
        found->ai_canonname ? std::string_view(found->ai_canonname) : std::string_view(name);
    official = official.substr(0, out.size() - sizeof address - 1);
    std::memcpy(out.data(), &address, sizeof address);
    std::memcpy(out.data() + sizeof address, official.data(), official.size());
    out[sizeof address + official.size()] = std::byte{0};
    freeaddrinfo(found);
    return {static_cast<uint32_t>(sizeof address + official.size() + 1), 0};
}

void CloseIfOpen(int fd) {
    if (fd >= 0) {
        close(fd);
    }
}

} // namespace

HostEntry ReadHostEntry(const HostEntryBuffer& buffer) {
    HostEntry entry;
    std::memcpy(&entry.Address, buffer.data(), sizeof entry.Address);
    const char* name = reinterpret_cast<const char*>(buffer.data()) + sizeof entry.Address;
    entry.Name.assign(name, strnlen(name, buffer.size() - sizeof entry.Address));
    return entry;
}

// The resolver's state, shared with its thread so that the thread never outlives what it
// touches: it posts only while the loop is alive, under this lock.
struct MessageLoop::Resolver {
    struct Request {
        uint32_t Handle;
        Window Target;
        uint32_t Msg;
        std::string Name;
        std::shared_ptr<HostEntryBuffer> Reply;
    };

    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<Request> Pending;
    MessageLoop* Loop = nullptr;
    bool Started = false;
    uint32_t NextHandle = 1;

    static void Work(std::shared_ptr<Resolver> self) {
        for (;;) {
            Request request;
            {
                std::unique_lock lock(self->Lock);
                self->Wake.wait(lock, [&] { return !self->Pending.empty() || !self->Loop; });
                if (!self->Loop) {
                    return;
                }
                request = std::move(self->Pending.front());
                self->Pending.pop_front();
            }
            auto [length, error] = ResolveInto(request.Name, *request.Reply);
            std::lock_guard lock(self->Lock);
            if (!self->Loop) {
                return;
            }
            self->Loop->Post(request.Target, request.Msg, request.Handle, MakeLong(length, error));
        }
    }
};

MessageLoop::MessageLoop() {
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wakeFd_;
    if (epollFd_ < 0 || wakeFd_ < 0 || timerFd_ < 0 ||
        epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &wake) != 0 ||
        !WatchDescriptor(timerFd_, [this] { PostDueTimers(); })) {
        int err = errno;
        CloseIfOpen(epollFd_);
        CloseIfOpen(wakeFd_);
        CloseIfOpen(timerFd_);
        throw std::system_error(err, std::generic_category(), "MessageLoop");
    }
    resolver_ = std::make_shared<Resolver>();
    resolver_->Loop = this;
}

MessageLoop::~MessageLoop() {
    {
        std::lock_guard lock(resolver_->Lock);
        resolver_->Loop = nullptr;
    }
    resolver_->Wake.notify_all();
    close(epollFd_);
    close(wakeFd_);
    close(timerFd_);
}

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
    if (!woken_) {
        woken_ = true;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
}

void MessageLoop::PostAfter(std::chrono::milliseconds delay, Window w, uint32_t msg,
                            uintptr_t first, intptr_t second) {
    timers_.emplace(std::chrono::steady_clock::now() + delay, Message{w, msg, first, second, 0, 0});
    ArmTimer();
}

// The timer descriptor becomes readable when the earliest timer is due.
void MessageLoop::ArmTimer() {
    itimerspec when{};
    if (!timers_.empty()) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
            timers_.begin()->first - std::chrono::steady_clock::now());
        auto ns = std::max<int64_t>(left.count(), 1); // 0 would disarm it
        when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    timerfd_settime(timerFd_, 0, &when, nullptr);
}

void MessageLoop::PostDueTimers() {
    uint64_t expirations;
    [[maybe_unused]] ssize_t n = read(timerFd_, &expirations, sizeof expirations);
    auto now = std::chrono::steady_clock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
        Push(timers_.begin()->second);
        timers_.erase(timers_.begin());
    }
    ArmTimer();
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
        [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
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
        // Nothing that runs from the loop lets an error escape it.
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
    if (!woken_) {
        woken_ = true;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
}

MessageLoop::Watch* MessageLoop::Find(int fd) {
    if (fd < 0 || static_cast<size_t>(fd) >= watches_.size() || !watches_[fd].Active) {
        return nullptr;
    }
    return &watches_[fd];
}

int MessageLoop::AsyncSelect(int fd, Window target, uint32_t msg, uint32_t events) {
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    if (events == 0) {
        if (Watch* w = Find(fd)) {
            Window oldTarget = w->Target;
            uint32_t oldMsg = w->Msg;
            w->Active = false;
            UpdateInterest(fd, *w);
            *w = Watch{};
            Purge(oldTarget, oldMsg, fd);
        }
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
    if (static_cast<size_t>(fd) >= watches_.size()) {
        watches_.resize(static_cast<size_t>(fd) + 1);
    }
    Watch& w = watches_[fd];
    if (w.Active && w.Inode != info.st_ino) {
        // The number was closed without cancelling and now names another socket.
        Purge(w.Target, w.Msg, fd);
        w = Watch{};
    }
    if (!w.Active) {
        w.Active = true;
        w.Stream = type == SOCK_STREAM;
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
    w->Listening = listening != 0;
    w->Watched = true;
    w->Finished = false;
    w->ReadShut = false;
    UpdateInterest(fd, *w);
}

void MessageLoop::WatchConnect(int fd) {
    Watch* w = Find(fd);
    if (!w) {
        return;
    }
    w->Connecting = true;
    w->Watched = true;
    w->Listening = false;
    w->Finished = false;
    UpdateInterest(fd, *w);
}

void MessageLoop::WatchWritable(int fd) {
    Watch* w = Find(fd);
    if (!w || w->Finished || w->WriteArmed) {
        return;
    }
    w->WriteArmed = true;
    UpdateInterest(fd, *w);
}

// Puts the socket into the epoll set with the mask its state calls for, or takes it out.
bool MessageLoop::UpdateInterest(int fd, Watch& w) {
    bool wanted = w.Active && !w.Finished && (!w.Stream || w.Watched);
    if (!wanted) {
        if (w.InSet) {
            epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr); // fails harmlessly once closed
            w.InSet = false;
        }
        return true;
    }
    uint32_t mask = 0;
    if ((w.Events & (SocketReadable | SocketAccept)) && !w.ReadShut) {
        mask |= EPOLLIN;
    }
    if (w.Stream && !w.Listening && !w.ReadShut) {
        mask |= EPOLLRDHUP;
    }
    if (w.Connecting || w.WriteArmed) {
        mask |= EPOLLOUT;
    }
    if (w.InSet && mask == w.Interest) {
        return true;
    }
    epoll_event ev{};
    ev.events = mask;
    ev.data.fd = fd;
    int op = w.InSet ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    int rc = epoll_ctl(epollFd_, op, fd, &ev);
    if (rc != 0 && errno == (w.InSet ? ENOENT : EEXIST)) {
        rc = epoll_ctl(epollFd_, w.InSet ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &ev);
    }
    if (rc != 0) {
        return false;
    }
    w.InSet = true;
    w.Interest = mask;
    return true;
}

void MessageLoop::PollSockets(int timeoutMs) {
    epoll_event ready[PollBatch];
    int n = epoll_wait(epollFd_, ready, PollBatch, timeoutMs);
    for (int i = 0; i < n; ++i) {
        int fd = ready[i].data.fd;
        if (fd == wakeFd_ || CallDescriptorHandler(fd)) {
            continue;
        }
        if (Watch* w = Find(fd)) {
            Translate(fd, *w, ready[i].events);
        }
    }
}

bool MessageLoop::WatchDescriptor(int fd, std::function<void()> handler) {
    auto known = std::find_if(descriptorHandlers_.begin(), descriptorHandlers_.end(),
                              [fd](const auto& entry) { return entry.first == fd; });
    if (!handler) {
        if (known != descriptorHandlers_.end()) {
            epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
            descriptorHandlers_.erase(known);
        }
        return true;
    }
    auto held = std::make_shared<std::function<void()>>(std::move(handler));
    if (known != descriptorHandlers_.end()) {
        known->second = std::move(held);
        return true;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
        return false;
    }
    descriptorHandlers_.emplace_back(fd, std::move(held));
    return true;
}

// False when no handler watches fd (it is then a socket's).
bool MessageLoop::CallDescriptorHandler(int fd) {
    for (const auto& [watched, handler] : descriptorHandlers_) {
        if (watched == fd) {
            std::shared_ptr<std::function<void()>> held = handler; // may end its own watch
            try {
                (*held)();
            } catch (...) {
                // Nothing that runs from the loop lets an error escape it.
            }
            return true;
        }
    }
    return false;
}

// Turns one epoll report into notifications, in the order: connect finished, connection
// request or readable, writable, closed.
void MessageLoop::Translate(int fd, Watch& w, uint32_t ready) {
    if (w.Connecting) {
        if (!(ready & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
            return;
        }
        int err = PendingError(fd);
        w.Connecting = false;
        Notify(fd, w, SocketConnected, err == 0 ? 0 : SocketErrorCode(err));
        if (err != 0) {
            Finish(fd, w);
            return;
        }
        UpdateInterest(fd, w);
        ready &= ~static_cast<uint32_t>(EPOLLOUT);
    }
    if (w.Listening) {
        if (ready & EPOLLERR) {
            PendingError(fd);
        }
        if (ready & EPOLLIN) {
            Notify(fd, w, SocketAccept, 0);
        }
        return;
    }
    if (!w.Stream) {
        if (ready & EPOLLERR) {
            PendingError(fd); // an unconnected datagram socket has no one to tell
        }
    } else if (w.ReadShut) {
        WatchAfterReadShut(fd, w, ready);
        return;
    } else if (ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        // The closed notification drains what is left, so it comes alone.
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
            w.ReadShut = true;
            UpdateInterest(fd, w);
        }
        return;
    }
    if (ready & EPOLLIN) {
        Notify(fd, w, SocketReadable, 0);
    }
    if ((ready & EPOLLOUT) && w.WriteArmed) {
        w.WriteArmed = false;
        UpdateInterest(fd, w);
        Notify(fd, w, SocketWritable, 0);
    }
}

// After the peer shut its sending side nothing more is read; what is reported is room to
// write the rest, and the end of the connection (both sides shut, or a reset) as a
// second closed notification.
void MessageLoop::WatchAfterReadShut(int fd, Watch& w, uint32_t ready) {
    if (ready & (EPOLLERR | EPOLLHUP)) {
        int err = PendingError(fd);
        Notify(fd, w, SocketClosed, CloseErrorCode(err));
        Finish(fd, w);
        return;
    }
    if ((ready & EPOLLOUT) && w.WriteArmed) {
        w.WriteArmed = false;
        UpdateInterest(fd, w);
        Notify(fd, w, SocketWritable, 0);
    }
}

void MessageLoop::Finish(int fd, Watch& w) {
    w.Finished = true;
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

uint32_t MessageLoop::AsyncResolve(Window w, uint32_t msg, std::string name,
                                   std::shared_ptr<HostEntryBuffer> reply) {
    std::lock_guard lock(resolver_->Lock);
    if (!resolver_->Started) {
        std::thread(Resolver::Work, resolver_).detach();
        resolver_->Started = true;
    }
    uint32_t handle = resolver_->NextHandle++;
    if (resolver_->NextHandle == 0) {
        resolver_->NextHandle = 1;
    }
    resolver_->Pending.push_back({handle, w, msg, std::move(name), std::move(reply)});
    resolver_->Wake.notify_one();
    return handle;
}

MessageLoop& ProgramLoop() {
    static MessageLoop* loop = new MessageLoop();
    return *loop;
}

} // namespace quenloft
