// Clients that try to make the server hold memory or descriptors, and HTTP/1.0 clients that
// wait for the close: real sockets on 127.0.0.1, real files, exact bytes.
#include "LoopbackClient.h"
#include "app/modMain.h"
#include "http/clsHTTP.h"
#include "support/TempFolder.h"

#include <algorithm>
#include <fcntl.h>
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

std::string Answer(const std::string& status, const std::string& connection,
                   const std::string& body, const std::string& type = "text/plain") {
    return status + "\r\nServer: Quenloft 1.0\r\nConnection: " + connection +
           "\r\nAccept-Ranges: none\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nContent-Type: " + type + "\r\n\r\n" + body;
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        root = dir.MakeFolder("www");
        gSettings = clsSettings();
        gStatistics = clsSettings();
        gSettings.SetVariableValue(Variant("IndexPath"), Variant(root));
        gLog.SetFileName(dir / "Log.dat");
        dir.Write("www/a.txt", "abc");
        server.StartServer(0);
        port = server.PrimarySocket->LocalPort();
    }
    void TearDown() override {
        server.StopServer();
        RunPasses(5);
    }

    int32_t Statistic(const char* key) { return gStatistics.VariableValue(Variant(key)).ToLong(); }
    // The connection the server accepted last.
    clsConnection& Newest() {
        for (size_t i = server.Connections.size(); i-- > 0;) {
            if (server.Connections[i]) {
                return *server.Connections[i];
            }
        }
        throw std::runtime_error("no connection");
    }
    bool Accepted(size_t count) {
        return RunUntil([&] {
            return std::count_if(server.Connections.begin(), server.Connections.end(),
                                 [](const auto& c) { return c != nullptr; }) ==
                   static_cast<long>(count);
        });
    }

    TempFolder dir;
    std::string root;
    clsHTTP server;
    int port = 0;
    const std::string abc = Answer("HTTP/1.1 200 OK", "Keep-Alive", "abc");
};

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

} // namespace
