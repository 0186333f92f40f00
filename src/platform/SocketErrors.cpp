#include "platform/SocketErrors.h"

namespace quenloft {

namespace {

template <typename... Values>
constexpr bool IsOneOf(int value, Values... candidates) {
    return ((value == candidates) || ...);
}

} // namespace

int32_t SocketErrorCode(int errnoValue) {
#define QUENLOFT_CODE_OF(number, text, ...)                                                        \
    __VA_OPT__(if (IsOneOf(errnoValue, __VA_ARGS__)) { return number; })
    QUENLOFT_SOCKET_ERRORS(QUENLOFT_CODE_OF)
#undef QUENLOFT_CODE_OF
    return errnoValue;
}

} // namespace quenloft
