// Valid UTF-8 at the start of a file, where the first piece may end inside a character.
#include "base/Utf8.h"

#include <gtest/gtest.h>

using namespace quenloft;

TEST(Utf8Test, ValidTextAndACharacterCutByTheEnd) {
    const std::string text = "R\xC3\xA9union \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80";
    EXPECT_TRUE(IsUtf8Start(""));
    EXPECT_TRUE(IsUtf8Start("plain ASCII\r\n"));
    EXPECT_TRUE(IsUtf8Start(text));
    for (size_t cut = 0; cut <= text.size(); ++cut) { // every piece boundary
        EXPECT_TRUE(IsUtf8Start(std::string_view(text).substr(0, cut))) << cut;
    }
}

TEST(Utf8Test, LatinOneAndBrokenSequencesAreNotUtf8) {
    for (const char* bytes : {"R\xE9union", "caf\xE9 ok", "a\x80", "\xC0\xAF", "\xED\xA0\x80",
                              "\xF4\x90\x80\x80", "\xE4\xB8x", "\xFF", "\xC3\xA9\xA9"}) {
        EXPECT_FALSE(IsUtf8Start(bytes)) << bytes;
    }
    // A cut sequence is allowed only at the very end.
    EXPECT_FALSE(IsUtf8Start(std::string("\xE4\xB8 tail")));
}

TEST(Utf8Test, SequenceLengthsAndCodes) {
    EXPECT_EQ(Utf8SequenceLength("\xE4\xB8\xAD"), 3u);
    EXPECT_EQ(Utf8Code("\xE4\xB8\xAD"), U'\u4E2D');
    EXPECT_EQ(Utf8SequenceLength("\xF0\x9F\x98\x80"), 4u);
    EXPECT_EQ(Utf8Code("\xF0\x9F\x98\x80"), U'\U0001F600');
    EXPECT_EQ(Utf8SequenceLength("\xE4\xB8"), 1u); // cut short
    EXPECT_EQ(Utf8SequenceLength("\x80"), 1u);
}
