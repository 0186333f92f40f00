#include "platform/LoopFailure.h"

#include <cstdio>
#include <exception>

namespace quenloft {

void ReportLoopFailure(const char* where) noexcept {
    const char* what = "an exception that is not a std::exception";
    try {
        throw;
    } catch (const std::exception& failure) {
        what = failure.what();
    } catch (...) {
    }
    std::fprintf(stderr, "Quenloft: %s: %s\n", where, what);
}

} // namespace quenloft
