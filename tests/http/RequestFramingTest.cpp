// Where requests end, the empty lines before them, refused first lines, versions and
// announced bodies.
#include "http/RequestFraming.h"

#include <gtest/gtest.h>
#include <string>

using namespace quenloft;

namespace {

TEST(Framing, VersionsAndAnnouncedBodies) {
    EXPECT_EQ(FindRequestEnd("GET / HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n"), 18u);
    EXPECT_EQ(FindRequestEnd("GET / HTTP/1.1\n\n"), std::string::npos);
    EXPECT_EQ(FindRequestEnd("GET / HTTP/1.1\r\n\r\n", 17),
              18u); // the end straddles the searched part
    EXPECT_EQ(LeadingEmptyLines("\r\n\r\n\r\nGET / HTTP/1.1\r\n\r\n"), 6u);
    EXPECT_EQ(LeadingEmptyLines("\r\n\r"), 2u); // half a line end waits for the rest
    EXPECT_EQ(LeadingEmptyLines("\n\r\nGET"), 0u);
    EXPECT_EQ(LeadingEmptyLines("GET / HTTP/1.1\r\n\r\n"), 0u);
    EXPECT_EQ(RefusedFirstLine("\r\nGET /x HTTP/1.1\r\nHost: y"), "GET /x HTTP/1.1");
    EXPECT_EQ(RefusedFirstLine("GET /still-coming"), "GET /still-coming");
    std::string line(1024, 'a');
    EXPECT_EQ(RefusedFirstLine(line + "\r\n"), line);
    EXPECT_EQ(RefusedFirstLine(line + "b"), std::string(1021, 'a') + "...");
    EXPECT_TRUE(IsValidVersion("HTTP/1.0"));
    for (const char* bad : {"", "http/1.1", "HTTP/11", "HTTP/1.1x", "HTTP/a.1"}) {
        EXPECT_FALSE(IsValidVersion(bad)) << bad;
    }
    auto announces = [](std::string header) {
        return AnnouncesBody({"POST / HTTP/1.1", header, "", ""});
    };
    EXPECT_FALSE(announces("Content-Length: 0"));
    EXPECT_TRUE(announces("content-length:12"));
    EXPECT_TRUE(announces("Content-Length: x"));
    EXPECT_TRUE(announces("Transfer-Encoding: chunked"));
    EXPECT_FALSE(AnnouncesBody({"Content-Length: 5", "", ""})); // the request line is no header
}

} // namespace
