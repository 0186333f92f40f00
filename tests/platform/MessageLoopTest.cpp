// The message loop on its own: posted messages, socket notifications over real loopback
// sockets, stale notifications, and the resolver.
#include "platform/MessageLoop.h"

#include "support/LoopRunner.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quenloft {
namespace {

using Clock = std::chrono::steady_clock;
using quenloft::testing::RunPasses;
using quenloft::testing::RunUntil;

struct Note {
    uint32_t Msg;
    uintptr_t First;
    uint32_t Event;
    uint32_t Error;
};

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

uint16_t PortOf(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

int Listener() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(fd, 16);
    return fd;
}

int ConnectTo(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = Loopback(port);
    connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return fd;
}

// A connected pair: `near` is the one the loop watches.
struct Pair {
    int Near = -1;
    int Far = -1;
    Pair() {
        int l = Listener();
        Far = ConnectTo(PortOf(l));
        Near = accept(l, nullptr, nullptr);
        close(l);
    }
    ~Pair() {
        if (Near >= 0) {
            close(Near);
        }
        if (Far >= 0) {
            close(Far);
        }
    }
};

class MessageLoopTest : public ::testing::Test {
protected:
    MessageLoop loop;
    std::vector<Note> notes;
    Window target = 0;
    uint32_t socketMsg = 0;
    std::function<void(const Note&)> onNote;

    void SetUp() override {
        socketMsg = loop.RegisterMessage("test.WinsockMessage");
        target = loop.CreateWindow([this](Window, uint32_t msg, uintptr_t first, intptr_t second) {
            Note n{msg, first, static_cast<uint32_t>(second) & 0xFFFF,
                   static_cast<uint32_t>(second) >> 16};
            notes.push_back(n);
            if (onNote) {
                onNote(n);
            }
            return intptr_t{0};
        });
    }

    int Count(uint32_t event) const {
        int n = 0;
        for (const Note& note : notes) {
            n += note.Msg == socketMsg && note.Event == event;
        }
        return n;
    }
};

TEST_F(MessageLoopTest, SameNameGivesSameId) {
    uint32_t a = loop.RegisterMessage("x.ResolveMessage");
    EXPECT_EQ(a, loop.RegisterMessage("x.ResolveMessage"));
    EXPECT_NE(a, loop.RegisterMessage("x.WinsockMessage"));
    EXPECT_GE(a, 0xC000u);
}

TEST_F(MessageLoopTest, PostedMessagesRunInOrderAndLaterPostsWaitForTheNextPass) {
    onNote = [&](const Note& n) {
        if (n.First == 1) {
            loop.Post(target, 7, 3, 0); // posted during the pass
        }
    };
    loop.Post(target, 7, 1, 0);
    loop.Post(target, 7, 2, 0);
    loop.RunOnePass();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].First, 1u);
    EXPECT_EQ(notes[1].First, 2u);
    loop.RunOnePass();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[2].First, 3u);
}

// A procedure that throws does not end the pass; what it threw is told in one line.
TEST_F(MessageLoopTest, AThrowingProcedureIsReportedAndTheNextMessageStillRuns) {
    onNote = [](const Note& n) {
        if (n.First == 1) {
            throw std::runtime_error("disk on fire");
        }
        if (n.First == 2) {
            throw 42;
        }
    };
    loop.Post(target, 7, 1, 0);
    loop.Post(target, 7, 2, 0);
    loop.Post(target, 7, 3, 0);
    ::testing::internal::CaptureStderr();
    loop.RunOnePass();
    std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(notes.size(), 3u);
    EXPECT_EQ(told, "Quenloft: a message's procedure: disk on fire\n"
                    "Quenloft: a message's procedure: an exception that is not a std::exception\n");
}

