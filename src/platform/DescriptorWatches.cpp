#include "platform/DescriptorWatches.h"

#include "platform/LoopFailure.h"

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <system_error>

namespace quenloft {

DescriptorWatches::DescriptorWatches(int epollFd)
    : epollFd_(epollFd), timerFd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    if (!timerFd_.IsOpen() || !Watch(timerFd_.Get(), [this] { RunDue(); })) {
        throw std::system_error(errno, std::generic_category(), "MessageLoop");
    }
}

bool DescriptorWatches::Watch(int fd, std::function<void()> handler) {
    auto known = std::find_if(handlers_.begin(), handlers_.end(),
                              [fd](const auto& entry) { return entry.first == fd; });
    if (!handler) {
        if (known != handlers_.end()) {
            epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
            handlers_.erase(known);
        }
        return true;
    }
    auto held = std::make_shared<std::function<void()>>(std::move(handler));
    if (known != handlers_.end()) {
        known->second = std::move(held);
        return true;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
        return false;
    }
    handlers_.emplace_back(fd, std::move(held));
    return true;
}

bool DescriptorWatches::Call(int fd) {
    for (const auto& [watched, handler] : handlers_) {
        if (watched == fd) {
            std::shared_ptr<std::function<void()>> held = handler; // may end its own watch
            try {
                (*held)();
            } catch (...) {
                ReportLoopFailure("a descriptor's handler"); // nothing escapes the loop
            }
            return true;
        }
    }
    return false;
}

void DescriptorWatches::After(std::chrono::milliseconds delay, std::function<void()> due) {
    timers_.emplace(Clock::now() + delay, std::move(due));
    Arm();
}

// The timer descriptor becomes readable when the earliest timer is due.
void DescriptorWatches::Arm() {
    itimerspec when{};
    if (!timers_.empty()) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(timers_.begin()->first -
                                                                         Clock::now());
        auto ns = std::max<int64_t>(left.count(), 1); // 0 would disarm it
        when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    timerfd_settime(timerFd_.Get(), 0, &when, nullptr);
}

void DescriptorWatches::RunDue() {
    uint64_t expirations;
    [[maybe_unused]] ssize_t n = read(timerFd_.Get(), &expirations, sizeof expirations);
    auto now = Clock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
        std::function<void()> due = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        due();
    }
    Arm();
}

} // namespace quenloft
