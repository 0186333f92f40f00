// The steps the headless harnesses share: the program's start-up on a data folder, the
// server started on a port, and the program's exit after the server has stopped.
#pragma once

#include "app/modMain.h"
#include "base/Error.h"
#include "http/clsHTTP.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace quenloft::bench {

inline bool ParsePort(std::string_view text, int32_t& port) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    return ec == std::errc() && end == text.data() + text.size();
}

// Start-up as the program does it, with `folder` standing for the program folder.
inline void StartProgram(const char* folder) {
    SetDataFolder(folder);
    Main();
}

// Starts the program's server; false, with the error printed, when it cannot listen.
inline bool StartServing(int32_t port) {
    try {
        gServer().StartServer(port);
    } catch (const Error& e) {
        std::printf("Error %d: %s\n", e.Number(), e.Description().c_str());
        return false;
    }
    return true;
}

inline void SayServing(const char* folder) {
    std::printf("Quenloft serving %s on port %d\n", folder, gServer().PrimarySocket()->LocalPort());
    std::fflush(stdout);
}

// Stops the server and saves both stores as the program does at exit: `status`, or 1 when
// a store cannot be written.
inline int EndProgram(int status) {
    gServer().StopServer();
    try {
        ExitProgram();
    } catch (const Error& e) {
        std::printf("Error %d: %s\n", e.Number(), e.Description().c_str());
        return 1;
    }
    return status;
}

} // namespace quenloft::bench
