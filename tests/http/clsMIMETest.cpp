// The header list: order, case-insensitive lookup, positions and removal.
#include "http/clsMIME.h"

#include "base/Error.h"

#include <gtest/gtest.h>

using quenloft::clsMIME;

namespace {

TEST(HeaderList, OrderDuplicatesAndLookups) {
    clsMIME list;
    EXPECT_EQ(list.MimeUpperCount(), -1);
    list.Add("Server", "Quenloft 1.0");
    list.Add("Accept-Ranges", "none");
    list.Add("Server", "second");
    EXPECT_EQ(list.ToString(), "Server: Quenloft 1.0\r\nAccept-Ranges: none\r\nServer: second\r\n");
    EXPECT_EQ(list.MimeValue("SERVER"), "Quenloft 1.0");
    EXPECT_EQ(list.MimeValue("Connection"), "");
    list.SetMimeValue("Connection", "Close"); // writing never adds
    EXPECT_EQ(list.MimeUpperCount(), 2);
    EXPECT_EQ(list.MimeName(1), "Accept-Ranges");
    EXPECT_EQ(list.MimeValue("2"), "second");
    EXPECT_EQ(list.MimeValue(-1), "");
    EXPECT_THROW(list.MimeValue(3), quenloft::Error);
    list.Remove("accept-ranges");
    EXPECT_EQ(list.ToString(), "Server: Quenloft 1.0\r\nServer: second\r\n");
}

} // namespace
