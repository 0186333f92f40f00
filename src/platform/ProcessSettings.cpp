// Process-wide settings made at start-up; see ProcessSettings.h.
#include "platform/ProcessSettings.h"

#include <csignal>
#include <malloc.h>

namespace quenloft {

void SetProcessWide() {
    // sendfile cannot be told MSG_NOSIGNAL: without this, a client that closes early while a
    // file goes out would end the program.
    std::signal(SIGPIPE, SIG_IGN);
    // The page of a large folder takes megabytes for the length of one answer. Left to
    // itself, malloc may give them back after every page and fault them in afresh for the
    // next (hundreds of page faults a page, most of its time); they are kept instead until a
    // kept listing is forgotten, which gives them back.
    ::mallopt(M_MMAP_THRESHOLD, 16 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 32 << 20);
}

} // namespace quenloft
