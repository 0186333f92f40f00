// The one copy of a listing page that many connections send, and the bytes it counts.
#include "http/ListingPages.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

using namespace quenloft;

namespace {

TEST(ListingPagesTest, EqualPagesShareOneCopyWhileAnyShareLives) {
    ListingPages pages;
    std::string big(100000, 'x');
    {
        ListingPages::Share first = pages.Take(big);
        ListingPages::Share second = pages.Take(big);
        EXPECT_EQ(first.Bytes(), second.Bytes()); // the same copy
        EXPECT_EQ(pages.Bytes(), big.size());
        ListingPages::Share other = pages.Take("other");
        EXPECT_EQ(pages.Bytes(), big.size() + 5);

        ListingPages::Share moved = std::move(first);
        EXPECT_EQ(first.Size(), 0u);
        second = {};
        EXPECT_EQ(pages.Bytes(), big.size() + 5); // `moved` still holds it
        moved = pages.Take("other");
        EXPECT_EQ(pages.Bytes(), 5u);
    }
    EXPECT_EQ(pages.Bytes(), 0u);
}

} // namespace
