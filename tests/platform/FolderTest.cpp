// Folder enumeration on real files: name order, hidden and system entries, and listings
// kept between calls that still show every change.
#include "platform/Folder.h"

#include "base/Error.h"
#include "support/LoopRunner.h"
#include "support/TempFolder.h"

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

} // namespace
