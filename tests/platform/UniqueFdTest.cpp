// The descriptor owner closes what it holds exactly once, whichever way it lets go.
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <gtest/gtest.h>

namespace quenloft {
namespace {

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

int OpenNull() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

TEST(UniqueFd, ClosesOnceWhenItGoesAndMovesOwnership) {
    int first = OpenNull();
    {
        UniqueFd owner(first);
        UniqueFd moved(std::move(owner));
        EXPECT_FALSE(owner.IsOpen());
        EXPECT_EQ(moved.Get(), first);
        UniqueFd assigned;
        assigned = std::move(moved);
        EXPECT_TRUE(IsOpen(first));
    }
    EXPECT_FALSE(IsOpen(first));
}

TEST(UniqueFd, ResetClosesTheOldOneAndReleaseKeepsItOpen) {
    int first = OpenNull();
    int second = OpenNull();
    UniqueFd owner(first);
    owner.Reset(second);
    EXPECT_FALSE(IsOpen(first));
    owner.Reset(second); // the same descriptor again stays open
    EXPECT_TRUE(IsOpen(second));
    EXPECT_EQ(owner.Release(), second);
    EXPECT_FALSE(owner.IsOpen());
    owner.Reset();
    EXPECT_TRUE(IsOpen(second));
    ::close(second);
}

} // namespace
} // namespace quenloft
