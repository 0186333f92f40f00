// URL coding byte for byte: form fields, paths and malformed escapes.
#include "http/URLCoding.h"

#include "SafeTable.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

using namespace quenloft;
using quenloft::testing::SafeTable;

namespace {

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

} // namespace
