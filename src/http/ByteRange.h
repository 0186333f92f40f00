// The one byte range a "Range" header may ask of a file: "bytes=first-last",
// "bytes=first-" or "bytes=-suffix" (a number of bytes at the end).
#pragma once

#include <cstdint>
#include <string_view>

namespace quenloft {

struct ByteRange {
    enum Verdict {
        Whole,         // the header is ignored: several ranges, another unit, malformed
        Part,          // First to Last (both included) lie in the file
        Unsatisfiable, // no byte of the file is asked for
    };
    Verdict Answer = Whole;
    int64_t First = 0;
    int64_t Last = -1;
    int64_t Length() const { return Last - First + 1; }
};

// What the value of a "Range" header asks of a file of `size` bytes. A range reaching past
// the end ends at the last byte; a suffix longer than the file is the whole file. Numbers
// too large for 64 bits stand for "more than any file holds".
ByteRange ParseRange(std::string_view value, int64_t size);

} // namespace quenloft
