// What the message loop watches besides sockets: descriptors that are not sockets (a file
// watch), each with a handler that the poll finding it readable calls, and timers, kept on
// one timer descriptor watched the same way.
#pragma once

#include "platform/UniqueFd.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace quenloft {

class DescriptorWatches {
public:
    // Watches in the epoll set `epollFd`; fails with std::system_error when the timer
    // descriptor cannot be had.
    explicit DescriptorWatches(int epollFd);
    DescriptorWatches(const DescriptorWatches&) = delete;
    DescriptorWatches& operator=(const DescriptorWatches&) = delete;

    // Calls `handler` from each poll that finds `fd` readable; an empty handler ends the
    // watch. False when epoll refuses the descriptor.
    bool Watch(int fd, std::function<void()> handler);
    // Runs the handler that watches `fd`; false when none does (it is then a socket).
    bool Call(int fd);
    // Runs `due` from the first poll after `delay` has passed; timers due together run in
    // the order of their times.
    void After(std::chrono::milliseconds delay, std::function<void()> due);

private:
    using Clock = std::chrono::steady_clock;

    void Arm();
    void RunDue();

    int epollFd_;
    UniqueFd timerFd_;
    std::vector<std::pair<int, std::shared_ptr<std::function<void()>>>> handlers_;
    std::multimap<Clock::time_point, std::function<void()>> timers_; // by when due
};

} // namespace quenloft
