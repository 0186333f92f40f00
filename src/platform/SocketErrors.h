// The socket error table: every socket error number with its fixed text and the errno
// values of the same condition. One list feeds both SocketErrorCode (errno to number, here)
// and SocketErrorText (number to text, in the socket service), so they never disagree.
#pragma once

#include <cerrno>
#include <cstdint>

// X(number, text, errno values...): a text of nullptr means the table has none for the
// number ("Unknown error."); a row without errno values is reported only by the socket
// service or the resolver.
#define QUENLOFT_SOCKET_ERRORS(X)                                                                  \
    X(10004, "Interrupted function call.", EINTR)                                                  \
    X(10013, "Permission denied.", EACCES, EPERM)                                                  \
    X(10014, "Bad address.", EFAULT)                                                               \
    X(10022, "Invalid argument.", EINVAL)                                                          \
    X(10024, "Too many open files.", EMFILE, ENFILE)                                               \
    X(10035, "Resource temporarily unavailable.", EAGAIN)                                          \
    X(10036, "Operation now in progress.", EINPROGRESS)                                            \
    X(10037, "Operation already in progress.", EALREADY)                                           \
    X(10038, "Socket operation on nonsocket.", ENOTSOCK, EBADF)                                    \
    X(10039, "Destination address required.", EDESTADDRREQ)                                        \
    X(10040, "Message too long.", EMSGSIZE)                                                        \
    X(10041, "Protocol wrong type for socket.", EPROTOTYPE)                                        \
    X(10042, "Bad protocol option.", ENOPROTOOPT)                                                  \
    X(10043, "Protocol not supported.", EPROTONOSUPPORT)                                           \
    X(10044, "Socket type not supported.", ESOCKTNOSUPPORT)                                        \
    X(10045, "Operation not supported.", EOPNOTSUPP)                                               \
    X(10046, "Protocol family not supported.", EPFNOSUPPORT)                                       \
    X(10047, "Address family not supported by protocol family.", EAFNOSUPPORT)                     \
    X(10048, "Address already in use.", EADDRINUSE)                                                \
    X(10049, "Cannot assign requested address.", EADDRNOTAVAIL)                                    \
    X(10050, "Network is down.", ENETDOWN)                                                         \
    X(10051, "Network is unreachable.", ENETUNREACH)                                               \
    X(10052, "Network dropped connection on reset.", ENETRESET)                                    \
    X(10053, "Software caused connection abort.", ECONNABORTED)                                    \
    X(10054, "Connection reset by peer.", ECONNRESET)                                              \
    X(10055, "No buffer space available.", ENOBUFS, ENOMEM)                                        \
    X(10056, "Socket is already connected.", EISCONN)                                              \
    X(10057, "Socket is not connected.", ENOTCONN)                                                 \
    X(10058, "Cannot send after socket shutdown.", EPIPE, ESHUTDOWN)                               \
    X(10059, nullptr, ETOOMANYREFS)                                                                \
    X(10060, "Connection timed out.", ETIMEDOUT)                                                   \
    X(10061, "Connection refused.", ECONNREFUSED)                                                  \
    X(10062, nullptr, ELOOP)                                                                       \
    X(10063, nullptr, ENAMETOOLONG)                                                                \
    X(10064, "Host is down.", EHOSTDOWN)                                                           \
    X(10065, "No route to host.", EHOSTUNREACH)                                                    \
    X(10066, nullptr, ENOTEMPTY)                                                                   \
    X(10067, "Too many processes.")                                                                \
    X(10068, nullptr, EUSERS)                                                                      \
    X(10069, nullptr, EDQUOT)                                                                      \
    X(10070, nullptr, ESTALE)                                                                      \
    X(10071, nullptr, EREMOTE)                                                                     \
    X(10091, "Network subsystem is unavailable.")                                                  \
    X(10092, "Winsock.dll version out of range.")                                                  \
    X(10093, "Successful WSAStartup not yet performed.")                                           \
    X(10101, "Graceful shutdown in progress.")                                                     \
    X(10107, "System call failure.")                                                               \
    X(10109, "Class type not found.")                                                              \
    X(11001, "Host not found.")                                                                    \
    X(11002, "Nonauthoritative host not found.")                                                   \
    X(11003, "This is a nonrecoverable error.")                                                    \
    X(11004, "Valid name, no data record of requested type.")

namespace quenloft {

// The socket error number of an errno value: the number of the same condition in the
// table (EADDRINUSE gives 10048); other values keep their number.
int32_t SocketErrorCode(int errnoValue);

} // namespace quenloft
