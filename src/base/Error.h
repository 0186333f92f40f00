// Failures travel as exceptions that carry a number, a description and a source.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quenloft {

// Runtime error numbers used throughout the program.
enum RuntimeError : int32_t {
    ErrInvalidArgument = 5, // "Invalid procedure call or argument"
    ErrOverflow = 6,        // "Overflow"
    ErrSubscript = 9,       // "Subscript out of range"
    ErrTypeMismatch = 13,   // "Type mismatch"
    ErrInternal = 51,       // "Internal error"
    ErrObjectNotSet = 91,   // "Object variable or With block variable not set"
};

class Error : public std::runtime_error {
public:
    Error(int32_t number, std::string description, std::string source = {});

    int32_t Number() const { return number_; }
    const std::string& Description() const { return description_; }
    const std::string& Source() const { return source_; }

    // The same error, reported from another place.
    Error WithSource(std::string source) const;

    // The runtime's own errors, with their standard descriptions.
    static Error Runtime(int32_t number, std::string source = {});

private:
    int32_t number_;
    std::string description_;
    std::string source_;
};

// The text the runtime gives for its own error numbers ("Overflow" for 6).
std::string RuntimeErrorText(int32_t number);

// "Resume next": runs one step; a failing step is skipped and the caller goes on.
// Returns whether the step completed. Only the program's own Error counts as a failed
// step: anything else (out of memory, say) is no step's failure and goes on to where the
// message loop's dispatch ends.
template <typename Step>
bool ResumeNext(Step&& step) {
    try {
        step();
        return true;
    } catch (const Error&) {
        return false;
    }
}

} // namespace quenloft
