// Folder enumeration on real files, and the listing page built from it.
#include "platform/Folder.h"

#include "TestFolder.h"
#include "base/Error.h"
#include "base/OleDate.h"
#include "http/modRequest.h"

#include <array>
#include <gtest/gtest.h>
#include <map>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace quenloft;
using quenloft::testing::TestFolder;

namespace {

std::vector<std::string> Names(const std::vector<folder::FolderEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) {
        names.push_back(e.Name);
    }
    return names;
}

// A folder holding a mix of entries the listing must judge.
struct Fixture {
    TestFolder dir;
    Fixture() {
        dir.Write("beta.txt", "12345");
        dir.Write("Alpha.txt", "");
        dir.Write(".hidden", "x");
        dir.MakeFolder("img");
        dir.MakeFolder("Zoo");
        ::mkfifo((dir / "pipe").c_str(), 0600);
        ::symlink((dir / "beta.txt").c_str(), (dir / "link-to-beta").c_str());
        ::symlink((dir / "img").c_str(), (dir / "link-to-img").c_str());
        ::symlink((dir / "missing").c_str(), (dir / "dangling").c_str());
    }
};

TEST(Folder, NameOrderWithoutCaseAndNoSystemEntries) {
    Fixture f;
    auto entries = folder::ListFolder(f.dir.Path(), false);
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"Alpha.txt", "beta.txt", "img",
                                                        "link-to-beta", "link-to-img", "Zoo"}));
    EXPECT_EQ(entries[1].Length, 5);
    EXPECT_FALSE(entries[1].IsFolder);
    EXPECT_TRUE(entries[4].IsFolder); // a link is judged by what it leads to
    EXPECT_EQ(entries[4].Length, 0);
    EXPECT_EQ(entries[3].Length, 5);
}

TEST(Folder, HiddenEntriesOnlyWhenAsked) {
    Fixture f;
    auto entries = folder::ListFolder(f.dir.Path(), true);
    ASSERT_EQ(entries.front().Name, ".hidden");
    EXPECT_TRUE(entries.front().IsHidden);
    EXPECT_EQ(entries.size(), 7u);
}

TEST(Folder, MissingFolderFailsAndDatesAreRead) {
    TestFolder dir;
    EXPECT_THROW(folder::ListFolder(dir / "none", false), Error);
    EXPECT_FALSE(folder::FolderExists(dir / "none"));
    EXPECT_TRUE(folder::FolderExists(dir.Path()));
    dir.Write("f", "");
    dir.Touch("f", 1135445400);
    EXPECT_EQ(folder::LastModified(dir / "f"), OleDateFromTime(1135445400));
    EXPECT_THROW(folder::LastModified(dir / "none"), Error);
}

std::array<bool, 256> SafeTable() {
    std::array<bool, 256> safe{};
    for (int c = 0; c < 256; ++c) {
        safe[c] = (c >= 46 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122);
    }
    return safe;
}

TEST(ListingPage, WithoutColumnsTheHeaderRunsIntoTheParentRow) {
    TestFolder dir;
    dir.Write("a b.txt", "abc");
    ListingRequest request{"/", dir.Path() + "/", false, false, false, "host", 8080};
    std::string page = ListingPage(request, SafeTable());
    EXPECT_EQ(page, "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\r\n"
                    "<html>\r\n<head>\r\n<title>Index of /</title>\r\n</head>\r\n<body>\r\n"
                    "<h1>Index of /</h1>\r\n"
                    "<pre>      <strong>Name</strong>" +
                        std::string(35, ' ') + "<hr>[DIR] <a href=\"/\">Parent Directory</a>" +
                        std::string(23, ' ') +
                        "   - \r\n"
                        "      <a href=a+b.txt>a b.txt</a> " +
                        std::string(31, ' ') +
                        "\r\n"
                        "</pre><hr>\r\n<address>Quenloft at host Port 8080</address>\r\n"
                        "</body></html>");
}

TEST(ListingPage, ColumnsWidthsAndEscaping) {
    TestFolder dir;
    const time_t when = 1135445400;
    std::string date = OleDateText(OleDateFromTime(when));
    std::string longName(40, 'n');
    dir.MakeFolder("docs/img");
    dir.Write("docs/" + longName, "0123456789");
    dir.Write("docs/<b>&.txt", "");
    dir.Touch("docs/" + longName, when);
    dir.Touch("docs/<b>&.txt", when);
    dir.Touch("docs/img", when);
    dir.Touch("", when);
    ListingRequest request{"/docs/%3Cq%3E/?x=<y>", dir / "docs/", true, true, false, "h", 80};
    std::string page = ListingPage(request, SafeTable());

    EXPECT_NE(page.find("<title>Index of /docs/%3Cq%3E/</title>"), std::string::npos);
    EXPECT_NE(page.find("<pre>      <strong>Name</strong>" + std::string(35, ' ') +
                        "<strong>Last modified</strong>" + std::string(9, ' ') +
                        "<strong>Size</strong>\r\n"),
              std::string::npos);
    // The parent link comes from the decoded target and is encoded once.
    EXPECT_NE(page.find("<hr>[DIR] <a href=\"/docs/\">Parent Directory</a>" + std::string(23, ' ') +
                        date + "   - \r\n"),
              std::string::npos);
    EXPECT_NE(page.find("      <a href=%3Cb%3E%26.txt>&lt;b&gt;&amp;.txt</a> " +
                        std::string(38 - 8, ' ') + date + "   0\r\n"),
              std::string::npos);
    EXPECT_NE(page.find("      <a href=img/>img</a> " + std::string(35, ' ') + date + "   0\r\n"),
              std::string::npos);
    EXPECT_NE(page.find("      <a href=" + longName + ">" + std::string(34, 'n') + "...</a>  " +
                        date + "   10\r\n"),
              std::string::npos);
    // Rows follow in name order without regard to case.
    EXPECT_LT(page.find("%3Cb%3E"), page.find("img/"));
    EXPECT_LT(page.find("img/"), page.find(longName));
}

} // namespace

namespace {

// Listing the same folder again must show every change, although entries are kept between
// listings while the kernel reports no change.
TEST(Folder, ListingAgainShowsEveryChange) {
    TestFolder dir;
    TestFolder elsewhere;
    dir.Write("a.txt", "1");
    dir.Write("gone.txt", "");
    dir.MakeFolder("sub");
    dir.Touch("sub", 1000000000);
    std::string target = elsewhere.Write("target", "12");
    ::symlink(target.c_str(), (dir / "link").c_str());
    auto sizes = [&] {
        std::map<std::string, int64_t> out;
        for (const auto& e : folder::ListFolder(dir.Path(), true)) {
            out[e.Name] = e.Length;
        }
        return out;
    };
    auto before = sizes();
    EXPECT_EQ(before, (std::map<std::string, int64_t>{
                          {"a.txt", 1}, {"gone.txt", 0}, {"link", 2}, {"sub", 0}}));
    dir.Write("a.txt", "1234");
    dir.Write("new.txt", "x");
    ::unlink((dir / "gone.txt").c_str());
    elsewhere.Write("target", "12345"); // behind a link: the folder hears nothing
    EXPECT_EQ(sizes(), (std::map<std::string, int64_t>{
                           {"a.txt", 4}, {"link", 5}, {"new.txt", 1}, {"sub", 0}}));

    double subBefore = folder::ListFolder(dir.Path(), true).back().Modified;
    dir.Write("sub/inner", "i"); // changes the subfolder's date only
    double subAfter = folder::ListFolder(dir.Path(), true).back().Modified;
    EXPECT_GT(subAfter, subBefore);
}

} // namespace
