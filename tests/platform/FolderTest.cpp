// Folder enumeration on real files, and the listing page's columns built from it.
#include "platform/Folder.h"

#include "base/Error.h"
#include "base/OleDate.h"
#include "http/modRequest.h"
#include "support/LoopRunner.h"
#include "support/TempFolder.h"

#include <array>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using namespace quenloft;
using quenloft::testing::TempFolder;

namespace {

std::map<std::string, int64_t> Lengths(const std::string& path, bool hidden) {
    std::map<std::string, int64_t> out;
    for (const auto& e : folder::ListFolder(path, hidden)) {
        out[e.Name] = e.IsFolder ? -1 : e.Length;
    }
    return out;
}

TEST(Folder, NameOrderHiddenEntriesAndNoSystemEntries) {
    TempFolder dir;
    dir.Write("beta.txt", "12345");
    dir.Write("Alpha.txt", "");
    dir.Write(".hidden", "x");
    dir.MakeFolder("Zoo");
    ::mkfifo((dir / "pipe").c_str(), 0600);
    ::symlink((dir / "Zoo").c_str(), (dir / "link-to-zoo").c_str());
    ::symlink((dir / "missing").c_str(), (dir / "dangling").c_str());
    std::vector<std::string> names;
    for (const auto& e : folder::ListFolder(dir.Path(), false)) {
        names.push_back(e.Name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha.txt", "beta.txt", "link-to-zoo", "Zoo"}));
    EXPECT_EQ(
        Lengths(dir.Path(), true),
        (std::map<std::string, int64_t>{
            {".hidden", 1}, {"Alpha.txt", 0}, {"beta.txt", 5}, {"link-to-zoo", -1}, {"Zoo", -1}}));
    EXPECT_THROW(folder::ListFolder(dir / "none", false), Error);
}

// Entries are kept between listings while the kernel reports no change to the folder;
// listing again must still show every change.
TEST(Folder, ListingAgainShowsEveryChange) {
    TempFolder dir, elsewhere;
    dir.Write("a.txt", "1");
    dir.Write("gone.txt", "");
    dir.MakeFolder("sub");
    dir.Touch("sub", 1000000000);
    ::symlink(elsewhere.Write("target", "12").c_str(), (dir / "link").c_str());
    EXPECT_EQ(
        Lengths(dir.Path(), true),
        (std::map<std::string, int64_t>{{"a.txt", 1}, {"gone.txt", 0}, {"link", 2}, {"sub", -1}}));
    dir.Write("a.txt", "1234");
    dir.Write("new.txt", "x");
    ::unlink((dir / "gone.txt").c_str());
    elsewhere.Write("target", "12345"); // behind a link: the folder hears nothing
    EXPECT_EQ(
        Lengths(dir.Path(), true),
        (std::map<std::string, int64_t>{{"a.txt", 4}, {"link", 5}, {"new.txt", 1}, {"sub", -1}}));
    double before = folder::ListFolder(dir.Path(), true).back().Modified;
    dir.Write("sub/inner", "i"); // changes only the subfolder's own date
    EXPECT_GT(folder::ListFolder(dir.Path(), true).back().Modified, before);
}

// Changes the folder never hears of: a file written through another of its names, and a
// link whose target appears after the folder was listed.
TEST(Folder, ListingAgainSeesChangesMadeElsewhere) {
    TempFolder dir, elsewhere;
    std::string outside = elsewhere.Write("outside", "1");
    ::link(outside.c_str(), (dir / "hard").c_str());
    ::symlink((elsewhere / "later").c_str(), (dir / "soon").c_str());
    EXPECT_EQ(Lengths(dir.Path(), true), (std::map<std::string, int64_t>{{"hard", 1}}));
    elsewhere.Write("outside", "123");
    elsewhere.Write("later", "12");
    EXPECT_EQ(Lengths(dir.Path(), true),
              (std::map<std::string, int64_t>{{"hard", 3}, {"soon", 2}}));
}

// A kept listing lives while it is asked for; then the program's loop forgets it.
TEST(Folder, AListingNotAskedForIsForgotten) {
    TempFolder dir;
    dir.Write("a.txt", "1");
    folder::KeepListingsFor(std::chrono::milliseconds(0));
    EXPECT_EQ(Lengths(dir.Path(), false), (std::map<std::string, int64_t>{{"a.txt", 1}}));
    EXPECT_GE(folder::KeptListings(), 1u);
    EXPECT_TRUE(quenloft::testing::RunUntil([] { return folder::KeptListings() == 0; }));

    folder::KeepListingsFor(std::chrono::hours(1));
    EXPECT_EQ(Lengths(dir.Path(), false), (std::map<std::string, int64_t>{{"a.txt", 1}}));
    quenloft::testing::RunPasses();
    EXPECT_EQ(folder::KeptListings(), 1u);
    folder::KeepListingsFor(std::chrono::seconds(10));
}

TEST(ListingPage, ColumnsWidthsEscapingAndParentLink) {
    TempFolder dir;
    const time_t when = 1135445400;
    std::string date = OleDateText(OleDateFromTime(when));
    std::string longName(40, 'n');
    dir.MakeFolder("docs/img");
    dir.Write("docs/" + longName, "0123456789");
    dir.Write("docs/<b>&.txt", "");
    for (std::string name : {"docs/" + longName, std::string("docs/<b>&.txt"),
                             std::string("docs/img"), std::string("")}) {
        dir.Touch(name, when);
    }
    std::array<bool, 256> safe{};
    for (int c = 0; c < 256; ++c) {
        safe[c] = (c >= 46 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122);
    }
    ListingRequest request{"/docs/%3Cq%3E/?x=<y>", dir / "docs/", true, true, false, "h", 80};
    std::string page = ListingPage(request, safe);
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
    TempFolder dir;
    for (const Row& row : rows) {
        dir.Write("f/" + row.Name, "");
    }
    std::array<bool, 256> safe{};
    for (int c = 0; c < 256; ++c) {
        safe[c] = (c >= 46 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122);
    }
    ListingRequest request{"/caf" + e + "/", dir / "f/", false, false, false, "h", 80};
    std::string page = ListingPage(request, safe);
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
