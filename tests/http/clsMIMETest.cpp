// The header list: order, case-insensitive lookup, positions and removal.
#include "http/clsMIME.h"

#include "base/Error.h"

#include <gtest/gtest.h>

using quenloft::clsMIME;

namespace {

TEST(HeaderList, KeepsOrderAndDuplicates) {
    clsMIME list;
    EXPECT_EQ(list.ToString(), "");
    EXPECT_EQ(list.MimeUpperCount(), -1);
    list.Add("Server", "Quenloft 1.0");
    list.Add("Accept-Ranges", "none");
    list.Add("Server", "second");
    EXPECT_EQ(list.ToString(), "Server: Quenloft 1.0\r\nAccept-Ranges: none\r\nServer: second\r\n");
    EXPECT_EQ(list.MimeValue("server"), "Quenloft 1.0");
    EXPECT_EQ(list.MimeValue("SERVER"), "Quenloft 1.0");
    EXPECT_EQ(list.MimeUpperCount(), 2);
}

TEST(HeaderList, MissingNamesReadEmptyAndAreNeverAdded) {
    clsMIME list;
    list.Add("Server", "Quenloft 1.0");
    EXPECT_EQ(list.MimeValue("Connection"), "");
    list.SetMimeValue("Connection", "Close");
    EXPECT_EQ(list.ToString(), "Server: Quenloft 1.0\r\n");
    list.SetMimeValue("server", "x");
    EXPECT_EQ(list.MimeValue("Server"), "x");
}

TEST(HeaderList, PositionsSelectEntries) {
    clsMIME list;
    list.Add("A", "1");
    list.Add("B", "2");
    list.Add("C", "3");
    EXPECT_EQ(list.MimeName(1), "B");
    EXPECT_EQ(list.MimeValue("2"), "3");
    EXPECT_EQ(list.MimeValue(-1), "");
    EXPECT_THROW(list.MimeValue(3), quenloft::Error);
    list.Remove("b");
    EXPECT_EQ(list.ToString(), "A: 1\r\nC: 3\r\n");
    EXPECT_EQ(list.MimeUpperCount(), 1);
    list.Remove("nothing");
    list.Remove(0);
    list.Remove(0);
    EXPECT_EQ(list.ToString(), "");
}

} // namespace
