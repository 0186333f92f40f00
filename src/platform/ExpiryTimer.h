// A timer of the program's loop for what is kept a while and forgotten when unasked: one
// call is due at the earliest time asked for, so a keeper of many things holds one timer,
// set again for the next to expire when it fires. For the loop's thread only.
#pragma once

#include "platform/MessageLoop.h"

#include <chrono>
#include <functional>

namespace quenloft {

class ExpiryTimer {
public:
    using Clock = std::chrono::steady_clock;

    explicit ExpiryTimer(std::function<void()> onDue) : onDue_(std::move(onDue)) {}
    ~ExpiryTimer();
    ExpiryTimer(const ExpiryTimer&) = delete;
    ExpiryTimer& operator=(const ExpiryTimer&) = delete;

    // Calls back at `due`, unless a call is due already no later than that.
    void CallAt(Clock::time_point due);

private:
    std::function<void()> onDue_;
    Window window_ = 0;
    Clock::time_point due_; // of the call asked for last; in the past once it came
};

} // namespace quenloft
