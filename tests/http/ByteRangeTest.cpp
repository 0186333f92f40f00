// What a "Range" header asks of a file.
#include "http/ByteRange.h"

#include <gtest/gtest.h>

using namespace quenloft;

namespace {

struct Case {
    const char* value;
    int64_t size;
    ByteRange::Verdict answer;
    int64_t first = 0;
    int64_t last = -1;
};

constexpr int64_t Big = 5'000'000'000; // past 4 GiB

TEST(ByteRangeTest, EveryFormOfOneRange) {
    const Case cases[] = {
        {"bytes=0-99", 1000, ByteRange::Part, 0, 99},
        {"bytes=0-0", 1000, ByteRange::Part, 0, 0},
        {"bytes=999-999", 1000, ByteRange::Part, 999, 999}, // the last byte
        {"bytes=500-", 1000, ByteRange::Part, 500, 999},
        {"bytes=500-5000", 1000, ByteRange::Part, 500, 999}, // ends at the last byte
        {"bytes=-100", 1000, ByteRange::Part, 900, 999},
        {"bytes=-5000", 1000, ByteRange::Part, 0, 999}, // a suffix longer than the file
        {"BYTES=1-2", 1000, ByteRange::Part, 1, 2},
        {" bytes= 0- ", 1000, ByteRange::Part, 0, 999},
        {"bytes=4294967296-", Big, ByteRange::Part, 4294967296, Big - 1},
        {"bytes=4999999999-4999999999", Big, ByteRange::Part, Big - 1, Big - 1},
        {"bytes=-1", Big, ByteRange::Part, Big - 1, Big - 1},
        {"bytes=0-99999999999999999999999", 10, ByteRange::Part, 0, 9}, // saturates
        {"bytes=-99999999999999999999999", 10, ByteRange::Part, 0, 9},
    };
    for (const Case& c : cases) {
        ByteRange range = ParseRange(c.value, c.size);
        EXPECT_EQ(range.Answer, c.answer) << c.value;
        EXPECT_EQ(range.First, c.first) << c.value;
        EXPECT_EQ(range.Last, c.last) << c.value;
    }
    EXPECT_EQ(ParseRange("bytes=10-19", 100).Length(), 10);
}

TEST(ByteRangeTest, NothingOfTheFileIsUnsatisfiable) {
    for (const Case& c : std::initializer_list<Case>{
             {"bytes=1000-", 1000, ByteRange::Unsatisfiable}, // one past the end
             {"bytes=1000-2000", 1000, ByteRange::Unsatisfiable},
             {"bytes=-0", 1000, ByteRange::Unsatisfiable},
             {"bytes=0-", 0, ByteRange::Unsatisfiable}, // an empty file has no bytes
             {"bytes=-5", 0, ByteRange::Unsatisfiable},
             {"bytes=99999999999999999999-", Big, ByteRange::Unsatisfiable},
         }) {
        EXPECT_EQ(ParseRange(c.value, c.size).Answer, c.answer) << c.value;
    }
}

TEST(ByteRangeTest, WhatCannotBeHonouredAsOneRangeIsIgnored) {
    for (const char* value :
         {"bytes=5-2", "bytes=0-1,5-6", "bytes=0-1, 5-6", "items=0-1", "bytes 0-1",
          "bytes=", "bytes=-", "bytes=a-b", "bytes=1-2x", "bytes=+1-2", "bytes=0x10-",
          "bytes=1 - 2", "bytes=--1", "", "bytes=1-2-3", "bytes=-1-"}) {
        EXPECT_EQ(ParseRange(value, 1000).Answer, ByteRange::Whole) << value;
    }
}

} // namespace
