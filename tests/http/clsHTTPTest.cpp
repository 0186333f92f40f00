// The server end to end on 127.0.0.1: raw client sockets, exact bytes, real files.
#include "http/clsHTTP.h"

#include "LoopbackClient.h"
#include "ServerFixture.h"
#include "base/Error.h"
#include "support/TempFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quenloft;
using quenloft::testing::LoopbackClient;
using quenloft::testing::RunPasses;
using quenloft::testing::RunUntil;
using quenloft::testing::TempFolder;

namespace {

std::string Bytes(size_t count, unsigned seed = 7) {
    std::string out(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<char>((i * 131 + seed) % 251);
    }
    return out;
}

std::string Base(const std::string& status, const std::string& connection = "Keep-Alive",
                 const std::string& ranges = "none") {
    return status + "\r\nServer: Quenloft 1.0\r\nConnection: " + connection +
           "\r\nAccept-Ranges: " + ranges + "\r\n";
}

std::string FileHead(size_t length, const std::string& type,
                     const std::string& connection = "Keep-Alive",
                     const std::string& version = "HTTP/1.1") {
    return Base(version + " 200 OK", connection, "bytes") +
           "Content-Length: " + std::to_string(length) + "\r\nContent-Type: " + type + "\r\n\r\n";
}

// A fixed page: its head names its type and length after the other header lines.
std::string Page(const std::string& head, const std::string& body) {
    return head + "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

// A text file of valid UTF-8 (plain ASCII included) names its character set.
const std::string Text = "text/plain; charset=utf-8";
const std::string Body404 = "<html><h1>404 - File not found</h1></html>";
const std::string Body405 = "<html><h1>405 - Method Not Allowed</h1></html>";
const std::string Body416 = "<html><h1>416 - Range Not Satisfiable</h1></html>";
const std::string NotFound = Page(Base("HTTP/1.1 404 Not Found"), Body404);

std::string NotAllowed(const std::string& connection = "Keep-Alive") {
    return Page(Base("HTTP/1.1 405 Method Not Allowed", connection) + "Allow: GET, HEAD\r\n",
                Body405);
}

std::string Get(const std::string& target, const std::string& headers = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n";
}

class Serving : public quenloft::testing::ServerFixture {
protected:
    // The answer to one request on a new connection.
    std::string Fetch(const std::string& request) {
        LoopbackClient client(port);
        client.Send(request);
        return client.ReadAnswer();
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        return dir.Write("www/" + name, bytes);
    }
    void Setting(const char* key, const Variant& value) {
        settings.SetVariableValue(Variant(key), value);
    }
    // The request part of every log line, in order.
    std::vector<std::string> Logged() {
        std::vector<std::string> requests;
        std::string log = TempFolder::Read(dir / "Log.dat");
        for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
            size_t port = log.find("@:", at);
            size_t request = log.find("  ", port) + 2;
            requests.push_back(log.substr(request, end - request));
        }
        return requests;
    }
};

TEST_F(Serving, FilesOfEverySizeArriveWholeOnOneConnection) {
    LoopbackClient client(port);
    int64_t total = 0;
    for (size_t size : {0, 1, 1024, 1025, 3000}) {
        std::string name = "f" + std::to_string(size) + ".bin";
        std::string content = Bytes(size, static_cast<unsigned>(size));
        Write(name, content);
        std::string expected = FileHead(size, "application/octet-stream") + content;
        ASSERT_TRUE(client.Send(Get("/" + name)));
        EXPECT_EQ(client.Read(expected.size()), expected) << size;
        total += static_cast<int64_t>(size);
    }
    RunPasses();
    EXPECT_EQ(client.Pending(), "");
    EXPECT_EQ(Statistic("RequestsOK"), 5);
    EXPECT_EQ(Statistic("BytesSend"), total); // the bytes really sent, not 1024 a piece
}

TEST_F(Serving, ContentTypesAndEscapedTargets) {
    Setting("IndexPath", Variant(root + "/")); // the final "/" is removed once, for good
    Write("sub/a b.HTML", "<p>");
    Write("x.txt", "t");
    EXPECT_EQ(Fetch(Get("/sub/a%20b.HTML")), FileHead(3, "text/html") + "<p>");
    EXPECT_EQ(Fetch(Get("/x.txt?cache=1")), FileHead(1, Text) + "t");
    EXPECT_EQ(Fetch("get /x.txt HTTP/1.0\r\n\r\n"), FileHead(1, Text, "Close", "HTTP/1.0") + "t");
    EXPECT_EQ(settings.VariableValue(Variant("IndexPath")).ToText(), root);
}

TEST_F(Serving, IndexFilesInListOrderThenListingThen404) {
    dir.MakeFolder("www/docs");
    Setting("IndexNames", Variant::Array({Variant("index.htm"), Variant("index.html")}));
    Write("index.html", "second");
    EXPECT_EQ(Fetch(Get("/")), FileHead(6, "text/html") + "second");
    Write("index.htm", "first");
    EXPECT_EQ(Fetch(Get("/")), FileHead(5, "text/html") + "first");

    std::string listing = Fetch(Get("/docs/"));
    EXPECT_EQ(listing.substr(0, listing.find("Content-Length")),
              Base("HTTP/1.1 200 OK") + "Content-Type: text/html\r\n");
    EXPECT_EQ(Statistic("RequestsDirectoryListing"), 1);

    Setting("DLEnabled", Variant(int16_t(0)));
    EXPECT_EQ(Fetch(Get("/docs/")), NotFound);
    EXPECT_EQ(Fetch(Get("/docs")), NotFound); // a folder without its final "/"
}

TEST_F(Serving, ListingPageExactly) {
    dir.MakeFolder("www/My Files/img");
    Write("My Files/a&b.txt", "abc");
    Write("My Files/.secret", "s");
    // Without the column settings the header row runs into the parent row.
    std::string page =
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\r\n<html>\r\n<head>\r\n"
        "<title>Index of /My%20Files/</title>\r\n</head>\r\n<body>\r\n"
        "<h1>Index of /My%20Files/</h1>\r\n<pre>      <strong>Name</strong>" +
        std::string(35, ' ') + "<hr>[DIR] <a href=\"/\">Parent Directory</a>" +
        std::string(23, ' ') + "   - \r\n      <a href=a%26b.txt>a&amp;b.txt</a> " +
        std::string(31, ' ') + "\r\n      <a href=img/>img</a> " + std::string(35, ' ') +
        "\r\n</pre><hr>\r\n<address>Quenloft at " + server.PrimarySocket()->LocalHostName() +
        " Port " + std::to_string(port) + "</address>\r\n</body></html>";
    std::string expected = Base("HTTP/1.1 200 OK") + "Content-Type: text/html\r\n" +
                           "Content-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page;
    EXPECT_EQ(Fetch(Get("/My%20Files/")), expected);

    Setting("DLShowHiddenFiles", Variant(int16_t(1)));
    std::string withHidden = Fetch(Get("/My%20Files/"));
    EXPECT_NE(withHidden.find("<a href=.secret>.secret</a>"), std::string::npos);
    EXPECT_EQ(Fetch(Get("/Missing/")), NotFound);
}

TEST_F(Serving, ErrorPagesAndTheirCounters) {
    EXPECT_EQ(Fetch(Get("/none.txt")), NotFound);
    EXPECT_EQ(Fetch("POST / HTTP/1.1\r\nHost: x\r\n\r\n"), NotAllowed());
    EXPECT_EQ(Statistic("RequestsFileNotFound"), 1);
    EXPECT_EQ(Statistic("RequestsMethodNotAllowed"), 1);
    EXPECT_EQ(Statistic("RequestsOK"), 0);
}

// Browsers send a "+" in a path as it is: it names the file with the "+". Links from earlier
// listings, with "+" for a space, still reach the file with the space when no file has the
// "+", and the page of a folder so reached links its parent as the folder was found.
TEST_F(Serving, APlusInAPathIsAPlus) {
    Write("c++.txt", "plus plus");
    Write("a b.txt", "space");
    Write("a+b.txt", "plus");
    Write("my docs/deeper/in.txt", "in");
    EXPECT_EQ(Fetch(Get("/c++.txt")), FileHead(9, Text) + "plus plus");
    EXPECT_EQ(Fetch(Get("/a+b.txt")), FileHead(4, Text) + "plus");
    EXPECT_EQ(Fetch(Get("/a%2Bb.txt")), FileHead(4, Text) + "plus");
    EXPECT_EQ(Fetch(Get("/a%20b.txt")), FileHead(5, Text) + "space");

    ::unlink((root + "/a+b.txt").c_str());
    EXPECT_EQ(Fetch(Get("/a+b.txt")), FileHead(5, Text) + "space"); // an old link
    EXPECT_EQ(Fetch(Get("/my+docs/deeper/in.txt")), FileHead(2, Text) + "in");
    std::string deeper = Fetch(Get("/my+docs/deeper/"));
    EXPECT_NE(deeper.find("<title>Index of /my+docs/deeper/</title>"), std::string::npos);
    EXPECT_NE(deeper.find("<a href=\"/my%20docs/\">Parent Directory</a>"), std::string::npos);
    EXPECT_EQ(Fetch(Get("/no+such.txt")), NotFound);
}

TEST_F(Serving, TargetsOutsideTheServedFolderAreRefused) {
    dir.Write("secret.txt", "s");
    dir.Write("www2/x", "x");
    Write(".hidden", "h");
    for (const char* target : {"/../secret.txt", "/%2e%2e/secret.txt", "/a/%2E%2E/../secret.txt",
                               "2/x", "/.hidden", "/secret.txt%00"}) {
        EXPECT_EQ(Fetch(Get(target)), NotFound) << target;
    }
    Setting("IndexPath", Variant(""));
    Write("index.html", "i");
    EXPECT_EQ(Fetch(Get("/www/index.html")), NotFound); // no folder set: nothing served
}

// Opening is the existence test: what opens but is no regular file is not found, and a
// pipe with no writer neither blocks the loop nor is served.
TEST_F(Serving, OnlyRegularFilesAreServed) {
    std::string pipe = root + "/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    dir.MakeFolder("www/sub.txt");
    Write("sub/.hidden.txt", "h");
    for (const char* target : {"/pipe", "/sub.txt", "/sub/.hidden.txt", "/missing.txt"}) {
        EXPECT_EQ(Fetch(Get(target)), NotFound) << target;
    }
    EXPECT_EQ(Statistic("RequestsFileNotFound"), 4);
}

TEST_F(Serving, CloseIsHonouredAndKeepAliveKeepsTheConnection) {
    Write("a.txt", "abc");
    LoopbackClient keep(port);
    keep.Send(Get("/a.txt"));
    EXPECT_EQ(keep.ReadAnswer(), FileHead(3, Text) + "abc");
    EXPECT_FALSE(keep.ClosedByServer(200));

    LoopbackClient close(port);
    close.Send(Get("/a.txt", "Connection: CLOSE\r\n"));
    EXPECT_EQ(close.ReadToEnd(), FileHead(3, Text, "Close") + "abc");

    LoopbackClient many(port); // several values are not a close request
    many.Send(Get("/a.txt", "Connection: close, TE\r\n"));
    EXPECT_EQ(many.ReadAnswer(), FileHead(3, Text) + "abc");

    LoopbackClient refused(port);
    refused.Send("DELETE / HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(refused.ReadToEnd(), NotAllowed("Close"));
}

TEST_F(Serving, RequestSplitIntoSingleBytesIsAnsweredOnce) {
    Write("a.txt", "abc");
    LoopbackClient client(port);
    std::string request = Get("/a.txt");
    for (size_t i = 0; i < request.size(); ++i) {
        client.Send(request.substr(i, 1));
        RunPasses(2);
        if (i + 1 < request.size()) {
            ASSERT_EQ(client.Pending(), "") << "answered before the empty line, at " << i;
        }
    }
    std::string expected = FileHead(3, Text) + "abc";
    EXPECT_EQ(client.ReadAnswer(), expected);
}

TEST_F(Serving, PipelinedRequestsAreAnsweredInOrder) {
    std::string big = Bytes(3000);
    Write("big.bin", big);
    Write("a.txt", "abc");
    std::string expected = FileHead(3000, "application/octet-stream") + big + FileHead(3, Text) +
                           "abc" + FileHead(3000, "application/octet-stream", "Close") + big;
    LoopbackClient client(port);
    client.Send(Get("/big.bin") + "\r\n" + Get("/a.txt") + "\r\n\r\n" +
                Get("/big.bin", "Connection: close\r\n") + Get("/a.txt"));
    EXPECT_EQ(client.ReadToEnd(), expected); // nothing after the close
}

// The 404 and 405 pages name their length, so a keep-alive connection goes on after them.
TEST_F(Serving, PagesWithALengthKeepTheirConnection) {
    Write("a.txt", "abc");
    LoopbackClient client(port);
    client.Send(Get("/none") + "PUT / HTTP/1.1\r\n\r\n" + Get("/a.txt", "Connection: close\r\n"));
    EXPECT_EQ(client.ReadToEnd(), NotFound + NotAllowed() + FileHead(3, Text, "Close") + "abc");
}

TEST_F(Serving, MalformedRequestsGet400And431AndBodiesAreNeverRequests) {
    std::string bad =
        Base("HTTP/1.1 400 Bad Request", "Close") + "\r\n<html><h1>400 - Bad Request</h1></html>";
    std::vector<std::string> requestLines = {"GET /", "GET / FOO/1.1", "GET  / HTTP/1.1",
                                             "GET / HTTP/1.1 x", "\x01"};
    for (const std::string& line : requestLines) {
        LoopbackClient client(port);
        client.Send(line + "\r\n\r\n");
        EXPECT_EQ(client.ReadToEnd(), bad) << line;
    }

    // A head past 64 KiB: after its first line, and within its first line.
    std::string tooLarge = Base("HTTP/1.1 431 Request Header Fields Too Large", "Close") +
                           "\r\n<html><h1>431 - Request Header Fields Too Large</h1></html>";
    LoopbackClient huge(port);
    huge.Send("GET / HTTP/1.1\r\nX-Long: " + std::string(70000, 'a'));
    EXPECT_EQ(huge.ReadToEnd(), tooLarge);
    LoopbackClient hugeLine(port);
    hugeLine.Send("GET /" + std::string(70000, 'a') + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(hugeLine.ReadToEnd(), tooLarge);

    LoopbackClient body(port);
    body.Send("POST / HTTP/1.1\r\nContent-Length: 19\r\n\r\n" + Get("/"));
    EXPECT_EQ(body.ReadToEnd(), NotAllowed("Close"));

    // Each refusal is logged with its first line as far as it came, cut to a sane length and
    // with control bytes escaped; none is counted.
    requestLines.back() = "\\x01";
    requestLines.push_back("GET / HTTP/1.1");
    requestLines.push_back("GET /" + std::string(1016, 'a') + "...");
    requestLines.push_back("POST / HTTP/1.1");
    EXPECT_EQ(Logged(), requestLines);
    EXPECT_EQ(Statistic("RequestsMethodNotAllowed"), 1);
    for (const char* key : {"RequestsOK", "RequestsFileNotFound", "RequestsDirectoryListing"}) {
        EXPECT_EQ(Statistic(key), 0) << key;
    }
}

// Clients may send stray line ends before a request line: they are skipped, on a new
// connection and between requests, and are neither answered, logged nor counted.
TEST_F(Serving, EmptyLinesBeforeARequestAreSkipped) {
    Write("a.txt", "abc");
    dir.MakeFolder("www/sub");
    LoopbackClient client(port);
    client.Send("\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n\r\n");
    EXPECT_EQ(client.ReadAnswer(), FileHead(3, Text) + "abc");
    client.Send("\r\nGET /sub/ HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.ReadAnswer().substr(0, 17), "HTTP/1.1 200 OK\r\n");
    client.Send("\r\n\r\n\r"); // only empty lines, the last one still coming
    RunPasses();
    EXPECT_EQ(client.Pending(), "");
    client.Send("\n" + Get("/a.txt"));
    EXPECT_EQ(client.ReadAnswer(), FileHead(3, Text) + "abc");
    EXPECT_FALSE(client.ClosedByServer(200));
    EXPECT_EQ(Logged(), (std::vector<std::string>{"GET /a.txt HTTP/1.1", "GET /sub/ HTTP/1.1",
                                                  "GET /a.txt HTTP/1.1"}));
    EXPECT_EQ(Statistic("RequestsOK") + Statistic("RequestsDirectoryListing"), 3);
}

// What lies in a hidden folder is hidden with it: never served or listed, whatever the
// listing shows, and each such request is a counted and logged 404.
TEST_F(Serving, HiddenEntriesAndWhatLiesInThemAreNeverServed) {
    Write(".git/config", "c");
    Write("sub/.ssh/id_rsa", "k");
    Write("sub/.env", "e");
    Write("sub/a.txt", "a");
    std::vector<std::string> targets = {"/.git/config", "/.git/",    "/sub/.ssh/id_rsa",
                                        "/sub/.ssh/",   "/sub/.env", "/%2Egit/config"};
    for (const std::string& target : targets) {
        EXPECT_EQ(Fetch(Get(target)), NotFound) << target;
    }
    EXPECT_EQ(Statistic("RequestsFileNotFound"), 6);
    EXPECT_EQ(Logged().size(), 6u);

    Setting("DLShowHiddenFiles", Variant(int16_t(1)));
    std::string listing = Fetch(Get("/sub/"));
    EXPECT_NE(listing.find("<a href=.ssh/>.ssh</a>"), std::string::npos);
    EXPECT_NE(listing.find("<a href=.env>.env</a>"), std::string::npos);
    EXPECT_EQ(Fetch(Get("/sub/.ssh/")), NotFound);
    EXPECT_EQ(Fetch(Get("/sub/.env")), NotFound);
    EXPECT_EQ(Fetch(Get("/sub/a.txt")), FileHead(1, Text) + "a");
}

// Connections that arrive together wait in the kernel's queue while the server is busy;
// a short queue would drop them, and their clients would try again only a second later.
TEST_F(Serving, ABurstOfConnectionsWaitsInTheQueue) {
    Write("a.txt", "abc");
    std::vector<std::unique_ptr<LoopbackClient>> burst;
    for (int i = 0; i < 100; ++i) {
        burst.push_back(std::make_unique<LoopbackClient>(port));
    }
    // No loop pass runs meanwhile, so the server accepts none of them itself.
    auto allConnected = [&] {
        return std::all_of(burst.begin(), burst.end(), [](auto& c) { return c->Connected(); });
    };
    for (int wait = 0; wait < 200 && !allConnected(); ++wait) {
        ::usleep(10000);
    }
    ASSERT_TRUE(allConnected());
    std::string expected = FileHead(3, Text) + "abc";
    for (auto& client : burst) {
        client->Send(Get("/a.txt"));
    }
    for (auto& client : burst) {
        EXPECT_EQ(client->ReadAnswer(), expected);
    }
}

TEST_F(Serving, EveryRequestIsLoggedOnOneLine) {
    Write("a.txt", "abc");
    LoopbackClient client(port);
    client.Send(Get("/a.txt"));
    client.ReadAnswer();
    client.Send("PUT /x\x01y HTTP/1.1\r\n\r\n");
    client.ReadAnswer();
    std::string log = TempFolder::Read(dir / "Log.dat");
    std::string clientPort = std::to_string(client.LocalPort());
    std::regex line("[^:]+:[0-9:]+[^:]*: 127\\.0\\.0\\.1@:" + clientPort + "  (.*)\r\n");
    std::smatch first, second;
    size_t end = log.find("\r\n") + 2;
    std::string firstLine = log.substr(0, end), secondLine = log.substr(end);
    ASSERT_TRUE(std::regex_match(firstLine, first, line)) << log;
    EXPECT_EQ(first[1], "GET /a.txt HTTP/1.1");
    ASSERT_TRUE(std::regex_match(secondLine, second, line)) << log;
    EXPECT_EQ(second[1], "PUT /x\\x01y HTTP/1.1");
}

TEST_F(Serving, ALogThatCannotBeWrittenStopsNoAnswer) {
    Write("a.txt", "abc");
    log.SetFileName(root); // a folder: every log line fails
    LoopbackClient client(port);
    client.Send(Get("/a.txt") + Get("/a.txt", "Connection: close\r\n"));
    EXPECT_EQ(client.ReadToEnd(), FileHead(3, Text) + "abc" + FileHead(3, Text, "Close") + "abc");
}

TEST_F(Serving, SlotsAreReusedAndAFailedConnectionFreesItsSlot) {
    auto first = std::make_unique<LoopbackClient>(port);
    ASSERT_TRUE(RunUntil([&] { return server.ConnectionCount() == 1; }));
    LoopbackClient second(port);
    ASSERT_TRUE(RunUntil([&] { return server.ConnectionCount() == 2; }));
    first.reset();
    ASSERT_TRUE(RunUntil([&] { return server.Connections()[0] == nullptr; }));
    LoopbackClient third(port);
    ASSERT_TRUE(RunUntil([&] { return server.Connections()[0] != nullptr; }));
    EXPECT_EQ(server.ConnectionCount(), 2);

    Write("big.bin", Bytes(4 << 20));
    third.Send(Get("/big.bin"));
    RunPasses();
    third.Reset(); // the server's next send fails
    EXPECT_TRUE(RunUntil([&] { return server.Connections()[0] == nullptr; }));
}

// A client that shuts its sending side right after its request still gets the whole
// answer, also when it reads slowly, and the connection ends after it.
TEST_F(Serving, AClientThatShutsItsSendingSideGetsTheWholeAnswer) {
    std::string big = Bytes(6 << 20);
    Write("big.bin", big);
    for (int receiveBuffer : {0, 4096}) {
        LoopbackClient client(port, receiveBuffer);
        client.Send(Get("/big.bin"));
        client.ShutdownSending();
        for (int pass = 0; pass < 6000; ++pass) {
            ProgramLoop().RunOnePass(); // a slow reader: the server's sends wait for room
        }
        EXPECT_EQ(client.ReadToEnd(), FileHead(big.size(), "application/octet-stream") + big);
        EXPECT_TRUE(RunUntil([&] { return server.Connections()[0] == nullptr; }));
    }
}

TEST_F(Serving, FileChangingDuringTheTransfer) {
    const size_t size = 200 * 1024;
    std::string content = Bytes(size);
    std::string path = Write("grow.bin", content);
    std::string head = FileHead(size, "application/octet-stream");
    LoopbackClient grows(port);
    grows.Send(Get("/grow.bin"));
    ASSERT_EQ(grows.Read(head.size()), head);
    dir.Write("www/grow.bin", content + Bytes(5000, 3)); // the extra bytes are not sent
    EXPECT_EQ(grows.Read(size), content);
    grows.Send(Get("/none"));
    EXPECT_EQ(grows.ReadAnswer(), NotFound); // still in step

    dir.Write("www/shrink.bin", content);
    LoopbackClient shrinks(port);
    shrinks.Send(Get("/shrink.bin"));
    ASSERT_EQ(shrinks.Read(head.size()), head);
    ASSERT_EQ(::truncate((dir / "www/shrink.bin").c_str(), 100000), 0);
    EXPECT_EQ(shrinks.ReadToEnd(), content.substr(0, 100000)); // then closed
}

TEST_F(Serving, StopDuringATransferClosesEverythingAndStartIsClean) {
    Write("big.bin", Bytes(8 << 20));
    LoopbackClient idle(port);
    LoopbackClient reader(port);
    reader.Send(Get("/big.bin"));
    ASSERT_EQ(reader.Read(50).size(), 50u);
    ASSERT_TRUE(RunUntil([&] { return server.ConnectionCount() == 2; }));
    server.StopServer();
    EXPECT_EQ(server.ConnectionCount(), 0);
    EXPECT_TRUE(server.Connections().empty());
    std::string partial = reader.ReadToEnd();
    EXPECT_LT(partial.size(), size_t(8 << 20));
    EXPECT_EQ(partial.find("[still open]"), std::string::npos);
    EXPECT_TRUE(idle.ClosedByServer());

    server.StartServer(0);
    port = server.PrimarySocket()->LocalPort();
    Write("a.txt", "abc");
    EXPECT_EQ(Fetch(Get("/a.txt")), FileHead(3, Text) + "abc");
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST_F(Serving, StartOnATakenPortFails) {
    clsHTTP other(settings, statistics, log);
    try {
        other.StartServer(port);
        FAIL() << "a second server listened on the same port";
    } catch (const Error& e) {
        EXPECT_EQ(e.Number(), 10048);
        EXPECT_EQ(e.Description(), "Address already in use.");
        EXPECT_EQ(e.Source(), "clsSocket.Listen");
    }
}

TEST_F(Serving, ThousandIdleConnectionsAndAStalledReaderBlockNobody) {
    Write("a.txt", "abc");
    Write("big.bin", Bytes(8 << 20));
    LoopbackClient stalled(port, 4096);
    stalled.Send(Get("/big.bin"));
    std::vector<std::unique_ptr<LoopbackClient>> idle;
    for (int i = 0; i < 1000; ++i) {
        idle.push_back(std::make_unique<LoopbackClient>(port));
        ASSERT_TRUE(RunUntil([&] { return server.ConnectionCount() == i + 2; })) << i;
    }
    std::string expected = FileHead(3, Text) + "abc";
    EXPECT_EQ(Fetch(Get("/a.txt")), expected);
}

TEST_F(Serving, AtTheBoundTheLongestSilentConnectionMakesRoom) {
    server.SetConnectionLimit(3);
    Write("a.txt", "abc");
    std::string expected = FileHead(3, Text) + "abc";
    LoopbackClient oldest(port);
    ASSERT_TRUE(RunUntil([&] { return server.ConnectionCount() == 1; }));
    LoopbackClient busy(port);
    LoopbackClient quiet(port);
    ASSERT_TRUE(RunUntil([&] { return server.ConnectionCount() == 3; }));
    busy.Send(Get("/a.txt"));
    EXPECT_EQ(busy.Read(expected.size()), expected);

    LoopbackClient newcomer(port);
    newcomer.Send(Get("/a.txt"));
    EXPECT_EQ(newcomer.Read(expected.size()), expected);
    EXPECT_TRUE(oldest.ClosedByServer());
    EXPECT_FALSE(quiet.ClosedByServer(100));
    EXPECT_FALSE(busy.ClosedByServer(100));
}

// Out of descriptors, accept fails: the waiting client is turned away at once, the
// longest-silent connection makes room, and the next client is served.
TEST_F(Serving, AFailingAcceptMakesRoomInsteadOfSpinning) {
    Write("a.txt", "abc");
    LoopbackClient oldest(port);
    ASSERT_TRUE(RunUntil([&] { return server.ConnectionCount() == 1; }));
    LoopbackClient refused(port); // connected by the kernel, not yet accepted

    struct rlimit saved {};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    struct rlimit tight = saved;
    std::vector<int> fillers{::open("/dev/null", O_RDONLY)};
    tight.rlim_cur = static_cast<rlim_t>(fillers.front()) + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;) {
        fillers.push_back(fd);
    }
    bool turnedAway = refused.ClosedByServer();
    bool evicted = oldest.ClosedByServer();
    for (int fd : fillers) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_TRUE(turnedAway);
    EXPECT_TRUE(evicted);
    std::string expected = FileHead(3, Text) + "abc";
    EXPECT_EQ(Fetch(Get("/a.txt")), expected);
}

// --- byte ranges and HEAD ---------------------------------------------------------

std::string PartHead(int64_t first, int64_t last, int64_t size, const std::string& type) {
    return Base("HTTP/1.1 206 Partial Content", "Keep-Alive", "bytes") +
           "Content-Length: " + std::to_string(last - first + 1) + "\r\nContent-Type: " + type +
           "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
           std::to_string(size) + "\r\n\r\n";
}

std::string Ranged(const std::string& target, const std::string& range,
                   const std::string& more = "") {
    return Get(target, "Range: " + range + "\r\n" + more);
}

// One satisfiable range is answered 206 with exactly its bytes, in pieces, on a connection
// that goes on; one past the end is 416; what cannot be honoured as one range gets the
// whole file. The bytes sent are counted as for whole files.
TEST_F(Serving, RangesAnswerTheirPartOnAnOpenConnection) {
    const std::string bin = "application/octet-stream";
    std::string content = Bytes(3000);
    Write("v.bin", content);
    LoopbackClient client(port);
    struct Part {
        std::string Range;
        int64_t First, Last;
    };
    int64_t sent = 0;
    for (const Part& part : std::vector<Part>{{"bytes=1000-2499", 1000, 2499},
                                              {"bytes=-10", 2990, 2999},
                                              {"bytes=2999-", 2999, 2999},
                                              {" BYTES=0-0 ", 0, 0},
                                              {"bytes=1-999999", 1, 2999}}) {
        std::string expected =
            PartHead(part.First, part.Last, 3000, bin) +
            content.substr(size_t(part.First), size_t(part.Last - part.First + 1));
        ASSERT_TRUE(client.Send(Ranged("/v.bin", part.Range)));
        EXPECT_EQ(client.Read(expected.size()), expected) << part.Range;
        sent += part.Last - part.First + 1;
    }
    std::string whole = FileHead(3000, bin) + content;
    for (const char* ignored : {"bytes=0-1,5-6", "bytes=5-2", "items=0-1"}) {
        ASSERT_TRUE(client.Send(Ranged("/v.bin", ignored)));
        EXPECT_EQ(client.Read(whole.size()), whole) << ignored;
        sent += 3000;
    }
    ASSERT_TRUE(client.Send(Ranged("/v.bin", "bytes=0-1", "If-Range: \"x\"\r\n")));
    EXPECT_EQ(client.Read(whole.size()), whole);
    sent += 3000;

    std::string unsatisfiable =
        Page(Base("HTTP/1.1 416 Range Not Satisfiable", "Keep-Alive", "bytes") +
                 "Content-Range: bytes */3000\r\n",
             Body416);
    ASSERT_TRUE(client.Send(Ranged("/v.bin", "bytes=3000-") + Ranged("/v.bin", "bytes=-0")));
    EXPECT_EQ(client.Read(2 * unsatisfiable.size()), unsatisfiable + unsatisfiable);
    Write("empty.bin", "");
    ASSERT_TRUE(client.Send(Ranged("/empty.bin", "bytes=0-")));
    EXPECT_EQ(client.ReadAnswer(),
              Page(Base("HTTP/1.1 416 Range Not Satisfiable", "Keep-Alive", "bytes") +
                       "Content-Range: bytes */0\r\n",
                   Body416));
    EXPECT_FALSE(client.ClosedByServer(100));
    EXPECT_EQ(Statistic("RequestsOK"), 12);
    EXPECT_EQ(Statistic("BytesSend"), sent);

    // "Close" ends the connection after the range.
    LoopbackClient closing(port);
    closing.Send(Ranged("/v.bin", "bytes=10-19", "Connection: close\r\n"));
    std::string head = PartHead(10, 19, 3000, bin);
    head.replace(head.find("Keep-Alive"), 10, "Close");
    EXPECT_EQ(closing.ReadToEnd(), head + content.substr(10, 10));
}

// A text file's character set is judged on its first bytes, a range of it included.
TEST_F(Serving, RangesOfTextAndOfIndexFiles) {
    std::string text = std::string(1023, 'a') + "\xC3\xA9" + std::string(100, 'b');
    Write("t.txt", text);
    EXPECT_EQ(Fetch(Ranged("/t.txt", "bytes=1024-")),
              PartHead(1024, 1124, 1125, Text) + text.substr(1024));
    Write("latin.txt", "caf\xE9 au lait");
    EXPECT_EQ(Fetch(Ranged("/latin.txt", "bytes=0-2")), PartHead(0, 2, 12, "text/plain") + "caf");
    Setting("IndexNames", Variant::Array({Variant("index.html")}));
    Write("index.html", "<p>index</p>");
    EXPECT_EQ(Fetch(Ranged("/", "bytes=3-7")), PartHead(3, 7, 12, "text/html") + "index");
}

// HEAD is the GET without its body: the same status and header lines, lengths included,
// logged and counted as the GET, with no byte of a body sent or counted.
TEST_F(Serving, HeadIsTheGetWithoutItsBody) {
    std::string content = Bytes(3000);
    Write("v.bin", content);
    dir.MakeFolder("www/docs");
    LoopbackClient client(port);
    ASSERT_TRUE(client.Send("HEAD /v.bin HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.ReadHead(), FileHead(3000, "application/octet-stream"));
    ASSERT_TRUE(client.Send(Get("/v.bin")));
    EXPECT_EQ(client.ReadAnswer(), FileHead(3000, "application/octet-stream") + content);
    ASSERT_TRUE(client.Send("head /v.bin HTTP/1.1\r\nRange: bytes=0-9\r\n\r\n"));
    EXPECT_EQ(client.ReadHead(), PartHead(0, 9, 3000, "application/octet-stream"));

    std::string listing = Fetch(Get("/docs/"));
    ASSERT_TRUE(client.Send("HEAD /docs/ HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.ReadHead(), listing.substr(0, listing.find("\r\n\r\n") + 4));
    ASSERT_TRUE(client.Send("HEAD /none HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(client.ReadHead(), NotFound.substr(0, NotFound.size() - Body404.size()));
    ASSERT_TRUE(client.Send(Get("/v.bin", "Connection: close\r\n")));
    EXPECT_EQ(client.ReadToEnd(), FileHead(3000, "application/octet-stream", "Close") + content);

    EXPECT_EQ(Statistic("BytesSend"), 6000);
    EXPECT_EQ(Statistic("RequestsOK"), 4);
    EXPECT_EQ(Statistic("RequestsDirectoryListing"), 2);
    EXPECT_EQ(Statistic("RequestsFileNotFound"), 1);
    EXPECT_EQ(Logged()[0], "HEAD /v.bin HTTP/1.1");
}

// A folder the program may not read is no empty folder: it is not found.
TEST_F(Serving, AFolderThatCannotBeReadIsNotFound) {
    Write("locked/a.txt", "a");
    ::chmod(dir.Path().c_str(), 0755);
    ::chmod(root.c_str(), 0755);
    ::chmod((root + "/locked").c_str(), 0);
    // The superuser reads every folder; as anyone else, the folder is locked.
    int user = ::geteuid() == 0 ? ::setfsuid(65534) : -1;
    std::string answer = Fetch(Get("/locked/"));
    if (user >= 0) {
        ::setfsuid(static_cast<uid_t>(user));
    }
    ::chmod((root + "/locked").c_str(), 0755);
    EXPECT_EQ(answer, NotFound);
    EXPECT_EQ(Statistic("RequestsFileNotFound"), 1);
    EXPECT_EQ(Statistic("RequestsDirectoryListing"), 0);
}

// Clients that ask for a big listing and never read hold one shared copy of the page;
// past the bound on what clients make the server hold, the one holding most is closed.
TEST_F(Serving, StalledReadersOfAListingShareOnePageWithinTheBound) {
    // Names of "%" make long links ("%25" each): a page of megabytes from a few thousand
    // entries, more than the kernel takes for a client that does not read.
    for (int i = 0; i < 10000; ++i) {
        Write("big/" + std::string(200, '%') + std::to_string(10000 + i), "");
    }
    std::string page = Fetch(Get("/big/"));
    size_t pageSize = page.size() - page.find("\r\n\r\n") - 4;
    ASSERT_GT(pageSize, size_t(6) << 20);

    std::vector<std::unique_ptr<LoopbackClient>> stalled;
    for (int i = 0; i < 4; ++i) {
        stalled.push_back(std::make_unique<LoopbackClient>(port, 4096));
        ASSERT_TRUE(stalled.back()->Send(Get("/big/")));
    }
    // Listing ten thousand entries takes seconds with the sanitizers on a loaded machine.
    constexpr int Watchdog = 60000;
    ASSERT_TRUE(RunUntil([&] { return Statistic("RequestsDirectoryListing") == 5; }, Watchdog));
    EXPECT_EQ(server.ListingBytes(), pageSize); // one copy for all four

    server.SetUnansweredLimit(pageSize + 100);
    Write("big/one more.txt", ""); // a page of its own: past the bound with the first
    LoopbackClient other(port, 4096);
    ASSERT_TRUE(other.Send(Get("/big/")));
    ASSERT_TRUE(RunUntil([&] { return server.ListingBytes() <= pageSize + 100; }, Watchdog));
    EXPECT_TRUE(other.ClosedByServer());            // it held the most: its page alone
    EXPECT_EQ(stalled.front()->ReadAnswer(), page); // the others read on
    stalled.clear();
    ASSERT_TRUE(RunUntil([&] { return server.ListingBytes() == 0; }, Watchdog));
}

} // namespace
