// Raising the descriptor limit at start-up: the soft limit goes up to the hard one, or to
// 65536 when that is less.
#include "platform/DescriptorLimit.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace quenloft {
namespace {

TEST(DescriptorLimit, RaisedToTheHardLimitAndReadBack) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_max, 256);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    EXPECT_EQ(DescriptorLimit(), static_cast<int64_t>(low.rlim_cur));

    RaiseDescriptorLimit();
    auto raised = static_cast<int64_t>(std::min<rlim_t>(saved.rlim_max, 65536));
    EXPECT_EQ(DescriptorLimit(), raised);
    RaiseDescriptorLimit();
    EXPECT_EQ(DescriptorLimit(), raised) << "a second raise changes nothing";
    setrlimit(RLIMIT_NOFILE, &saved);
}

} // namespace
} // namespace quenloft
