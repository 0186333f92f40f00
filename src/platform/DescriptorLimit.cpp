#include "platform/DescriptorLimit.h"

#include <algorithm>
#include <sys/resource.h>

namespace quenloft {

void RaiseDescriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::optional<int64_t> DescriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return std::nullopt;
    }
    return static_cast<int64_t>(limit.rlim_cur);
}

} // namespace quenloft
