#pragma once

namespace quenloft {

// Called from a catch-all in the loop: prints one line naming `where` and what was thrown
// (its what() where it has one) to standard error, so the loop can go on without losing
// the trace.
void ReportLoopFailure(const char* where) noexcept;

} // namespace quenloft
