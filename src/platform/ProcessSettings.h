// What is set once for the whole process before it serves. Every entry point that serves
// calls it first: the program's start-up, the headless harnesses, the benchmarks, the
// fuzzers and the tests that serve on sockets.
#pragma once

namespace quenloft {

// Sending to a peer that has gone fails with an error instead of ending the process, and
// freed memory is given back to the system only when a kept value is forgotten.
void SetProcessWide();

} // namespace quenloft
