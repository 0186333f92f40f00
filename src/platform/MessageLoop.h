// The program's message loop: message targets with a procedure, posted messages, and socket
// readiness turned into posted notifications (epoll); beside them, in units of their own,
// host names resolved in the background (HostResolver) and the watches of other
// descriptors and timers (DescriptorWatches). It stands in for the window messages and
// asynchronous sockets of a desktop system, so the socket layer above keeps the shape of
// such a program.
#pragma once

#include "platform/DescriptorWatches.h"
#include "platform/HostResolver.h"
#include "platform/UniqueFd.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quenloft {

// A message target; 0 is none. Numbers are never reused within one loop.
using Window = uint32_t;
// The procedure of a target: (target, message, first parameter, second parameter).
using WindowProc = std::function<intptr_t(Window, uint32_t, uintptr_t, intptr_t)>;

// Socket notification events, as (event | error << 16) in the second parameter.
enum SocketEvent : uint32_t {
    SocketReadable = 1,
    SocketWritable = 2,
    SocketAccept = 8,
    SocketConnected = 16,
    SocketClosed = 32,
};

inline intptr_t MakeLong(uint32_t low, uint32_t high) {
    return static_cast<intptr_t>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}

class MessageLoop {
public:
    MessageLoop(); // fails with std::system_error when epoll or eventfd are unavailable
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // Message ids for names; the same name always gives the same id (from 0xC000 on).
    uint32_t RegisterMessage(std::string_view name);

    // Targets. A target without a procedure (or after SetWindowProc with an empty one)
    // takes every message with DefaultWindowProc.
    Window CreateWindow(WindowProc proc = {});
    bool DestroyWindow(Window w);
    WindowProc SetWindowProc(Window w, WindowProc proc); // returns the previous procedure
    static intptr_t DefaultWindowProc(Window, uint32_t, uintptr_t, intptr_t) { return 0; }

    // Queues a message; any thread may post. Messages are handled in posting order.
    void Post(Window w, uint32_t msg, uintptr_t first, intptr_t second);

    // Queues (w, msg, first, second) once `delay` has passed: a timer, for the loop's own
    // thread only. It arrives like any posted message, after those posted before it is due.
    void PostAfter(std::chrono::milliseconds delay, Window w, uint32_t msg, uintptr_t first,
                   intptr_t second);

    // Socket notifications for fd to (w, msg) for the event bits `events`; events 0 cancels
    // them and removes every message still queued for this socket (to w with msg and fd).
    // Also makes the socket non-blocking. Returns 0, or -1 with errno set.
    int AsyncSelect(int fd, Window w, uint32_t msg, uint32_t events);

    // What the socket layer tells the loop. epoll reports a fresh TCP socket as hung up and
    // every socket with room as writable, so these say when there is something to report.
    void WatchStream(int fd);   // a stream socket now listens or is connected (accepted)
    void WatchConnect(int fd);  // a non-blocking connect started: report its end as event 16
    void WatchWritable(int fd); // a send could not take everything: report writable once

    // Calls `handler` from each poll that finds `fd` readable, for a descriptor that is not a
    // socket (a file watch). It runs before anything that poll found is delivered, so what it
    // learns holds for every message that follows. An empty handler ends the watch.
    // Returns false when epoll refuses the descriptor.
    bool WatchDescriptor(int fd, std::function<void()> handler);

    // Resolves an IPv4 host name on a background thread, which writes `reply` and posts
    // (w, msg, request handle, MakeLong(length, error)). Returns the request handle (not 0).
    uint32_t AsyncResolve(Window w, uint32_t msg, std::string name,
                          std::shared_ptr<HostEntryBuffer> reply);

