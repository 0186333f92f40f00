#include "base/Error.h"

namespace quenloft {

Error::Error(int32_t number, std::string description, std::string source)
    : std::runtime_error(description), number_(number), description_(std::move(description)),
      source_(std::move(source)) {}

Error Error::WithSource(std::string source) const {
    return Error(number_, description_, std::move(source));
}

Error Error::Runtime(int32_t number, std::string source) {
    return Error(number, RuntimeErrorText(number), std::move(source));
}

std::string RuntimeErrorText(int32_t number) {
    switch (number) {
    case ErrInvalidArgument:
        return "Invalid procedure call or argument";
    case ErrOverflow:
        return "Overflow";
    case ErrSubscript:
        return "Subscript out of range";
    case ErrTypeMismatch:
        return "Type mismatch";
    case ErrInternal:
        return "Internal error";
    case ErrObjectNotSet:
        return "Object variable or With block variable not set";
    default:
        return "Application-defined or object-defined error";
    }
}

} // namespace quenloft
