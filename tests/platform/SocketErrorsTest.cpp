// The socket error table's errno side: errno values become the numbers of the same
// condition.
#include "platform/SocketErrors.h"

#include <cstring>
#include <gtest/gtest.h>

namespace quenloft {
namespace {

TEST(SocketErrorCodeTest, ErrnoValuesBecomeTheCodesOfTheSameCondition) {
    const std::pair<int, int32_t> rows[] = {
        {EADDRINUSE, 10048}, {ECONNREFUSED, 10061}, {EAGAIN, 10035},    {ECONNRESET, 10054},
        {EPIPE, 10058},      {ENOTSOCK, 10038},     {EBADF, 10038},     {EADDRNOTAVAIL, 10049},
        {EMFILE, 10024},     {EINPROGRESS, 10036},  {ETIMEDOUT, 10060}, {EHOSTUNREACH, 10065},
        {EMSGSIZE, 10040},   {EACCES, 10013},       {EIO, EIO},
    };
    for (const auto& [err, code] : rows) {
        EXPECT_EQ(SocketErrorCode(err), code) << strerror(err);
    }
}

} // namespace
} // namespace quenloft
