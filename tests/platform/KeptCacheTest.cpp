// What every keeper of values shares: the bounds on their number and bytes, the least
// recently used going first, and the program's loop forgetting what nobody used.
#include "platform/KeptCache.h"

#include "support/LoopRunner.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using quenloft::KeptCache;

namespace {

struct Kept {
    std::vector<std::string> Dropped; // told by the cache, in order
    KeptCache<std::string, int> Cache{3, 100,
                                      [this](const std::string& key) { Dropped.push_back(key); }};

    bool Has(const std::string& key) { return Cache.Find(key) != nullptr; }
};

bool Stands(const int&) {
    return true;
}

// Room is made before a value is kept: the least recently used go (and are told) until
// one more value and its bytes fit; a value kept again or forgotten by its keeper is not.
TEST(KeptCache, TheLeastRecentlyUsedGoToMakeRoom) {
    Kept kept;
    kept.Cache.Keep("a", 1, 10);
    kept.Cache.Keep("b", 2, 10);
    kept.Cache.Keep("c", 3, 10);
    ASSERT_NE(kept.Cache.Use("a", Stands), nullptr);
    EXPECT_EQ(kept.Cache.Use("b", [](const int&) { return false; }), nullptr);
    kept.Cache.Keep("d", 4, 10); // b was found, but not used
    EXPECT_EQ(kept.Dropped, std::vector<std::string>{"b"});
    EXPECT_EQ(kept.Cache.Kept(), 3u);

    kept.Cache.Keep("d", 5, 20); // in place of the old value
    EXPECT_EQ(*kept.Cache.Find("d"), 5);
    EXPECT_EQ(kept.Cache.Bytes(), 40u);
    kept.Cache.Keep("e", 6, 80); // c and a go for its bytes, oldest first; d fits beside it
    EXPECT_EQ(kept.Dropped, (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_EQ(kept.Cache.Bytes(), 100u);

    kept.Cache.Forget("d");
    kept.Cache.Forget("e");
    kept.Cache.Forget("never kept");
    EXPECT_EQ(kept.Dropped.size(), 3u);
    EXPECT_EQ(kept.Cache.Kept(), 0u);
    EXPECT_EQ(kept.Cache.Bytes(), 0u);
}

// Values nobody used during the keep time are forgotten by the program's loop; a new keep
// time applies to what is kept already.
TEST(KeptCache, ValuesNotUsedForTheKeepTimeAreForgotten) {
    Kept kept;
    kept.Cache.KeepFor(std::chrono::hours(1));
    auto start = std::chrono::steady_clock::now();
    kept.Cache.Keep("a", 1, 10);
    kept.Cache.Keep("b", 2, 10);
    quenloft::testing::RunPasses();
    EXPECT_EQ(kept.Cache.Kept(), 2u);

    kept.Cache.KeepFor(std::chrono::milliseconds(200));
    ASSERT_TRUE(quenloft::testing::RunUntil([&] {
        kept.Cache.Use("a", Stands); // asked for all the time
        return !kept.Has("b");
    }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_TRUE(kept.Has("a"));
    EXPECT_EQ(kept.Dropped, std::vector<std::string>{"b"});
    EXPECT_EQ(kept.Cache.Bytes(), 10u);

    kept.Cache.KeepFor(std::chrono::milliseconds(0));
    EXPECT_TRUE(quenloft::testing::RunUntil([&] { return kept.Cache.Kept() == 0; }));
    EXPECT_EQ(kept.Cache.Bytes(), 0u);
}

} // namespace
