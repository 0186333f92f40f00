// The socket object over real loopback sockets, driven by the program's loop.
#include "net/clsSocket.h"

#include "base/Error.h"
#include "net/modSocketSupport.h"
#include "platform/MessageLoop.h"
#include "support/LoopRunner.h"
#include "support/OpenDescriptors.h"
#include "support/TempFolder.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quenloft {
namespace {

using Clock = std::chrono::steady_clock;
using quenloft::testing::OpenDescriptors;
using quenloft::testing::RunPasses;
using quenloft::testing::RunUntil;

// Records the events of one socket as text, and lets a test act on them.
struct Recorder : SocketEvents {
    std::vector<std::string> Log;
    std::function<void(int32_t)> Request;
    std::function<void()> Closed, Data, Complete, Failed;
    int16_t ErrorNumber = 0;
    std::string ErrorText, ErrorSource;

    void OnClose() override { Note("Close", Closed); }
    void OnConnect() override { Log.push_back("Connect"); }
    void OnConnectionRequest(int32_t id) override {
        Log.push_back("Request");
        if (Request) {
            Request(id);
        }
    }
    void OnDataArrival(int32_t total) override { Note("Data " + std::to_string(total), Data); }
    void OnError(int16_t number, std::string& text, int32_t, const std::string& source,
                 const std::string&, int32_t, bool&) override {
        ErrorNumber = number;
        ErrorText = text;
        ErrorSource = source;
        Note("Error " + std::to_string(number), Failed);
    }
    void OnSendComplete() override { Note("Complete", Complete); }
    void OnSendProgress(int32_t sent, int32_t left) override {
        Log.push_back("Progress " + std::to_string(sent) + " " + std::to_string(left));
    }
    bool Has(const std::string& entry) const {
        return std::find(Log.begin(), Log.end(), entry) != Log.end();
    }
    int Count(std::string_view prefix) const {
        return static_cast<int>(std::count_if(
            Log.begin(), Log.end(), [&](const std::string& e) { return e.starts_with(prefix); }));
    }

private:
    void Note(std::string entry, const std::function<void()>& then) {
        Log.push_back(std::move(entry));
        if (then) {
            then();
        }
    }
};

// A plain blocking client whose reads give up after 5 s (the watchdog of the raw side).
int RawConnect(int32_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return fd;
}

// A port of 127.0.0.1 bound and not listened on while the object lives: a connection to it
// is refused, and no other program can listen on it meanwhile.
class RefusingPort {
public:
    RefusingPort() {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
    }
    ~RefusingPort() { close(fd_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    int32_t Port() const { return port_; }

private:
    int fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int32_t port_ = 0;
};

std::string ReadExactly(int fd, size_t n) {
    std::string got(n, '\0');
    size_t have = 0;
    while (have < n) {
        ssize_t r = recv(fd, got.data() + have, n - have, 0);
        if (r <= 0) {
            break;
        }
        have += static_cast<size_t>(r);
    }
    got.resize(have);
    return got;
}

template <typename Step>
Error Failure(Step step) {
    try {
        step();
    } catch (const Error& e) {
        return e;
    }
    return Error(0, "no error");
}

class SocketTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The loop and the reserve descriptor exist from the first listening socket on.
        auto first = std::make_shared<clsSocket>();
        first->Listen();
        first->CloseSocket();
    }

    void SetUp() override { openAtStart = OpenDescriptors(); }

    void TearDown() override {
        server.reset();
        accepted.clear();
        client.reset();
        for (int fd : raw) {
            close(fd);
        }
        RunPasses();
        EXPECT_EQ(OpenDescriptors(), openAtStart) << "a descriptor was left open";
    }

    // A listening socket on 127.0.0.1 whose requests are accepted into `accepted`.
    void StartServer() {
        server = std::make_shared<clsSocket>();
        server->SetOwner(&serverEvents);
        serverEvents.Request = [this](int32_t id) {
            auto s = std::make_shared<clsSocket>();
            s->SetOwner(&peerEvents);
            s->Accept(id);
            accepted.push_back(s);
        };
        server->Bind(0, "127.0.0.1");
        server->Listen();
    }

    // A raw client connected to the server, with its accepted socket.
    int RawClient() {
        size_t before = accepted.size();
        int fd = RawConnect(server->LocalPort());
        raw.push_back(fd);
        EXPECT_TRUE(RunUntil([&] { return accepted.size() > before; }));
        return fd;
    }

