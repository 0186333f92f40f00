// Clients that try to make the server hold memory or descriptors, and HTTP/1.0 clients that
// wait for the close: real sockets on 127.0.0.1, real files, exact bytes.
#include "LoopbackClient.h"
#include "ServerFixture.h"
#include "base/Error.h"
#include "http/clsHTTP.h"
#include "support/TempFolder.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace quenloft;
using quenloft::testing::LoopbackClient;
using quenloft::testing::RunPasses;
using quenloft::testing::RunUntil;
using quenloft::testing::TempFolder;

namespace {

constexpr size_t Working = 4096; // what a buffer may keep beyond its bytes

std::string Answer(const std::string& status, const std::string& connection,
                   const std::string& body, const std::string& type = "text/plain; charset=utf-8") {
    return status + "\r\nServer: Quenloft 1.0\r\nConnection: " + connection +
           "\r\nAccept-Ranges: bytes\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nContent-Type: " + type + "\r\n\r\n" + body;
}

const std::string Refused431 =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nServer: Quenloft 1.0\r\nConnection: "
    "Close\r\nAccept-Ranges: none\r\n\r\n<html><h1>431 - Request Header Fields Too "
    "Large</h1></html>";

// A request of exactly `size` bytes, made long by one header line.
std::string PaddedGet(const std::string& target, size_t size) {
    std::string head = "GET " + target + " HTTP/1.1\r\nX-Pad: ";
    return head + std::string(size - head.size() - 4, 'p') + "\r\n\r\n";
}

// The start of a request head of exactly `size` bytes, without its empty line.
std::string UnfinishedHead(size_t size) {
    std::string start = "GET /a.txt HTTP/1.1\r\nX: ";
    return start + std::string(size - start.size(), 'h');
}

class Hostile : public quenloft::testing::ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        dir.Write("www/a.txt", "abc");
    }

    // Beside a silent connection, a request asked while no descriptor is free: its answer,
    // and whether the silent connection was closed to make room.
    struct AnsweredWithoutDescriptors {
        std::string Answer;
        bool Evicted = false;
    };
    AnsweredWithoutDescriptors AskWithoutDescriptors(const std::string& request);

    // The connection the server accepted last.
    clsConnection& Newest() {
        for (size_t i = server.Connections().size(); i-- > 0;) {
            if (server.Connections()[i]) {
                return *server.Connections()[i];
            }
        }
        throw std::runtime_error("no connection");
    }
    bool Accepted(size_t count) {
        return RunUntil([&] {
            return std::count_if(server.Connections().begin(), server.Connections().end(),
                                 [](const auto& c) { return c != nullptr; }) ==
                   static_cast<long>(count);
        });
    }

    const std::string abc = Answer("HTTP/1.1 200 OK", "Keep-Alive", "abc");
};

// --- memory -------------------------------------------------------------------------

// A connection that stays open after a large head keeps no more than a small working size:
// not in its buffer, nor in what the answered request left in its record.
TEST_F(Hostile, ALargeHeadLeavesNoMemoryBehindOnAnOpenConnection) {
    LoopbackClient client(port);
    ASSERT_TRUE(client.Send(PaddedGet("/a.txt", 65536)));
    EXPECT_EQ(client.ReadAnswer(), abc);
    clsConnection& C = Newest();
    EXPECT_LE(C.Buffer.capacity(), Working);
    EXPECT_FALSE(C.Current.RequestMIME.has_value());
    EXPECT_EQ(server.UnansweredBytes(), 0u);

    // A long target (its query is no part of the file name) and, behind it, the start of the
    // next request, which stays.
    std::string longTarget = "/a.txt?" + std::string(60000, 'q');
    ASSERT_TRUE(client.Send("GET " + longTarget + " HTTP/1.1\r\n\r\nGET /a.txt HT"));
    EXPECT_EQ(client.ReadAnswer(), abc);
    RunPasses(5);
    EXPECT_EQ(C.Buffer, "GET /a.txt HT");
    EXPECT_LE(C.Buffer.capacity(), C.Buffer.size() + Working);
    EXPECT_LE(C.Current.OriginalRequest.capacity(), Working);
    EXPECT_LE(C.Current.URL.capacity(), C.Current.URL.size() + Working);
    EXPECT_EQ(server.UnansweredBytes(), 13u);

    ASSERT_TRUE(client.Send("TP/1.1\r\n\r\n"));
    EXPECT_EQ(client.ReadAnswer(), abc);
    EXPECT_EQ(server.UnansweredBytes(), 0u);
    EXPECT_EQ(Statistic("RequestsOK"), 3);
}

