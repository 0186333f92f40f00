// UTF-8 sequences; see Utf8.h.
#include "base/Utf8.h"

namespace quenloft {

namespace {

unsigned char At(std::string_view bytes, size_t i) {
    return static_cast<unsigned char>(bytes[i]);
}

// The length of the sequence a lead byte begins; 1 for ASCII and for a byte that begins
// none.
size_t LengthOfLead(unsigned char lead) {
    return lead >= 0xC2 && lead <= 0xDF   ? 2
           : lead >= 0xE0 && lead <= 0xEF ? 3
           : lead >= 0xF0 && lead <= 0xF4 ? 4
                                          : 1;
}

// The second byte's range excludes overlong forms, surrogates and codes past U+10FFFF.
bool SecondFits(unsigned char lead, unsigned char second) {
    return (lead != 0xE0 || second >= 0xA0) && (lead != 0xED || second <= 0x9F) &&
           (lead != 0xF0 || second >= 0x90) && (lead != 0xF4 || second <= 0x8F);
}

// The `count` bytes after the lead byte at the front of `bytes` could continue its sequence.
bool ContinuesWell(std::string_view bytes, size_t count) {
    for (size_t i = 1; i <= count; ++i) {
        if ((At(bytes, i) & 0xC0) != 0x80) {
            return false;
        }
    }
    return count == 0 || SecondFits(At(bytes, 0), At(bytes, 1));
}

} // namespace

size_t Utf8SequenceLength(std::string_view bytes) {
    size_t length = LengthOfLead(At(bytes, 0));
    if (length == 1 || bytes.size() < length || !ContinuesWell(bytes, length - 1)) {
        return 1;
    }
    return length;
}

char32_t Utf8Code(std::string_view sequence) {
    auto lead = At(sequence, 0);
    if (sequence.size() == 1) {
        return lead;
    }
    char32_t code = lead & (0x7F >> sequence.size());
    for (size_t i = 1; i < sequence.size(); ++i) {
        code = (code << 6) | (At(sequence, i) & 0x3F);
    }
    return code;
}

bool IsUtf8Start(std::string_view bytes) {
    for (size_t at = 0; at < bytes.size();) {
        if (At(bytes, at) < 0x80) {
            ++at;
            continue;
        }
        std::string_view rest = bytes.substr(at);
        size_t length = Utf8SequenceLength(rest);
        if (length > 1) {
            at += length;
            continue;
        }
        // Only the last sequence may be cut short, and only by the end of the bytes.
        size_t wanted = LengthOfLead(At(rest, 0));
        return wanted > 1 && rest.size() < wanted && ContinuesWell(rest, rest.size() - 1);
    }
    return true;
}

} // namespace quenloft
