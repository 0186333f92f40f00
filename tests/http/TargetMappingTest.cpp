// Targets mapped onto the served folder: what stays inside it, hidden segments, and "+"
// read as a space only when a real file needs it.
#include "http/TargetMapping.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

using namespace quenloft;
using quenloft::testing::TempFolder;

namespace {

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

} // namespace
