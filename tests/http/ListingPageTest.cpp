// The listing page built from tables of entries: names cut and escaped by characters,
// links, columns and the parent link.
#include "http/ListingPage.h"

#include "SafeTable.h"
#include "base/OleDate.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace quenloft;
using quenloft::testing::SafeTable;

namespace {

folder::FolderEntry File(const std::string& name, int64_t length, double modified = 0) {
    return {name, false, name.starts_with('.'), modified, length};
}

folder::FolderEntry Folder(const std::string& name, double modified = 0) {
    return {name, true, name.starts_with('.'), modified, 0};
}

// The whole page around its header row, parent row and entry rows.
std::string Page(const std::string& title, const std::string& rows, const std::string& footer) {
    return "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\r\n<html>\r\n<head>\r\n"
           "<title>Index of " +
           title + "</title>\r\n</head>\r\n<body>\r\n<h1>Index of " + title + "</h1>\r\n" + rows +
           "</pre><hr>\r\n<address>" + footer + "</address>\r\n</body></html>";
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

TEST(ListingPage, ColumnsWidthsEscapingAndParentLink) {
    double when = OleDateFromTime(1135445400);
    std::string date = OleDateText(when);
    std::string longName(40, 'n');
    struct Row {
        folder::FolderEntry Entry;
        std::string Expected;
    };
    std::vector<Row> rows = {
        {File("<b>&.txt", 0, when), "      <a href=%3Cb%3E%26.txt>&lt;b&gt;&amp;.txt</a> " +
                                        std::string(30, ' ') + date + "   0\r\n"},
        {Folder("img", when),
         "      <a href=img/>img</a> " + std::string(35, ' ') + date + "   0\r\n"},
        {File(longName, 10, when), "      <a href=" + longName + ">" + std::string(34, 'n') +
                                       "...</a>  " + date + "   10\r\n"},
    };
    std::vector<folder::FolderEntry> entries;
    std::string expected = "<pre>      <strong>Name</strong>" + std::string(35, ' ') +
                           "<strong>Last modified</strong>" + std::string(9, ' ') +
                           "<strong>Size</strong>\r\n<hr>[DIR] <a href=\"/docs/\">Parent "
                           "Directory</a>" +
                           std::string(23, ' ') + date + "   - \r\n";
    for (const Row& row : rows) {
        entries.push_back(row.Entry);
        expected += row.Expected;
    }
    ListingRequest request{"/docs/%3Cq%3E/?x=<y>", "/srv/docs/", when, true, true, "h", 80};
    EXPECT_EQ(ListingPage(request, entries, SafeTable()),
              Page("/docs/%3Cq%3E/", expected, "Quenloft at h Port 80"));
}

// Links write a space as %20 and a "+" escaped, so that a link names its entry however the
// "+" is read. The parent link follows the reading that named the folder: here the "+".
TEST(ListingPage, LinksKeepAPlusAndWriteASpaceAsPercent20) {
    struct Row {
        folder::FolderEntry Entry;
        std::string Link;
    };
    std::vector<Row> rows = {
        {File("a b.txt", 0), "<a href=a%20b.txt>a b.txt</a>"},
        {File("a+b.txt", 0), "<a href=a%2Bb.txt>a+b.txt</a>"},
        {File("c++.txt", 0), "<a href=c%2B%2B.txt>c++.txt</a>"},
        {Folder("my docs"), "<a href=my%20docs/>my docs</a>"},
    };
    std::vector<folder::FolderEntry> entries;
    std::string expected = "<pre>      <strong>Name</strong>" + std::string(35, ' ') +
                           "<hr>[DIR] <a href=\"/my%2Bdocs/\">Parent Directory</a>" +
                           std::string(23, ' ') + "   - \r\n";
    for (const Row& row : rows) {
        entries.push_back(row.Entry);
        expected += "      " + row.Link + " " + std::string(31, ' ') + "\r\n";
    }
    ListingRequest request{"/my+docs/deeper/", "/srv/my+docs/deeper/", 0, false, false, "h", 80};
    EXPECT_EQ(ListingPage(request, entries, SafeTable()),
              Page("/my+docs/deeper/", expected, "Quenloft at h Port 80"));
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
