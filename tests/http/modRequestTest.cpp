// The socket-free parts of request handling: URL coding, target mapping, framing,
// version and body checks, the content-type table and the media-type database.
#include "http/modRequest.h"

#include "platform/MediaTypes.h"

#include <array>
#include <gtest/gtest.h>

using namespace quenloft;

namespace {

// The bytes URLEncode copies: "." "/" digits and letters.
std::array<bool, 256> SafeTable() {
    std::array<bool, 256> safe{};
    for (int c = 0; c < 256; ++c) {
        safe[c] = (c >= 46 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122);
    }
    return safe;
}

TEST(URLCoding, EncodesLikeTheListingLinks) {
    auto safe = SafeTable();
    EXPECT_EQ(EncodeURL("My File-1.txt", safe), "My+File%2D1.txt");
    EXPECT_EQ(EncodeURL("a/b c", safe), "a/b+c");
    EXPECT_EQ(EncodeURL("\xE9", safe), "%E9");
    EXPECT_EQ(EncodeURL("a+b.txt", safe), "a%2Bb.txt");
    EXPECT_EQ(EncodeURL(std::string("\x01\x0f", 2), safe), "%01%0F");
}

TEST(URLCoding, DecodesMalformedEscapesByTheirValidPrefix) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"My%20Documents/My%20Music", "My Documents/My Music"},
        {"a+b%2Bc", "a b+c"},
        {"100%", std::string("100\0", 4)},
        {"%4", "\x04"},
        {"%zz", std::string("\0", 1)},
        {"%%41", std::string("\0"
                             "1",
                             2)},
        {"%4g", std::string("\x04", 1)},
        {"%C3%A9.txt", "\xC3\xA9.txt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeURL(c.in), c.out) << c.in;
    }
}

TEST(URLCoding, DecodingUndoesEncodingForEveryByte) {
    auto safe = SafeTable();
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    EXPECT_EQ(DecodeURL(EncodeURL(all, safe)), all);
}

TEST(MapTarget, StaysInsideTheServedFolder) {
    EXPECT_EQ(MapTarget("/srv/www", "/a%20b.txt"), "/srv/www/a b.txt");
    EXPECT_EQ(MapTarget("/srv/www", "/sub/x.txt?v=1"), "/srv/www/sub/x.txt");
    EXPECT_EQ(MapTarget("/srv/www", "/docs/"), "/srv/www/docs/");
    EXPECT_EQ(MapTarget("/", "/etc/x"), "/etc/x");
    EXPECT_EQ(MapTarget("/srv/www", "/..."), "/srv/www/...");
    const char* refused[] = {"2/x",
                             "",
                             "/../etc/passwd",
                             "/a/../../x",
                             "/%2e%2e/x",
                             "/%2E%2E",
                             "/a/%2e%2e/%2e%2e/b",
                             "/x%00.txt",
                             "*",
                             "http://host/x"};
    for (const char* target : refused) {
        EXPECT_EQ(MapTarget("/srv/www", target), "") << target;
    }
    EXPECT_EQ(MapTarget("", "/index.html"), "");
    EXPECT_EQ(MapTarget("relative", "/index.html"), "");
}

TEST(Framing, ARequestEndsAtTheFirstEmptyLine) {
    EXPECT_EQ(FindRequestEnd("GET / HTTP/1.1\r\n"), std::string::npos);
    EXPECT_EQ(FindRequestEnd("GET / HTTP/1.1\r\n\r\n"), 18u);
    EXPECT_EQ(FindRequestEnd("GET / HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n"), 18u);
    EXPECT_EQ(FindRequestEnd("GET / HTTP/1.1\n\n"), std::string::npos);
}

TEST(Framing, SplitsLinesAndFields) {
    RequestText text = SplitRequest("get  /x HTTP/1.0\r\nHost: a\r\n\r\n");
    EXPECT_EQ(text.Lines, (std::vector<std::string>{"get  /x HTTP/1.0", "Host: a", "", ""}));
    EXPECT_EQ(text.Fields, (std::vector<std::string>{"get", "", "/x", "HTTP/1.0"}));
}

TEST(Framing, OnlyPlainVersionsAreEchoed) {
    EXPECT_TRUE(IsValidVersion("HTTP/1.1"));
    EXPECT_TRUE(IsValidVersion("HTTP/1.0"));
    for (const char* bad :
         {"", "HTTP/1.1\r", "http/1.1", "HTTP/11", "HTTP/1.1x", "HTTP/a.1", "HTTP/1.1\r\nX: y"}) {
        EXPECT_FALSE(IsValidVersion(bad)) << bad;
    }
}

TEST(Framing, RecognisesAnnouncedBodies) {
    auto lines = [](std::string header) {
        return std::vector<std::string>{"POST / HTTP/1.1", header, "", ""};
    };
    EXPECT_FALSE(AnnouncesBody(lines("Host: a")));
    EXPECT_FALSE(AnnouncesBody(lines("Content-Length: 0")));
    EXPECT_TRUE(AnnouncesBody(lines("Content-Length: 5")));
    EXPECT_TRUE(AnnouncesBody(lines("content-length:12")));
    EXPECT_TRUE(AnnouncesBody(lines("Content-Length: x")));
    EXPECT_TRUE(AnnouncesBody(lines("Transfer-Encoding: chunked")));
    // The request line itself is no header.
    EXPECT_FALSE(AnnouncesBody({"Content-Length: 5", "", ""}));
}

TEST(Escaping, ListingTextCannotInjectMarkup) {
    EXPECT_EQ(HtmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
}

TEST(ContentTypes, TableRowsInOrder) {
    struct Case {
        const char *ext, *type;
    } cases[] = {
        {"JPG", "image/jpeg"},
        {"PNG", "image/x-PNG"},
        {"pdf", "application/pdf"},
        {"GIF", "image/GIF"},
        {"mpg", "movie/mpeg"},
        {"exe", "application/exe"},
        {"Htm", "text/html"},
        {"ps", "application/postscript"},
        {"tif", "image/tiff"},
        {"movie", "video/x-sgi-movie"},
        {"css", "text/css"},
        {"txt", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TableContentType(c.ext), c.type) << c.ext;
    }
}

TEST(MediaTypes, DatabaseLinesFirstNamingWins) {
    auto types = mediatypes::ParseMediaTypes("# comment txt\n"
                                             "text/plain\t\ttxt TEXT\r\n"
                                             "application/x-other txt zz # zzz\n"
                                             "application/alone\n");
    EXPECT_EQ(types.at("txt"), "text/plain");
    EXPECT_EQ(types.at("text"), "text/plain");
    EXPECT_EQ(types.at("zz"), "application/x-other");
    EXPECT_EQ(types.count("zzz"), 0u);
    EXPECT_EQ(types.size(), 3u);
}

TEST(MediaTypes, SystemDatabaseIsConsulted) {
    if (mediatypes::LookupMediaType("txt").empty()) {
        GTEST_SKIP() << "no /etc/mime.types on this machine";
    }
    EXPECT_EQ(mediatypes::LookupMediaType("TXT"), "text/plain");
    EXPECT_EQ(mediatypes::LookupMediaType("no-such-extension"), "");
    EXPECT_EQ(mediatypes::LookupMediaType("old/README"), "");
}

} // namespace
