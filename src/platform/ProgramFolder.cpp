#include "platform/ProgramFolder.h"

#include <climits>
#include <unistd.h>

namespace quenloft {

std::string ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
        return ".";
    }
    std::string exe(buf, static_cast<size_t>(n));
    auto slash = exe.find_last_of('/');
    if (slash == 0 || slash == std::string::npos) {
        return "/";
    }
    return exe.substr(0, slash);
}

} // namespace quenloft
