// The process's limit on open descriptors: a server raises it at start-up, since every
// connection holds one (and a file being sent another).
#pragma once

#include <cstdint>
#include <optional>

namespace quenloft {

// Below the hard limit, the soft limit is set to the hard one, or to 65536 when that is less.
void RaiseDescriptorLimit();
// The soft limit in force; none when it cannot be read.
std::optional<int64_t> DescriptorLimit();

} // namespace quenloft
