// The descriptors the process holds open: a test that ends with more than it began with
// has left one open.
#pragma once

#include <dirent.h>

namespace quenloft::testing {

// The entries of /proc/self/fd (the one that reading them opens included, every time).
inline int OpenDescriptors() {
    int n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) {
            ++n;
        }
        ::closedir(dir);
    }
    return n;
}

} // namespace quenloft::testing
