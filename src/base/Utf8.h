// UTF-8 as file names and text files use it: how long a sequence is, what it encodes, and
// whether a run of bytes reads as UTF-8.
#pragma once

#include <cstddef>
#include <string_view>

namespace quenloft {

// The bytes of the valid UTF-8 sequence at the front of `bytes`; 1 for a byte that begins
// none (ASCII, a stray continuation byte, an overlong form, a surrogate, a code past
// U+10FFFF, or a sequence cut short).
size_t Utf8SequenceLength(std::string_view bytes);

// The code of a valid UTF-8 sequence of one to four bytes.
char32_t Utf8Code(std::string_view sequence);

// True when `bytes` is valid UTF-8, where the last sequence may be cut short by the end
// of `bytes` (the first piece of a longer file may end inside a character).
bool IsUtf8Start(std::string_view bytes);

} // namespace quenloft