    void ConnectClient(const Variant& host) {
        client = std::make_shared<clsSocket>();
        client->SetOwner(&clientEvents);
        client->Connect(host, server->LocalPort());
        ASSERT_TRUE(RunUntil([&] { return clientEvents.Has("Connect") && !accepted.empty(); }));
    }

    int openAtStart = 0;
    Recorder serverEvents, peerEvents, clientEvents;
    std::shared_ptr<clsSocket> server, client;
    std::vector<std::shared_ptr<clsSocket>> accepted;
    std::vector<int> raw;
};

TEST_F(SocketTest, ANewObjectAndItsImmediateFailures) {
    auto s = std::make_shared<clsSocket>();
    EXPECT_EQ(s->State(), 0);
    EXPECT_EQ(s->SocketHandle(), -1);
    EXPECT_EQ(s->Protocol(), 0);
    EXPECT_EQ(s->Name(), "Socket");

    Error e = Failure([&] { s->SendData("abc"); });
    EXPECT_EQ(e.Number(), 40006);
    EXPECT_EQ(e.Description(),
              "Wrong protocol or connection state for the requested transaction or request.");
    EXPECT_EQ(e.Source(), "clsSocket.SendData");

    e = Failure([&] { s->Connect(); });
    EXPECT_EQ(e.Number(), 10049);
    EXPECT_EQ(e.Description(), "Cannot assign requested address.");
    EXPECT_EQ(e.Source(), "clsSocket.Connect");

    s->Bind(0, "127.0.0.1"); // now it has a socket
    s->SetProtocol(1);
    EXPECT_EQ(s->Protocol(), 0) << "the protocol stays while a socket exists";
}

TEST_F(SocketTest, ListenAcceptAndConnectByAddress) {
    StartServer();
    EXPECT_EQ(server->State(), clsSocket::StateListening);
    EXPECT_GT(server->LocalPort(), 0);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(server->LocalHostName(), host) << "a listening socket names the machine";

    ConnectClient("127.0.0.1");
    EXPECT_EQ(client->State(), clsSocket::StateConnected);
    EXPECT_EQ(client->LocalIP(), "127.0.0.1");
    EXPECT_EQ(client->LocalHostName(), "localhost") << "the local address looked up";
    EXPECT_EQ(client->RemoteHostIP(), "127.0.0.1");

    ASSERT_EQ(accepted.size(), 1u);
    const clsSocket& a = *accepted[0];
    EXPECT_EQ(a.State(), clsSocket::StateConnected);
    EXPECT_EQ(a.LocalIP(), "127.0.0.1");
    EXPECT_EQ(a.LocalHostName(), "127.0.0.1");
    EXPECT_EQ(a.LocalPort(), server->LocalPort());
    EXPECT_EQ(a.RemoteHostIP(), "127.0.0.1");
    EXPECT_EQ(a.RemoteHost(), "127.0.0.1");
    EXPECT_EQ(a.RemotePort(), client->LocalPort());
    EXPECT_EQ(a.Protocol(), 0);
    EXPECT_EQ(server->State(), clsSocket::StateListening) << "accepting leaves it listening";
}

// Accepted and connecting sockets send small blocks at once; a corked one holds back partial
// segments until it is uncorked. A socket without a handle has nothing to set.
TEST_F(SocketTest, TcpOptionsReachTheSocket) {
    StartServer();
    ConnectClient("127.0.0.1");
    auto option = [](const clsSocket& s, int name) {
        int value = -1;
        socklen_t size = sizeof value;
        getsockopt(s.SocketHandle(), IPPROTO_TCP, name, &value, &size);
        return value;
    };
    clsSocket& a = *accepted[0];
    EXPECT_EQ(option(*client, TCP_NODELAY), 1);
    EXPECT_EQ(option(a, TCP_NODELAY), 1);
    EXPECT_EQ(option(a, TCP_CORK), 0);
    a.SetCork(true);
    EXPECT_EQ(option(a, TCP_CORK), 1);
    a.SetCork(false);
    EXPECT_EQ(option(a, TCP_CORK), 0);
    a.SetNoDelay(false);
    EXPECT_EQ(option(a, TCP_NODELAY), 0);
    auto unopened = std::make_shared<clsSocket>();
    unopened->SetCork(true);
    unopened->SetNoDelay(true);
    EXPECT_EQ(unopened->SocketHandle(), -1);
}

TEST_F(SocketTest, ConnectByNameGoesThroughTheResolver) {
    StartServer();
    client = std::make_shared<clsSocket>();
    client->SetOwner(&clientEvents);
    client->Connect("localhost", server->LocalPort());
    EXPECT_EQ(client->State(), clsSocket::StateResolvingHost);
    ASSERT_TRUE(RunUntil([&] { return clientEvents.Has("Connect"); }));
    EXPECT_EQ(client->RemoteHost(), "localhost");
    EXPECT_EQ(client->RemoteHostIP(), "127.0.0.1");
    EXPECT_EQ(client->State(), clsSocket::StateConnected);

    auto lost = std::make_shared<clsSocket>();
    Recorder lostEvents;
    lost->SetOwner(&lostEvents);
    lost->Connect("...", 80); // fails inside the resolver, without any lookup
    ASSERT_TRUE(RunUntil([&] { return lostEvents.Has("Error 11001"); }));
    EXPECT_EQ(lostEvents.ErrorText, "Host not found.");
    EXPECT_EQ(lost->State(), clsSocket::StateError);
}

TEST_F(SocketTest, SendProgressComesAtOnceAndCompletionLaterFromTheLoop) {
    StartServer();
    int peer = RawClient();
    bool inSend = false;
    bool completedInside = false;
    peerEvents.Complete = [&] { completedInside = inSend; };
    inSend = true;
    accepted[0]->SendData("abc");
    inSend = false;
    EXPECT_EQ(peerEvents.Log, std::vector<std::string>{"Progress 3 0"});
    ASSERT_TRUE(RunUntil([&] { return peerEvents.Has("Complete"); }));
    RunPasses();
    EXPECT_FALSE(completedInside);
    EXPECT_EQ(peerEvents.Count("Complete"), 1);
    EXPECT_EQ(ReadExactly(peer, 3), "abc");

    Error e = Failure([&] { accepted[0]->SendData(""); });
    EXPECT_EQ(e.Number(), ErrSubscript);
    EXPECT_EQ(e.Source(), "clsSocket.SendData");
}

TEST_F(SocketTest, ALargeSendToASlowReaderArrivesWholeAndInOrder) {
    StartServer();
    int peer = RawClient();
    fcntl(peer, F_SETFL, O_NONBLOCK);
    std::string payload(16 << 20, '\0');
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>((i * 131) ^ (i >> 12));
    }
    accepted[0]->SendData(Variant::Bytes(payload));
    std::string got;
    std::vector<char> piece(64 * 1024);
    ASSERT_TRUE(RunUntil(
        [&] {
            ssize_t n = recv(peer, piece.data(), piece.size(), 0); // a slow reader
            if (n > 0) {
                got.append(piece.data(), static_cast<size_t>(n));
            }
            return got.size() == payload.size() && peerEvents.Has("Complete");
        },
        60000));
    EXPECT_TRUE(got == payload) << "bytes lost or reordered";
    EXPECT_GT(peerEvents.Count("Progress"), 1) << "the send went out in several parts";
    EXPECT_EQ(peerEvents.Log.back(), "Complete");
    EXPECT_EQ(peerEvents.Count("Complete"), 1);
}