// A pass run for a budget (as another main loop drives this one) takes what becomes
// ready during it: messages posted meanwhile, and socket readiness even while messages
// keep coming. Budgets here are either zero or far beyond the test's own watchdogs.
TEST_F(MessageLoopTest, APassForABudgetHandlesWhatIsPostedDuringIt) {
    constexpr uintptr_t Chain = 100;
    onNote = [&](const Note& n) {
        if (n.Msg == 7 && n.First < Chain) {
            loop.Post(target, 7, n.First + 1, 0);
        }
    };
    loop.Post(target, 7, 1, 0);
    loop.RunFor(std::chrono::hours(1));
    ASSERT_EQ(notes.size(), Chain) << "returns once nothing is pending, the chain handled";
    EXPECT_EQ(notes.back().First, Chain);

    notes.clear();
    loop.Post(target, 7, 1, 0);
    loop.RunFor(std::chrono::nanoseconds(0));
    EXPECT_EQ(notes.size(), 1u) << "a spent budget still runs one pass, and only one";
    loop.RunFor(std::chrono::hours(1));
}

TEST_F(MessageLoopTest, ReadinessIsReportedWhileMessagesKeepComing) {
    Pair pair;
    ASSERT_EQ(loop.AsyncSelect(pair.Near, target, socketMsg, 59), 0);
    loop.WatchStream(pair.Near);
    ASSERT_EQ(send(pair.Far, "x", 1, 0), 1);
    constexpr uintptr_t Limit = 1000;
    uintptr_t posted = 0;
    onNote = [&](const Note& n) {
        char c;
        if (n.Event == SocketReadable && n.Msg == socketMsg) {
            recv(pair.Near, &c, 1, MSG_DONTWAIT);
        } else if (Count(SocketReadable) == 0 && posted < Limit) {
            loop.Post(target, 7, ++posted, 0);
        }
    };
    loop.Post(target, 7, 0, 0);
    loop.RunFor(std::chrono::hours(1));
    EXPECT_EQ(Count(SocketReadable), 1);
    EXPECT_LT(posted, 100u) << "the sockets wait a few messages at most";
}

TEST_F(MessageLoopTest, APassForABudgetEndsWhileMessagesKeepComing) {
    constexpr uintptr_t Safety = 50'000'000;
    onNote = [&](const Note& n) {
        if (n.First < Safety) {
            loop.Post(target, 7, n.First + 1, 0);
        }
    };
    loop.Post(target, 7, 1, 0);
    loop.RunFor(std::chrono::milliseconds(1));
    ASSERT_FALSE(notes.empty());
    EXPECT_LT(notes.back().First, Safety) << "the budget ended the call, not the chain";
}

TEST_F(MessageLoopTest, TimedMessagesArriveWhenDueAndNotBefore) {
    loop.PostAfter(std::chrono::hours(1), target, 7, 1, 0);
    loop.PostAfter(std::chrono::milliseconds(0), target, 7, 2, 0);
    loop.PostAfter(std::chrono::milliseconds(1), target, 7, 3, 0);
    ASSERT_TRUE(RunUntil(loop, [&] { return notes.size() == 2; }));
    RunPasses(loop);
    ASSERT_EQ(notes.size(), 2u) << "the one due in an hour waits";
    EXPECT_EQ(notes[0].First, 2u);
    EXPECT_EQ(notes[1].First, 3u);
}

TEST_F(MessageLoopTest, PostFromAnotherThreadWakesTheDescriptorAndQuitEndsRun) {
    std::thread poster([&] {
        loop.Post(target, 5, 42, 0);
        loop.Quit();
    });
    pollfd p{loop.Descriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    loop.Run(); // returns after the pass that follows Quit
    poster.join();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].First, 42u);
    loop.RunOnePass(); // a pass with nothing to do quiets the descriptor
    p.revents = 0;
    EXPECT_EQ(poll(&p, 1, 0), 0) << "nothing pending, so the descriptor is quiet";
}

