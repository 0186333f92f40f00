// Drives a message loop from a test: until a condition holds, under a watchdog, or for a
// few passes so that anything about to happen has happened.
#pragma once

#include "platform/MessageLoop.h"

#include <chrono>
#include <concepts>

namespace quenloft::testing {

// False when the watchdog time passed before `done` held.
template <std::predicate Done>
bool RunUntil(MessageLoop& loop, Done done, int watchdogMs = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(watchdogMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        loop.Wait(5);
        loop.RunOnePass();
    }
    return true;
}

template <std::predicate Done>
bool RunUntil(Done done, int watchdogMs = 5000) {
    return RunUntil(ProgramLoop(), done, watchdogMs);
}

inline void RunPasses(MessageLoop& loop, int count = 20) {
    for (int i = 0; i < count; ++i) {
        loop.Wait(5);
        loop.RunOnePass();
    }
}

inline void RunPasses(int count = 20) {
    RunPasses(ProgramLoop(), count);
}

} // namespace quenloft::testing
