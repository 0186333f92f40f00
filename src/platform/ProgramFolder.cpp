#include "platform/ProgramFolder.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace quenloft {

std::string ExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string ProgramFolder() {
    std::string exe = ExecutablePath();
    if (exe.empty()) {
        return ".";
    }
    auto slash = exe.find_last_of('/');
    if (slash == 0 || slash == std::string::npos) {
        return "/";
    }
    return exe.substr(0, slash);
}

// A relative $XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
std::string UserDataFolder() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        return xdg;
    }
    if (const char* home = std::getenv("HOME"); home && *home == '/') {
        return std::string(home) + "/.local/share";
    }
    return {};
}

} // namespace quenloft
