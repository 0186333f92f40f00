// The text helpers on file names and on texts shown or logged.
#include "base/TextHelpers.h"

#include "base/Error.h"

#include <gtest/gtest.h>

using namespace quenloft;

namespace {

TEST(TextHelpers, GetExtension) {
    EXPECT_EQ(GetExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(GetExtension("README"), "README");
    EXPECT_EQ(GetExtension("name."), "");
    EXPECT_EQ(GetExtension("/web.old/README"), "old/README");
}

TEST(TextHelpers, GetFolder) {
    EXPECT_EQ(GetFolder("/web/HTTP-Settings.dat"), "/web/");
    EXPECT_EQ(GetFolder("HTTP-Settings.dat"), "");
}

TEST(TextHelpers, LeftOfLast) {
    EXPECT_EQ(LeftOfLast("/docs/img/", "/", -1, 0), "/docs/img/");
    EXPECT_EQ(LeftOfLast("/docs/img/", "/", 9, 0), "/docs/");
    EXPECT_EQ(LeftOfLast("/www/docs/", "/", 9, 1), "/www");
    EXPECT_EQ(LeftOfLast("nothing", "/", -1, 0), "");
    EXPECT_EQ(LeftOfLast("a::b::c", "::", 5, 0), "a:"); // p is where the find begins
    EXPECT_THROW(LeftOfLast("/", "/", 0, 0), Error);
    EXPECT_THROW(LeftOfLast("abc", "/", -1, 1), Error);
}

TEST(TextHelpers, ShortenText) {
    EXPECT_EQ(ShortenText("abcdefghij", 8), "abcde...");
    EXPECT_EQ(ShortenText("abcdefgh", 8), "abcdefgh");
    EXPECT_EQ(ShortenText(std::string(40, 'n'), 37), std::string(34, 'n') + "...");
    EXPECT_THROW(ShortenText("abcd", 2), Error);
}

TEST(TextHelpers, AppendHexEscape) {
    std::string out = "a";
    AppendHexEscape(out, "%", 0x2F);
    AppendHexEscape(out, "\\x", 0x0A);
    AppendHexEscape(out, "%", 0xFF);
    EXPECT_EQ(out, "a%2F\\x0A%FF");
}

} // namespace
