// The socket-free parts of request handling: URL coding, target mapping, framing checks,
// the content-type table, and the listing page's names and columns built from tables of
// entries.
#include "http/modRequest.h"

#include "base/OleDate.h"
#include "support/TempFolder.h"

#include <array>
#include <gtest/gtest.h>

using namespace quenloft;
using quenloft::testing::TempFolder;

namespace {

std::array<bool, 256> SafeTable() { // "." "/" digits and letters
    std::array<bool, 256> safe{};
    for (int c = 0; c < 256; ++c) {
        safe[c] = (c >= 46 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122);
    }
    return safe;
}

folder::FolderEntry File(const std::string& name, int64_t length, double modified = 0) {
    return {name, false, name.starts_with('.'), modified, length};
}

folder::FolderEntry Folder(const std::string& name, double modified = 0) {
    return {name, true, name.starts_with('.'), modified, 0};
}

TEST(URLCoding, EncodesAndDecodesByteForByte) {
    auto safe = SafeTable();
    EXPECT_EQ(EncodeURL("My File-1.txt", safe), "My+File%2D1.txt");
    EXPECT_EQ(EncodeURL("a/b c\xE9\x01", safe), "a/b+c%E9%01");
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    EXPECT_EQ(DecodeURL(EncodeURL(all, safe)), all);
}

// In a path "+" is an ordinary character: links write a space as %20, and a path's "+"
// decodes to itself, while the form-field coding stays as other callers know it.
TEST(URLCoding, PathsKeepTheirPlusSigns) {
    auto safe = SafeTable();
    EXPECT_EQ(EncodePath("My File-1+2.txt", safe), "My%20File%2D1%2B2.txt");
    EXPECT_EQ(DecodePath("c++%20a+b%2B%25"), "c++ a+b+%");
    EXPECT_EQ(EncodeURL("a b+c", safe), "a+b%2Bc");
    EXPECT_EQ(DecodeURL("a+b%2Bc"), "a b+c");
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    EXPECT_EQ(DecodePath(EncodePath(all, safe)), all);
}

TEST(URLCoding, MalformedEscapesDecodeToTheirValidPrefix) {
    std::pair<std::string, std::string> cases[] = {
        {"My%20Documents/My%20Music", "My Documents/My Music"},
        {"a+b%2Bc", "a b+c"},
        {"100%", std::string("100\0", 4)},
        {"%4", "\x04"},
        {"%zz", std::string("\0", 1)},
        {"%%41", std::string("\0"
                             "1",
                             2)},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(DecodeURL(in), out) << in;
    }
}

TEST(MapTarget, StaysInsideTheServedFolder) {
    EXPECT_EQ(MapTarget("/srv/www", "/a%20b.txt"), "/srv/www/a b.txt");
    EXPECT_EQ(MapTarget("/srv/www", "/sub/x.txt?v=1"), "/srv/www/sub/x.txt");
    EXPECT_EQ(MapTarget("/srv/www", "/a.b/c./d.txt"), "/srv/www/a.b/c./d.txt");
    EXPECT_EQ(MapTarget("/srv/.www", "/x"), "/srv/.www/x"); // the root is the user's choice
    EXPECT_EQ(MapTarget("/", "/etc/x"), "/etc/x");
    for (const char* target :
         {"2/x", "", "/a/../../x", "/%2e%2e/x", "/a/%2E%2E", "/x%00.txt", "*", "http://host/x"}) {
        EXPECT_EQ(MapTarget("/srv/www", target), "") << target;
    }
}

// A "+" names itself; read as a space only when that names nothing and the space does.
TEST(MapTarget, APlusIsAPlusUnlessOnlyASpaceNamesSomething) {
    TempFolder dir;
    std::string root = dir.MakeFolder("www");
    for (const char* name : {"c++.txt", "a b.txt", "a+b.txt", "x y.txt", "my docs/in.txt"}) {
        dir.Write(std::string("www/") + name, "");
    }
    std::pair<const char*, const char*> cases[] = {
        {"/c++.txt", "/c++.txt"},
        {"/a+b.txt", "/a+b.txt"},
        {"/a%20b.txt", "/a b.txt"},
        {"/a%2Bb.txt", "/a+b.txt"},
        {"/x+y.txt", "/x y.txt"},
        {"/x+y.txt?q=a+b", "/x y.txt"},
        {"/my+docs/", "/my docs/"},
        {"/my+docs/in.txt", "/my docs/in.txt"},
        {"/none+such.txt", "/none+such.txt"},
        {"/x%2By.txt", "/x+y.txt"}, // an escaped "+" is one
    };
    for (const auto& [target, local] : cases) {
        EXPECT_EQ(MapTarget(root, target), root + local) << target;
    }
    dir.Write("www/.a b", "");
    EXPECT_EQ(MapTarget(root, "/.a+b"), "");
}

// What lies inside a hidden folder is hidden with it, at any depth and however escaped.
TEST(MapTarget, RefusesEveryHiddenSegment) {
    for (const char* target :
         {"/.git/config", "/.git/", "/.git", "/a/.ssh/id_rsa", "/a/b/.env", "/a/.b/c/",
          "/%2Egit/config", "/a%2F.b/c", "/./a.txt", "/...", "/a/.x?y=1"}) {
        EXPECT_EQ(MapTarget("/srv/www", target), "") << target;
    }
    EXPECT_EQ(MapTarget("", "/index.html"), "");
    EXPECT_EQ(MapTarget("relative", "/index.html"), "");
}

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

// Plain ASCII names and names of other characters follow one rule: at most 37 characters
// shown, a longer name cut to 34 and "...", an entity or a reference counting as the one
// character it stands for, and the padding after it counting characters, not bytes.
TEST(ListingPage, PlainNamesAndOtherNamesAreCutAlike) {
    std::string e = "\xC3\xA9"; // two bytes, one character
    struct Row {
        std::string Name, Shown;
        size_t Padding, Length;
    };
    std::vector<Row> rows = {
        {std::string(37, 'p'), std::string(37, 'p'), 1, 0},
        {std::string(38, 'q'), std::string(34, 'q') + "...", 1, 7},
        {std::string(36, 'r') + e, std::string(36, 'r') + "&#233;", 1, 1234567},
        {std::string(33, 's') + "&<sss", std::string(33, 's') + "&amp;...", 1, 10},
        {std::string(33, 't') + e + "tttt", std::string(33, 't') + "&#233;...", 1, 99},
        {"u&v", "u&amp;v", 35, 5},
        {"w", "w", 37, 1024},
    };
    std::vector<folder::FolderEntry> entries;
    for (const Row& row : rows) {
        entries.push_back(File(row.Name, static_cast<int64_t>(row.Length)));
    }
    ListingRequest request{"/f/", "/srv/f/", 0, false, true, "h", 80};
    std::string page = ListingPage(request, entries, SafeTable());
    for (const Row& row : rows) {
        std::string expected = ">" + row.Shown + "</a> " + std::string(row.Padding, ' ') +
                               std::to_string(row.Length) + "\r\n";
        EXPECT_NE(page.find(expected), std::string::npos) << row.Shown;
    }
}

TEST(ContentTypes, TheServersOwnTable) {
    std::pair<const char*, const char*> cases[] = {
        {"JPG", "image/jpeg"},
        {"PNG", "image/x-PNG"},
        {"pdf", "application/pdf"},
        {"mpg", "movie/mpeg"},
        {"exe", "application/exe"},
        {"Htm", "text/html"},
        {"txt", ""},
        {"", ""},
    };
    for (const auto& [ext, type] : cases) {
        EXPECT_EQ(TableContentType(ext), type) << ext;
    }
}

TEST(ListingPage, ColumnsWidthsEscapingAndParentLink) {
    double when = OleDateFromTime(1135445400);
    std::string date = OleDateText(when);
    std::string longName(40, 'n');
    std::vector<folder::FolderEntry> entries = {File("<b>&.txt", 0, when), Folder("img", when),
                                                File(longName, 10, when)};
    ListingRequest request{"/docs/%3Cq%3E/?x=<y>", "/srv/docs/", when, true, true, "h", 80};
    std::string page = ListingPage(request, entries, SafeTable());
    std::string rows =
        "<title>Index of /docs/%3Cq%3E/</title>|" +
        ("<pre>      <strong>Name</strong>" + std::string(35, ' ') +
         "<strong>Last modified</strong>" + std::string(9, ' ') + "<strong>Size</strong>\r\n") +
        "|<hr>[DIR] <a href=\"/docs/\">Parent Directory</a>" + std::string(23, ' ') + date +
        "   - \r\n|      <a href=%3Cb%3E%26.txt>&lt;b&gt;&amp;.txt</a> " + std::string(30, ' ') +
        date + "   0\r\n|      <a href=img/>img</a> " + std::string(35, ' ') + date +
        "   0\r\n|      <a href=" + longName + ">" + std::string(34, 'n') + "...</a>  " + date +
        "   10\r\n|</pre><hr>\r\n<address>Quenloft at h Port 80</address>\r\n</body></html>";
    size_t at = 0;
    for (size_t end; (end = rows.find('|')) != std::string::npos || !rows.empty();) {
        std::string piece = rows.substr(0, end);
        rows = end == std::string::npos ? "" : rows.substr(end + 1);
        size_t found = page.find(piece, at);
        ASSERT_NE(found, std::string::npos) << piece;
        at = found + piece.size();
    }
}

// Names count characters, not bytes: a valid UTF-8 sequence is one, any other byte one
// ISO-8859-1 character. Every character outside printable ASCII becomes a numeric
// reference, so the page is pure ASCII; links keep the escaped bytes of the name.
TEST(ListingPage, NamesCountCharactersAndThePageIsPureAscii) {
    std::string e = "\xC3\xA9";        // é
    std::string kana = "\xE3\x81\x82"; // あ
    auto repeat = [](const std::string& text, int count) {
        std::string out;
        for (int i = 0; i < count; ++i) {
            out += text;
        }
        return out;
    };
    struct Row {
        std::string Name, Link, Shown;
        int Padding;
    };
    std::vector<Row> rows = {
        {"R" + e + "sum" + e + ".pdf", "R%C3%A9sum%C3%A9.pdf", "R&#233;sum&#233;.pdf", 28},
        {repeat(e, 37), repeat("%C3%A9", 37), repeat("&#233;", 37), 1},         // at the bound
        {repeat(e, 38), repeat("%C3%A9", 38), repeat("&#233;", 34) + "...", 1}, // one past it
        {"ab" + repeat(kana, 40), "ab" + repeat("%E3%81%82", 40),
         "ab" + repeat("&#12354;", 32) + "...", 1},
        {"x" + repeat(kana, 34) + "yz", "x" + repeat("%E3%81%82", 34) + "yz",
         "x" + repeat("&#12354;", 34) + "yz", 1},
        {"bad\xE9\xFF.txt", "bad%E9%FF.txt", "bad&#233;&#255;.txt", 29},  // stray bytes
        {"cut\xE3\x81", "cut%E3%81", "cut&#227;&#129;", 33},              // a sequence cut short
        {"long\xC0\xAF", "long%C0%AF", "long&#192;&#175;", 32},           // an overlong "/"
        {"sur\xED\xA0\x80", "sur%ED%A0%80", "sur&#237;&#160;&#128;", 32}, // a surrogate
        {"smile\xF0\x9F\x98\x80", "smile%F0%9F%98%80", "smile&#128512;", 32},
        {"tab\there", "tab%09here", "tab&#9;here", 30},
        {"plain-" + std::string(31, 'a'), "plain%2D" + std::string(31, 'a'),
         "plain-" + std::string(31, 'a'), 1},
    };
    std::vector<folder::FolderEntry> entries;
    for (const Row& row : rows) {
        entries.push_back(File(row.Name, 0));
    }
    ListingRequest request{"/caf" + e + "/", "/srv/f/", 0, false, false, "h", 80};
    std::string page = ListingPage(request, entries, SafeTable());
    EXPECT_NE(page.find("<title>Index of /caf&#233;/</title>"), std::string::npos);
    EXPECT_NE(page.find("<h1>Index of /caf&#233;/</h1>"), std::string::npos);
    for (const Row& row : rows) {
        std::string expected = "\r\n      <a href=" + row.Link + ">" + row.Shown + "</a> " +
                               std::string(size_t(row.Padding), ' ') + "\r\n";
        EXPECT_NE(page.find(expected), std::string::npos) << row.Shown;
    }
    for (char c : page) {
        ASSERT_TRUE(static_cast<unsigned char>(c) < 128) << "a byte outside ASCII";
    }
}

} // namespace