// Blocks straight from a file: the same events as SendData, exact bytes from the offset
// asked for, a slow reader still gets the rest, and the end of the file sends nothing.
TEST_F(SocketTest, BlocksOfAFileGoOutLikeSentData) {
    StartServer();
    int peer = RawClient();
    fcntl(peer, F_SETFL, O_NONBLOCK);
    testing::TempFolder dir;
    std::string content(8 << 20, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 131) ^ (i >> 12));
    }
    int file = open(dir.Write("f.bin", content).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    clsSocket& s = *accepted[0];

    EXPECT_EQ(s.SendFileData(file, 5, 3), 3);
    EXPECT_EQ(peerEvents.Log, std::vector<std::string>{"Progress 3 0"});
    ASSERT_TRUE(RunUntil([&] { return peerEvents.Has("Complete"); }));
    EXPECT_EQ(ReadExactly(peer, 3), content.substr(5, 3));

    // Far more than the socket takes at once: the rest waits in the send buffer.
    int64_t from = 1000, rest = static_cast<int64_t>(content.size()) - from;
    EXPECT_EQ(s.SendFileData(file, from, rest + 10), rest) << "the file ends early";
    std::string got;
    std::vector<char> piece(64 * 1024);
    ASSERT_TRUE(RunUntil(
        [&] {
            ssize_t n = recv(peer, piece.data(), piece.size(), 0);
            if (n > 0) {
                got.append(piece.data(), static_cast<size_t>(n));
            }
            return got.size() >= static_cast<size_t>(rest) && peerEvents.Count("Complete") == 2;
        },
        60000));
    EXPECT_TRUE(got == content.substr(static_cast<size_t>(from))) << "bytes lost or reordered";
    EXPECT_EQ(peerEvents.Log.back(), "Complete");

    size_t events = peerEvents.Log.size();
    EXPECT_EQ(s.SendFileData(file, static_cast<int64_t>(content.size()), 1024), 0);
    RunPasses();
    EXPECT_EQ(peerEvents.Log.size(), events) << "the end of the file sends nothing";
    close(file);

    Error e = Failure([&] { clsSocket().SendFileData(0, 0, 1); });
    EXPECT_EQ(e.Number(), 40006);
    EXPECT_EQ(e.Source(), "clsSocket.SendData");
}

