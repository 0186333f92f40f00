// The socket service's pure helpers: error texts and word conversions.
#include "net/modSocketSupport.h"

#include <gtest/gtest.h>

namespace quenloft {
namespace {

TEST(SocketErrorTextTest, KnownCodesGapsAndOthers) {
    const std::pair<int32_t, const char*> rows[] = {
        {10004, "Interrupted function call."},
        {10035, "Resource temporarily unavailable."},
        {10038, "Socket operation on nonsocket."},
        {10048, "Address already in use."},
        {10054, "Connection reset by peer."},
        {10058, "Cannot send after socket shutdown."},
        {10061, "Connection refused."},
        {10067, "Too many processes."},
        {10091, "Network subsystem is unavailable."},
        {10109, "Class type not found."},
        {11001, "Host not found."},
        {11004, "Valid name, no data record of requested type."},
    };
    for (const auto& [code, text] : rows) {
        EXPECT_EQ(SocketErrorText(code), text) << code;
    }
    for (int32_t gap : {10062, 10066, 10068, 10090, 10094, 10100, 10102, 10108, 10110, 11000, 0, -1,
                        40006, 10059}) {
        EXPECT_EQ(SocketErrorText(gap), "Unknown error.") << gap;
    }
}

TEST(SocketSupportWordsTest, PortWordsAndNotificationHalves) {
    EXPECT_EQ(UnsignedToWord(80), 80);
    EXPECT_EQ(UnsignedToWord(65535), -1);
    EXPECT_EQ(UnsignedToWord(32768), -32768);
    for (int32_t bad : {65536, -1, -65535}) {
        try {
            UnsignedToWord(bad);
            ADD_FAILURE() << bad << " must overflow";
        } catch (const Error& e) {
            EXPECT_EQ(e.Number(), ErrOverflow);
        }
    }
    EXPECT_EQ(WordToUnsigned(-1), 65535);
    EXPECT_EQ(WordToUnsigned(static_cast<int16_t>(-32768)), 32768);
    // An error code in the high half reads unsigned.
    auto second = static_cast<int32_t>(0x80000010u);
    EXPECT_EQ(HighWord(second), 32768);
    EXPECT_EQ(LowWord(second), 16);
    EXPECT_EQ(HighWord(10035 << 16 | 16), 10035);
}

} // namespace
} // namespace quenloft