TEST_F(MessageLoopTest, ReadableIsReportedAgainWhileDataRemains) {
    Pair pair;
    ASSERT_EQ(loop.AsyncSelect(pair.Near, target, socketMsg, 59), 0);
    loop.WatchStream(pair.Near);
    int taken = 0;
    onNote = [&](const Note& n) {
        char c;
        if (n.Event == SocketReadable && recv(pair.Near, &c, 1, 0) == 1) {
            ++taken;
        }
    };
    ASSERT_EQ(send(pair.Far, "abc", 3, 0), 3);
    ASSERT_TRUE(RunUntil(loop, [&] { return taken == 3; }));
    RunPasses(loop);
    EXPECT_EQ(Count(SocketReadable), 3) << "one notice per byte taken, none once it is empty";
    EXPECT_EQ(Count(SocketWritable), 0) << "writable only after a blocked send";
    EXPECT_EQ(Count(SocketClosed), 0);
}

TEST_F(MessageLoopTest, WritableOnceAfterABlockedSend) {
    Pair pair;
    ASSERT_EQ(loop.AsyncSelect(pair.Near, target, socketMsg, 59), 0);
    loop.WatchStream(pair.Near);
    std::vector<char> block(65536, 'x');
    size_t sent = 0;
    for (int i = 0; i < 10000; ++i) {
        ssize_t n = send(pair.Near, block.data(), block.size(), MSG_NOSIGNAL);
        if (n < 0) {
            break;
        }
        sent += static_cast<size_t>(n);
    }
    ASSERT_EQ(errno, EAGAIN);
    loop.WatchWritable(pair.Near);
    RunPasses(loop);
    EXPECT_EQ(Count(SocketWritable), 0) << "no room yet";
    std::vector<char> sink(1 << 20);
    size_t drained = 0;
    while (drained < sent) {
        ssize_t n = recv(pair.Far, sink.data(), sink.size(), 0);
        ASSERT_GT(n, 0);
        drained += static_cast<size_t>(n);
    }
    ASSERT_TRUE(RunUntil(loop, [&] { return Count(SocketWritable) == 1; }));
    RunPasses(loop);
    EXPECT_EQ(Count(SocketWritable), 1) << "armed once, reported once";
}

TEST_F(MessageLoopTest, ConnectFinishedCarriesTheConnectError) {
    int l = Listener();
    uint16_t open = PortOf(l);
    int probe = Listener(); // a port with nobody listening once closed
    uint16_t closed = PortOf(probe);
    close(probe);

    int good = socket(AF_INET, SOCK_STREAM, 0);
    int bad = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(loop.AsyncSelect(good, target, socketMsg, 59), 0);
    ASSERT_EQ(loop.AsyncSelect(bad, target, socketMsg, 59), 0);
    RunPasses(loop);
    EXPECT_TRUE(notes.empty()) << "a fresh socket reports nothing";
    sockaddr_in a = Loopback(open);
    sockaddr_in b = Loopback(closed);
    connect(good, reinterpret_cast<sockaddr*>(&a), sizeof a);
    connect(bad, reinterpret_cast<sockaddr*>(&b), sizeof b);
    loop.WatchConnect(good);
    loop.WatchConnect(bad);
    ASSERT_TRUE(RunUntil(loop, [&] { return Count(SocketConnected) == 2; }));
    RunPasses(loop);
    for (const Note& n : notes) {
        ASSERT_EQ(n.Event, SocketConnected) << "nothing else is reported";
        EXPECT_EQ(n.Error, n.First == static_cast<uintptr_t>(good) ? 0u : 10061u);
    }
    close(good);
    close(bad);
    close(l);
}