// A block of a file for a peer that has gone fails the send; sendfile cannot be told
// MSG_NOSIGNAL, so this needs the process-wide settings made at start-up.
TEST_F(SocketTest, AFileForAPeerThatHasGoneFailsTheSend) {
    StartServer();
    int peer = RawClient();
    testing::TempFolder dir;
    int file = open(dir.Write("f.bin", std::string(4096, 'f')).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    linger hard{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(peer);
    raw.pop_back();
    clsSocket& s = *accepted[0];
    for (const char* send : {"reset", "after the reset"}) {
        Error e = Failure([&] { s.SendFileData(file, 0, 4096); });
        EXPECT_EQ(e.Source(), "clsSocket.SendData") << send;
    }
    close(file);
}

TEST_F(SocketTest, GetDataAndPeekDataTakeTextNumbersAndParts) {
    StartServer();
    int peer = RawClient();
    clsSocket& s = *accepted[0];
    send(peer, "abcde", 5, 0);
    ASSERT_TRUE(RunUntil([&] { return peerEvents.Has("Data 5"); }));

    Variant v;
    s.PeekData(v, std::nullopt, 10);
    EXPECT_EQ(v, Variant("abcde"));
    s.GetData(v, std::nullopt, 2);
    EXPECT_EQ(v, Variant("ab"));
    EXPECT_EQ(s.BytesReceived(), 3);
    s.GetData(v, 8209);
    EXPECT_EQ(v, Variant::Bytes("cde"));
    Variant untouched("keep");
    s.GetData(untouched);
    EXPECT_EQ(untouched, Variant("keep")) << "an empty buffer leaves the value alone";

    const char eight[] = {7, 0, 0, 0, 1, 2, 3, 4};
    send(peer, eight, 8, 0);
    ASSERT_TRUE(RunUntil([&] { return peerEvents.Has("Data 8"); }));
    s.GetData(v, 3);
    EXPECT_EQ(v, Variant(int32_t{7}));
    EXPECT_EQ(s.BytesReceived(), 0) << "the whole data was taken";

    // Number kinds travel as their little-endian images.
    s.SendData(Variant(int32_t{1}));
    EXPECT_EQ(ReadExactly(peer, 4), std::string("\x01\x00\x00\x00", 4));
    s.SendData(Variant::Boolean(true));
    EXPECT_EQ(ReadExactly(peer, 2), "\xFF\xFF");
    s.SendData(Variant(1.5));
    double d = 0;
    std::string image = ReadExactly(peer, 8);
    std::memcpy(&d, image.data(), 8);
    EXPECT_EQ(d, 1.5);
}

TEST_F(SocketTest, CloseHandshakeWaitsForThePeerAndDrainsTheLastData) {
    StartServer();
    int peer = RawClient();
    clsSocket& s = *accepted[0];
    std::string last;
    peerEvents.Data = [&] {
        Variant v;
        s.GetData(v);
        last += v.ToText();
    };
    s.CloseSocket();
    EXPECT_EQ(s.State(), clsSocket::StateClosing);
    RunPasses();
    EXPECT_TRUE(peerEvents.Log.empty()) << "no event until the peer closes";
    char c;
    EXPECT_EQ(recv(peer, &c, 1, 0), 0) << "our sending side is shut";

    send(peer, "bye", 3, 0);
    shutdown(peer, SHUT_WR);
    ASSERT_TRUE(RunUntil([&] { return peerEvents.Has("Close"); }));
    EXPECT_EQ(last, "bye");
    EXPECT_EQ(peerEvents.Log.back(), "Close");
    EXPECT_EQ(s.State(), clsSocket::StateClosed);
    EXPECT_EQ(s.SocketHandle(), -1);
}

// A client that shuts its sending side after asking gets an answer sent piece by piece
// whole, then one close; one that resets on the way ends the socket with one event.
TEST_F(SocketTest, AHalfClosedPeerGetsTheAnswerUnderWayAndTheSocketEndsOnce) {
    StartServer();
    const std::string piece(256 * 1024, 'a');
    for (bool reset : {false, true}) {
        accepted.clear();
        peerEvents.Log.clear();
        int peer = RawClient();
        clsSocket& s = *accepted.back();
        int piecesLeft = 8;
        peerEvents.Data = [&] { s.SendData(piece); };
        peerEvents.Complete = [&] {
            if (--piecesLeft > 0) {
                s.SendData(piece);
            }
        };
        send(peer, "ask", 3, 0);
        shutdown(peer, SHUT_WR);
        fcntl(peer, F_SETFL, O_NONBLOCK);
        std::vector<char> sink(64 * 1024);
        size_t got = 0;
        bool ended = false;
        ASSERT_TRUE(RunUntil([&] {
            ssize_t n = ended ? -1 : recv(peer, sink.data(), sink.size(), 0); // a slow reader
            got += n > 0 ? static_cast<size_t>(n) : 0;
            if (reset && !ended && got > piece.size()) {
                linger hard{1, 0};
                setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                close(peer);
                raw.pop_back();
                ended = true;
            }
            ended = ended || n == 0;
            return ended && s.SocketHandle() == -1;
        }));
        RunPasses();
        EXPECT_EQ(peerEvents.Count("Close") + peerEvents.Count("Error"), 1);
        if (!reset) {
            EXPECT_EQ(got, 8 * piece.size()) << "the answer was cut short";
            EXPECT_EQ(peerEvents.Log.back(), "Close");
        }
    }
}

TEST_F(SocketTest, ClosingAListeningSocketIsImmediate) {
    StartServer();
    int32_t port = server->LocalPort();
    server->CloseSocket();
    EXPECT_EQ(server->State(), clsSocket::StateClosed);
    EXPECT_EQ(server->SocketHandle(), -1);
    RunPasses();
    EXPECT_TRUE(serverEvents.Log.empty());
    auto again = std::make_shared<clsSocket>();
    again->SetLocalPort(port);
    again->Listen(); // the port is free again
    EXPECT_EQ(again->State(), clsSocket::StateListening);
}

TEST_F(SocketTest, FailuresCarryTheirNumbersTextsAndSources) {
    StartServer();
    auto second = std::make_shared<clsSocket>();
    second->SetLocalPort(server->LocalPort());
    Error e = Failure([&] { second->Listen(); });
    EXPECT_EQ(e.Number(), 10048);
    EXPECT_EQ(e.Description(), "Address already in use.");
    EXPECT_EQ(e.Source(), "clsSocket.Listen");

    client = std::make_shared<clsSocket>();
    client->SetOwner(&clientEvents);
    RefusingPort refusing;
    client->Connect("127.0.0.1", refusing.Port());
    ASSERT_TRUE(RunUntil([&] { return clientEvents.Has("Error 10061"); }));
    EXPECT_EQ(clientEvents.ErrorText, "Connection refused.");
    EXPECT_EQ(clientEvents.ErrorSource, "");
    EXPECT_EQ(client->State(), clsSocket::StateError);
    EXPECT_EQ(client->SocketHandle(), -1);

    e = Failure([&] { client->Connect("127.0.0.1", 70000); });
    EXPECT_EQ(e.Number(), ErrOverflow);
    EXPECT_EQ(e.Source(), "clsSocket.Connect");
}

TEST_F(SocketTest, DatagramsTravelAndBroadcastFollowsTheRemoteAddress) {
    auto rx = std::make_shared<clsSocket>();
    auto tx = std::make_shared<clsSocket>();
    Recorder rxEvents, txEvents;
    rx->SetOwner(&rxEvents);
    tx->SetOwner(&txEvents);
    rx->SetProtocol(1);
    tx->SetProtocol(1);
    rx->Bind(0, "127.0.0.1");
    tx->SetRemotePort(rx->LocalPort());
    tx->SetRemoteHost("127.0.0.1");
    tx->SendData("hello");
    EXPECT_EQ(txEvents.Log, std::vector<std::string>{"Progress 5 0"});
    ASSERT_TRUE(RunUntil([&] { return rxEvents.Has("Data 5") && txEvents.Has("Complete"); }));
    Variant v;
    rx->GetData(v);
    EXPECT_EQ(v, Variant("hello"));
    EXPECT_EQ(rx->RemoteHostIP(), "127.0.0.1");
    EXPECT_EQ(rx->RemoteHost(), "localhost");
    sockaddr_in from{};
    socklen_t len = sizeof from;
    getsockname(tx->SocketHandle(), reinterpret_cast<sockaddr*>(&from), &len);
    EXPECT_EQ(rx->RemotePort(), ntohs(from.sin_port));

    auto broadcast = [&] {
        int on = -1;
        socklen_t size = sizeof on;
        getsockopt(tx->SocketHandle(), SOL_SOCKET, SO_BROADCAST, &on, &size);
        return on;
    };
    EXPECT_EQ(broadcast(), 0);
    tx->SetRemoteHost("127.0.0.255");
    EXPECT_EQ(broadcast(), 1);
    EXPECT_EQ(tx->RemoteHostIP(), "127.0.0.255");
    tx->SetRemoteHost("localhost");
    EXPECT_EQ(broadcast(), 1) << "a name changes nothing";
    EXPECT_EQ(tx->RemoteHostIP(), "127.0.0.255");
    tx->SetRemoteHost("127.0.0.1");
    EXPECT_EQ(broadcast(), 0);

    // A datagram to a name waits for the resolver.
    auto named = std::make_shared<clsSocket>();
    named->SetProtocol(1);
    named->SetRemotePort(rx->LocalPort());
    named->SetRemoteHost("localhost");
    named->SendData("by name");
    ASSERT_TRUE(RunUntil([&] { return rxEvents.Has("Data 7"); }));
    rx->GetData(v);
    EXPECT_EQ(v, Variant("by name"));
}

TEST_F(SocketTest, AClosedSocketsQueuedNotificationNeverReachesItsSuccessor) {
    StartServer();
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    raw.push_back(listener);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(listener, 4);
    socklen_t len = sizeof sa;
    getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);

    int far1 = RawConnect(ntohs(sa.sin_port));
    auto old = std::make_shared<clsSocket>();
    Recorder oldEvents;
    old->SetOwner(&oldEvents);
    old->Accept(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    int number = old->SocketHandle();
    close(far1);
    ProgramLoop().Wait(2000); // the closed notice for `old` is queued, not yet delivered
    old.reset();              // closes its socket

    int far2 = RawConnect(ntohs(sa.sin_port));
    raw.push_back(far2);
    auto fresh = std::make_shared<clsSocket>();
    fresh->SetOwner(&peerEvents);
    fresh->Accept(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_EQ(fresh->SocketHandle(), number) << "the number is reused at once";
    accepted.push_back(fresh);
    RunPasses();
    EXPECT_TRUE(oldEvents.Log.empty());
    EXPECT_FALSE(peerEvents.Has("Close")) << "the old close reached the new socket";
    EXPECT_EQ(fresh->State(), clsSocket::StateConnected);
    send(far2, "ok", 2, 0);
    ASSERT_TRUE(RunUntil([&] { return peerEvents.Has("Data 2"); }));
}

// An owner that owns its socket, like a connection in the server's table.
struct Owned : SocketEvents {
    std::shared_ptr<clsSocket> Socket = std::make_shared<clsSocket>();
    std::function<void()> Drop;
    Owned() { Socket->SetOwner(this); }
    void OnClose() override { DropNow(); }
    void OnDataArrival(int32_t) override { DropNow(); }
    void DropNow() {
        auto drop = Drop; // destroys this object, so it must not run from inside it
        drop();
    }
};

TEST_F(SocketTest, AHandlerMayDropTheLastReferenceToItsSocket) {
    StartServer();
    // Dropped inside OnClose, and inside OnDataArrival while the close drains.
    for (bool withData : {false, true}) {
        auto owned = std::make_unique<Owned>();
        bool dropped = false;
        owned->Drop = [&] {
            owned.reset();
            dropped = true;
        };
        owned->Socket->Connect("127.0.0.1", server->LocalPort());
        ASSERT_TRUE(RunUntil([&] { return !accepted.empty(); }));
        if (withData) {
            accepted.back()->SendData("last");
        }
        accepted.back()->CloseSocket();
        ASSERT_TRUE(RunUntil([&] { return dropped; }));
        ASSERT_TRUE(RunUntil([&] { return peerEvents.Count("Close") == (withData ? 2 : 1); }));
        accepted.clear();
    }
}

// A handler that fails for no reason of the program's own (out of memory, say) ends the
// handling of that one notification: the loop goes on, and so does the socket.
TEST_F(SocketTest, AHandlerFailingUnexpectedlyStopsNeitherTheLoopNorTheSocket) {
    StartServer();
    int fd = RawClient();
    bool failOnce = true;
    peerEvents.Data = [&] {
        if (std::exchange(failOnce, false)) {
            throw std::bad_alloc();
        }
    };
    ASSERT_EQ(send(fd, "one", 3, 0), 3);
    ASSERT_TRUE(RunUntil([&] { return !failOnce; }));
    Variant first;
    accepted[0]->GetData(first);
    EXPECT_EQ(first.Text(), "one");
    ASSERT_EQ(send(fd, "two", 3, 0), 3);
    ASSERT_TRUE(
        RunUntil([&] { return peerEvents.Has("Data 3") && peerEvents.Count("Data") == 2; }));
    accepted[0]->SendData("answer");
    EXPECT_EQ(ReadExactly(fd, 6), "answer");
    shutdown(fd, SHUT_WR);
    EXPECT_TRUE(RunUntil([&] { return peerEvents.Has("Close"); }));
}

TEST_F(SocketTest, AHandlerMayCloseAndReopenItsSocket) {
    StartServer();
    int reconnects = 0;
    clientEvents.Closed = [&] {
        if (++reconnects == 1) {
            client->Connect("127.0.0.1", server->LocalPort()); // a new socket, same object
        }
    };
    ConnectClient("127.0.0.1");
    accepted[0]->CloseSocket();
    ASSERT_TRUE(RunUntil([&] { return clientEvents.Count("Connect") == 2; }));
    EXPECT_EQ(client->State(), clsSocket::StateConnected);
    EXPECT_EQ(accepted.size(), 2u);
    client->SendData("again");
    ASSERT_TRUE(RunUntil([&] { return peerEvents.Has("Data 5"); }));
}

TEST_F(SocketTest, AConnectionNobodyAcceptsIsClosed) {
    StartServer();
    serverEvents.Request = nullptr; // the owner ignores the request
    int peer = RawConnect(server->LocalPort());
    raw.push_back(peer);
    ASSERT_TRUE(RunUntil([&] { return serverEvents.Has("Request"); }));
    char c;
    EXPECT_EQ(recv(peer, &c, 1, 0), 0) << "the unclaimed connection was closed";
}

TEST_F(SocketTest, AnAcceptThatFailsForWantOfDescriptorsDoesNotSpin) {
    StartServer();
    std::vector<int32_t> offers;
    serverEvents.Request = [&](int32_t id) { offers.push_back(id); };
    int peer = RawConnect(server->LocalPort());
    raw.push_back(peer);
    int lowestFree = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(lowestFree);
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree); // no number left for the connection
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    bool offered = RunUntil([&] { return serverEvents.Has("Request"); });
    RunPasses();
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_TRUE(offered);
    EXPECT_EQ(serverEvents.Count("Request"), 1) << "the waiting connection was reported again";
    EXPECT_EQ(offers, std::vector<int32_t>{-1}) << "the request carries the failed accept";
    char c;
    EXPECT_EQ(recv(peer, &c, 1, 0), 0) << "the connection was taken off the queue and closed";
}

} // namespace
} // namespace quenloft