    // Readable while anything is pending (a queued message or a ready socket), and for at
    // most one pass after that; for a notifier of another main loop, which then calls
    // RunOnePass.
    int Descriptor() const { return epollFd_.Get(); }
    // Handles the messages queued when it began, then polls the sockets without waiting.
    // While messages keep coming (a transfer paced by its own completions), the sockets
    // are polled once a few dozen messages have been handled since the last poll, not
    // after every pass: readiness waits a few short messages at most.
    void RunOnePass();
    // Runs passes while anything is pending, until `budget` has passed (at least one
    // pass): for a notifier of another main loop, whose own events get their turn between
    // two calls, while the work ready meanwhile does not wait for a turn of that loop.
    void RunFor(std::chrono::nanoseconds budget);
    // Waits until something is pending or `timeoutMs` passed (-1: no limit).
    void Wait(int timeoutMs);
    // Runs passes until Quit (any thread).
    void Run();
    void Quit();

private:
    struct Message {
        Window Target;
        uint32_t Msg;
        uintptr_t First;
        intptr_t Second;
        uint64_t Sequence;
        uint8_t Notified; // event bits posted by the poller (cleared when delivered)
    };
    // Where a socket's registration stands: it decides what epoll watches for and what a
    // report becomes.
    enum class WatchPhase : uint8_t {
        Off,        // not registered (a free slot)
        Registered, // a stream socket with nothing to report until it listens or connects
        Connecting, // a non-blocking connect under way: its end is reported as event 16
        Listening,  // connection requests are reported
        Open,       // connected, or a datagram socket: readable, writable, closed
        ReadShut,   // the peer shut its sending side: only room to write and the end
        Finished,   // closed (or a failed connect) reported: nothing more comes
    };
    struct Watch {
        WatchPhase Phase = WatchPhase::Off;
        Window Target = 0;
        uint32_t Msg = 0;
        uint32_t Events = 0;
        uint64_t Inode = 0;      // tells a new socket from a closed one with the same number
        bool Stream = false;     // a stream socket, not a datagram one
        bool WriteArmed = false; // a send could not take everything: writable comes once
        uint8_t Queued = 0;      // readable / accept notifications waiting in the queue
        bool InSet = false;      // in the epoll set, with the mask Interest
        uint32_t Interest = 0;
    };

    void Push(Message m);
    void WakeUp();
    bool PopBefore(uint64_t end, Message& m);
    bool HasQueued();
    void Deliver(const Message& m);
    void SettleWakeup(bool idlePass);
    void PollSockets(int timeoutMs);

    void Cancel(int fd);
    Watch* Find(int fd);
    void Purge(Window target, uint32_t msg, int fd);
    static std::optional<uint32_t> InterestOf(const Watch& w);
    bool UpdateInterest(int fd, Watch& w);
    void Translate(int fd, Watch& w, uint32_t ready);
    bool EndConnect(int fd, Watch& w, uint32_t ready);
    void ReportListening(int fd, Watch& w, uint32_t ready);
    void ReportOpen(int fd, Watch& w, uint32_t ready);
    void ReportPeerClose(int fd, Watch& w, uint32_t ready);
    void ReportAfterReadShut(int fd, Watch& w, uint32_t ready);
    void ReportWritable(int fd, Watch& w, uint32_t ready);
    void Notify(int fd, Watch& w, uint32_t event, int32_t error);
    void Finish(int fd, Watch& w);

    UniqueFd epollFd_;
    UniqueFd wakeFd_;
    DescriptorWatches descriptors_; // other descriptors and the timers

    std::mutex queueLock_; // guards the queue, the sequence and the wake flag
    std::deque<Message> queue_;
    uint64_t nextSequence_ = 0;
    bool woken_ = false;
    int deliveredSincePoll_ = 0;

    std::vector<Watch> sockets_; // by descriptor number
    std::unordered_map<Window, std::shared_ptr<WindowProc>> windows_;
    Window nextWindow_ = 1;
    std::unordered_map<std::string, uint32_t> messageIds_;
    std::atomic<bool> quit_{false};
    // Declared last, so it goes first: its thread stops posting before the queue goes.
    HostResolver resolver_;
};

// The program's one loop, created at first use and never destroyed (objects that outlive
// static destruction may still cancel their notifications).
MessageLoop& ProgramLoop();

} // namespace quenloft