TEST_F(MessageLoopTest, CloseIsReportedOnceAndAResetCarriesItsError) {
    Pair quiet;
    Pair reset;
    for (int fd : {quiet.Near, reset.Near}) {
        ASSERT_EQ(loop.AsyncSelect(fd, target, socketMsg, 59), 0);
        loop.WatchStream(fd);
    }
    shutdown(quiet.Far, SHUT_WR);
    linger hard{1, 0};
    setsockopt(reset.Far, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(reset.Far);
    reset.Far = -1;
    ASSERT_TRUE(RunUntil(loop, [&] { return Count(SocketClosed) == 2; }));
    RunPasses(loop);
    EXPECT_EQ(Count(SocketClosed), 2);
    for (const Note& n : notes) {
        EXPECT_EQ(n.Event, SocketClosed) << "the close comes alone";
        EXPECT_EQ(n.Error, n.First == static_cast<uintptr_t>(quiet.Near) ? 0u : 10054u);
    }
}

// A peer that shuts only its sending side: closed once, room to write still reported, and
// the end of the connection as a second closed; in between the loop stays quiet.
TEST_F(MessageLoopTest, AfterThePeersHalfCloseOnlyRoomToWriteAndTheEndAreReported) {
    Pair pair;
    ASSERT_EQ(loop.AsyncSelect(pair.Near, target, socketMsg, 59), 0);
    loop.WatchStream(pair.Near);
    send(pair.Far, "last", 4, 0);
    shutdown(pair.Far, SHUT_WR);
    ASSERT_TRUE(RunUntil(loop, [&] { return Count(SocketClosed) == 1; }));
    RunPasses(loop);
    pollfd p{loop.Descriptor(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0) << "unread data or the half-close keeps the loop busy";
    EXPECT_EQ(notes.size(), 1u) << "the closed notice comes alone, and once";

    std::vector<char> block(65536, 'x');
    while (send(pair.Near, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
    }
    loop.WatchWritable(pair.Near);
    std::vector<char> sink(1 << 20);
    ASSERT_TRUE(RunUntil(loop, [&] {
        recv(pair.Far, sink.data(), sink.size(), MSG_DONTWAIT);
        return Count(SocketWritable) == 1;
    }));

    linger hard{1, 0};
    setsockopt(pair.Far, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(pair.Far);
    pair.Far = -1;
    ASSERT_TRUE(RunUntil(loop, [&] { return Count(SocketClosed) == 2; }));
    RunPasses(loop);
    EXPECT_EQ(notes.back().Error, 10054u);
    EXPECT_EQ(notes.size(), 3u);
    EXPECT_EQ(Count(SocketReadable), 0);
}

TEST_F(MessageLoopTest, ConnectionRequestsAreReportedWhileConnectionsWait) {
    int l = Listener();
    ASSERT_EQ(loop.AsyncSelect(l, target, socketMsg, 59), 0);
    loop.WatchStream(l);
    std::vector<int> accepted;
    onNote = [&](const Note& n) {
        if (n.Event == SocketAccept) {
            accepted.push_back(accept(l, nullptr, nullptr));
        }
    };
    int c1 = ConnectTo(PortOf(l));
    int c2 = ConnectTo(PortOf(l));
    ASSERT_TRUE(RunUntil(loop, [&] { return accepted.size() == 2; }));
    RunPasses(loop);
    EXPECT_EQ(Count(SocketAccept), 2);
    for (int fd : {c1, c2, l, accepted[0], accepted[1]}) {
        close(fd);
    }
}

TEST_F(MessageLoopTest, CancellingRemovesQueuedNotifications) {
    Pair pair;
    ASSERT_EQ(loop.AsyncSelect(pair.Near, target, socketMsg, 59), 0);
    loop.WatchStream(pair.Near);
    send(pair.Far, "x", 1, 0);
    loop.Wait(2000); // the readable notice is now queued, not yet delivered
    loop.Post(target, socketMsg, static_cast<uintptr_t>(pair.Near), SocketWritable);
    loop.Post(target, 99, 0, 0); // another message stays
    ASSERT_EQ(loop.AsyncSelect(pair.Near, target, 0, 0), 0);
    RunPasses(loop);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Msg, 99u);
}

TEST_F(MessageLoopTest, ANewSocketWithAClosedOnesNumberGetsNoneOfItsNotifications) {
    int l = Listener();
    int far1 = ConnectTo(PortOf(l));
    int old = accept(l, nullptr, nullptr);
    ASSERT_EQ(loop.AsyncSelect(old, target, socketMsg, 59), 0);
    loop.WatchStream(old);
    close(far1); // the peer closes: a closed notice for `old` gets queued
    loop.Wait(2000);
    close(old); // closed without cancelling, the worst case
    int far2 = ConnectTo(PortOf(l));
    int fresh = accept(l, nullptr, nullptr);
    ASSERT_EQ(fresh, old) << "Linux hands out the lowest free number";
    ASSERT_EQ(loop.AsyncSelect(fresh, target, socketMsg, 59), 0);
    loop.WatchStream(fresh);
    RunPasses(loop);
    EXPECT_EQ(Count(SocketClosed), 0) << "the old socket's close must not reach the new one";
    send(far2, "y", 1, 0);
    ASSERT_TRUE(RunUntil(loop, [&] { return Count(SocketReadable) == 1; }));
    for (int fd : {far2, fresh, l}) {
        close(fd);
    }
}

TEST_F(MessageLoopTest, ResolverWritesTheBufferAndPostsTheReply) {
    uint32_t replyMsg = loop.RegisterMessage("test.ResolveMessage");
    auto good = std::make_shared<HostEntryBuffer>();
    auto bad = std::make_shared<HostEntryBuffer>();
    uint32_t goodId = loop.AsyncResolve(target, replyMsg, "localhost", good);
    uint32_t badId = loop.AsyncResolve(target, replyMsg, "...", bad); // fails without any lookup
    EXPECT_NE(goodId, 0u);
    EXPECT_NE(goodId, badId);
    ASSERT_TRUE(RunUntil(loop, [&] { return notes.size() == 2; }));
    for (const Note& n : notes) {
        EXPECT_EQ(n.Msg, replyMsg);
        if (n.First == goodId) {
            EXPECT_EQ(n.Error, 0u);
            HostEntry entry = ReadHostEntry(*good);
            EXPECT_EQ(entry.Address, htonl(INADDR_LOOPBACK));
            EXPECT_EQ(entry.Name, "localhost");
            EXPECT_EQ(n.Event, 4 + entry.Name.size() + 1) << "the low word is the length";
        } else {
            EXPECT_EQ(n.First, badId);
            EXPECT_EQ(n.Error, 11001u);
        }
    }
}

// What a watched descriptor's handler learns (a file watch: the log was moved) is known
// before any notification from the same poll is delivered, and a handler that drained its
// descriptor is not called again.
TEST_F(MessageLoopTest, AWatchedDescriptorIsHandledBeforeWhatTheSamePollReports) {
    Pair pair;
    ASSERT_EQ(loop.AsyncSelect(pair.Near, target, socketMsg, 59), 0);
    loop.WatchStream(pair.Near);
    int watch[2];
    ASSERT_EQ(pipe2(watch, O_NONBLOCK | O_CLOEXEC), 0);
    int calls = 0;
    ASSERT_TRUE(loop.WatchDescriptor(watch[0], [&] {
        char c;
        while (read(watch[0], &c, 1) == 1) {
        }
        ++calls;
    }));
    std::vector<int> callsAtReadable;
    onNote = [&](const Note& n) {
        char c;
        if (n.Event == SocketReadable && recv(pair.Near, &c, 1, 0) == 1) {
            callsAtReadable.push_back(calls);
        }
    };
    ASSERT_EQ(send(pair.Far, "a", 1, 0), 1);
    ASSERT_EQ(write(watch[1], "x", 1), 1);
    ASSERT_TRUE(RunUntil(loop, [&] { return !callsAtReadable.empty(); }));
    EXPECT_EQ(callsAtReadable[0], 1);
    RunPasses(loop, 3);
    EXPECT_EQ(calls, 1);

    ASSERT_TRUE(loop.WatchDescriptor(watch[0], {}));
    ASSERT_EQ(write(watch[1], "x", 1), 1);
    RunPasses(loop, 3);
    EXPECT_EQ(calls, 1) << "an ended watch calls nothing";
    close(watch[0]);
    close(watch[1]);
}

} // namespace
} // namespace quenloft
