#include "platform/ExpiryTimer.h"

namespace quenloft {

ExpiryTimer::~ExpiryTimer() {
    if (window_ != 0) {
        ProgramLoop().DestroyWindow(window_);
    }
}

void ExpiryTimer::CallAt(Clock::time_point due) {
    auto now = Clock::now();
    if (due_ > now && due_ <= due) {
        return;
    }
    MessageLoop& loop = ProgramLoop();
    if (window_ == 0) {
        window_ = loop.CreateWindow([this](Window, uint32_t, uintptr_t, intptr_t) {
            onDue_();
            return intptr_t{0};
        });
    }
    due_ = due;
    loop.PostAfter(std::chrono::ceil<std::chrono::milliseconds>(due - now), window_, 0, 0, 0);
}

} // namespace quenloft