// The socket object's own receive buffer gives back what a partial take leaves spare.
TEST_F(Hostile, TheSocketsReceiveBufferGivesBackWhatATakeLeftSpare) {
    struct Taker : SocketEvents {
        std::shared_ptr<clsSocket> Accepted = std::make_shared<clsSocket>();
        void OnConnectionRequest(int32_t id) override { Accepted->Accept(id); }
    } taker;
    auto listening = std::make_shared<clsSocket>();
    listening->SetOwner(&taker);
    listening->Listen();
    LoopbackClient client(listening->LocalPort());
    ASSERT_TRUE(client.Send(std::string(65536, 'x')));
    ASSERT_TRUE(RunUntil([&] { return taker.Accepted->BytesReceived() == 65536; }));

    Variant part;
    taker.Accepted->GetData(part, std::nullopt, 64000);
    EXPECT_EQ(part.Text().size(), 64000u);
    EXPECT_EQ(taker.Accepted->BytesReceived(), 1536);
    EXPECT_LE(taker.Accepted->ReceiveCapacity(), 1536 + Working);
    taker.Accepted->GetData(part);
    EXPECT_EQ(part.Text(), std::string(1536, 'x'));
}

// Past the total bound on unanswered bytes, the connection holding the most is refused;
// the others keep their bytes and are answered when their heads are complete.
TEST_F(Hostile, UnansweredBytesHaveATotalBoundAcrossConnections) {
    server.SetUnansweredLimit(150000);
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    size_t total = 0;
    for (size_t held : {50000, 60000, 40000}) { // exactly the bound: nobody is refused
        clients.push_back(std::make_unique<LoopbackClient>(port));
        ASSERT_TRUE(clients.back()->Send(UnfinishedHead(held)));
        total += held;
        ASSERT_TRUE(RunUntil([&] { return server.UnansweredBytes() == total; })) << held;
    }
    LoopbackClient last(port);
    ASSERT_TRUE(last.Send("GET /a.txt"));

    EXPECT_EQ(clients[1]->ReadToEnd(), Refused431);
    EXPECT_EQ(server.UnansweredBytes(), 50000u + 40000u + 10u);
    EXPECT_FALSE(clients[0]->ClosedByServer(100));
    for (auto* client : {clients[0].get(), clients[2].get()}) {
        ASSERT_TRUE(client->Send("\r\n\r\n"));
        EXPECT_EQ(client->ReadAnswer(), abc);
    }
    ASSERT_TRUE(last.Send(" HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(last.ReadAnswer(), abc);
    EXPECT_EQ(server.UnansweredBytes(), 0u);
    clients.clear();
    ASSERT_TRUE(RunUntil([&] { return server.UnansweredBytes() == 0; }));
}

// A connection that closes with a head half sent takes its bytes out of the total.
TEST_F(Hostile, AClosedConnectionTakesItsBytesOutOfTheTotal) {
    auto client = std::make_unique<LoopbackClient>(port);
    ASSERT_TRUE(client->Send(UnfinishedHead(30000)));
    ASSERT_TRUE(RunUntil([&] { return server.UnansweredBytes() == 30000; }));
    client->Reset();
    ASSERT_TRUE(RunUntil([&] { return server.UnansweredBytes() == 0; }));
    LoopbackClient over(port); // over its own bound: refused, and nothing stays counted
    over.Send(UnfinishedHead(70000));
    EXPECT_EQ(over.ReadToEnd(), Refused431);
    EXPECT_EQ(server.UnansweredBytes(), 0u);
}

// --- HTTP/1.0 -----------------------------------------------------------------------

// An HTTP/1.0 client that does not ask to keep the connection waits for its close.
TEST_F(Hostile, HttpOneZeroWithoutKeepAliveIsAnsweredCloseAndClosed) {
    const std::string closing = Answer("HTTP/1.0 200 OK", "Close", "abc");
    struct Case {
        std::string request;
        std::string expected;
    } cases[] = {
        {"GET /a.txt HTTP/1.0\r\n\r\n", closing},
        {"GET /a.txt HTTP/1.0\r\nConnection: Keep-Alive, x\r\n\r\n", closing},
        {"GET /a.txt HTTP/0.9\r\n\r\n", Answer("HTTP/0.9 200 OK", "Close", "abc")},
        // a second request after the close is never answered
        {"GET /a.txt HTTP/1.0\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n", closing},
    };
    for (const Case& c : cases) {
        LoopbackClient client(port);
        client.Send(c.request);
        EXPECT_EQ(client.ReadToEnd(), c.expected) << c.request;
    }
    EXPECT_EQ(Statistic("RequestsOK"), 4);
}

TEST_F(Hostile, HttpOneZeroAskingForKeepAliveAndHttpOneOneStayOpen) {
    for (const char* version : {"HTTP/1.0", "HTTP/1.1"}) {
        LoopbackClient client(port);
        std::string request =
            std::string("GET /a.txt ") + version + "\r\nconnection: keep-alive\r\n\r\n";
        std::string expected = Answer(std::string(version) + " 200 OK", "Keep-Alive", "abc");
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(client.Send(request));
            EXPECT_EQ(client.ReadAnswer(), expected) << version;
        }
        EXPECT_FALSE(client.ClosedByServer(100)) << version;
    }
    LoopbackClient plain(port);
    plain.Send("GET /a.txt HTTP/1.1\r\n\r\n");
    EXPECT_EQ(plain.ReadAnswer(), abc);
    EXPECT_FALSE(plain.ClosedByServer(100));
}

// --- out of descriptors ----------------------------------------------------------------

// Uses up every descriptor the process may open, until it goes out of scope.
class DescriptorsExhausted {
public:
    DescriptorsExhausted() {
        // Under the undefined-behaviour sanitizer the first method call on an object of a
        // class checks its type, and the check needs a descriptor: the classes the request
        // meets are met first while there are some, the errors here, the rest by asking.
        try {
            throw Error(0, "");
        } catch (const Error& e) {
            (void)e.Number();
        }
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        struct rlimit tight = saved_;
        int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        fillers_.push_back(first);
        tight.rlim_cur = static_cast<rlim_t>(first) + 16;
        ::setrlimit(RLIMIT_NOFILE, &tight);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
            fillers_.push_back(fd);
        }
    }
    ~DescriptorsExhausted() {
        for (int fd : fillers_) {
            ::close(fd);
        }
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorsExhausted(const DescriptorsExhausted&) = delete;
    DescriptorsExhausted& operator=(const DescriptorsExhausted&) = delete;

private:
    struct rlimit saved_ {};
    std::vector<int> fillers_;
};

Hostile::AnsweredWithoutDescriptors Hostile::AskWithoutDescriptors(const std::string& request) {
    {
        // A server of its own answers the request first, while descriptors are free (see
        // DescriptorsExhausted), from a copy of the folder: nothing it reads is kept for the
        // test's own server.
        std::filesystem::copy(root, dir / "copy", std::filesystem::copy_options::recursive);
        clsSettings ownSettings, ownStatistics;
        clsLog ownLog;
        ownSettings.SetVariableValue(Variant("IndexPath"), Variant(dir / "copy"));
        clsHTTP own(ownSettings, ownStatistics, ownLog);
        own.StartServer(0);
        {
            LoopbackClient client(own.PrimarySocket()->LocalPort());
            client.Send(request);
            client.ReadAnswer();
        }
        EXPECT_TRUE(RunUntil([&] { return own.LiveConnections() == 0; }));
        own.StopServer();
    }
    LoopbackClient silent(port);
    silent.Send("GET /a.txt HTTP/1.1\r\n\r\n"); // also opens the log
    EXPECT_EQ(silent.ReadAnswer(), abc);
    LoopbackClient asker(port);
    EXPECT_TRUE(Accepted(2));
    DescriptorsExhausted exhausted;
    AnsweredWithoutDescriptors result;
    asker.Send(request);
    result.Answer = asker.ReadAnswer();
    result.Evicted = silent.ClosedByServer();
    return result;
}

// A file that exists but cannot be opened for want of descriptors is not "not found": the
// longest-silent connection makes room and the file is served.
TEST_F(Hostile, OutOfDescriptorsTheLongestSilentConnectionMakesRoomForAFile) {
    auto [answer, evicted] = AskWithoutDescriptors("GET /a.txt HTTP/1.1\r\n\r\n");
    EXPECT_EQ(answer, abc);
    EXPECT_TRUE(evicted);
    EXPECT_EQ(Statistic("RequestsOK"), 2);
    EXPECT_EQ(Statistic("RequestsFileNotFound"), 0);
}

// So is a folder: it is listed once the longest-silent connection has made room, never
// answered as empty or missing.
TEST_F(Hostile, OutOfDescriptorsTheLongestSilentConnectionMakesRoomForAListing) {
    dir.Write("www/docs/readme.txt", "r");
    auto [answer, evicted] = AskWithoutDescriptors("GET /docs/ HTTP/1.1\r\n\r\n");
    EXPECT_NE(answer.find("<a href=readme.txt>readme.txt</a>"), std::string::npos) << answer;
    EXPECT_TRUE(evicted);
    EXPECT_EQ(Statistic("RequestsDirectoryListing"), 1);
    EXPECT_EQ(Statistic("RequestsFileNotFound"), 0);
}

// With nobody to make room, the request is logged but neither answered nor counted, and
// the connection ends; the server serves again once descriptors are free.
TEST_F(Hostile, OutOfDescriptorsWithNobodyToEvictTheConnectionEndsUnanswered) {
    dir.Write("www/sub/index.html", "<p>");
    settings.SetVariableValue(Variant("IndexNames"), Variant::Array({Variant("index.html")}));
    {
        LoopbackClient first(port);
        first.Send("GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n"); // opens the log
        ASSERT_EQ(first.ReadToEnd(), Answer("HTTP/1.1 200 OK", "Close", "abc"));
    }
    ASSERT_TRUE(Accepted(0));
    LoopbackClient asker(port);
    ASSERT_TRUE(Accepted(1));

    std::string answer;
    {
        DescriptorsExhausted exhausted;
        asker.Send("GET /sub/ HTTP/1.1\r\n\r\n");
        answer = asker.ReadToEnd();
    }
    EXPECT_EQ(answer, "");
    EXPECT_EQ(Statistic("RequestsOK"), 1);
    EXPECT_EQ(Statistic("RequestsDirectoryListing"), 0);
    EXPECT_EQ(Statistic("RequestsFileNotFound"), 0);
    std::string log = TempFolder::Read(dir / "Log.dat");
    EXPECT_NE(log.find("  GET /sub/ HTTP/1.1\r\n"), std::string::npos) << log;

    LoopbackClient again(port);
    again.Send("GET /sub/ HTTP/1.1\r\n\r\n");
    EXPECT_EQ(again.ReadAnswer(), Answer("HTTP/1.1 200 OK", "Keep-Alive", "<p>", "text/html"));
}

} // namespace
