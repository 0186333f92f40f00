// The ordered list of header lines (name and value) of one request or one response.
#pragma once

#include "base/Variant.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenloft {

struct MimeEntry {
    std::string Name;
    std::string Value;
};

class clsMIME {
public:
    // Every entry as "Name: Value" and CR LF, in the order added.
    std::string ToString() const;
    int32_t MimeLowerCount() const { return 0; }
    int32_t MimeUpperCount() const { return static_cast<int32_t>(mimes_.size()) - 1; }

    // Index is a position (a number, or a text that reads as one) or a name, matched
    // without regard to case. A missing entry reads as empty text and is never added by
    // a write; a position past the end fails with 9 "Subscript out of range".
    std::string MimeName(const Variant& index) const;
    void SetMimeName(const Variant& index, const std::string& newValue);
    std::string MimeValue(const Variant& index) const;
    void SetMimeValue(const Variant& index, const std::string& newValue);

    void Add(std::string sName, std::string sValue);
    void Remove(const Variant& index);

private:
    // The position `index` selects, or -1.
    int32_t MimeIndex(const Variant& index) const;
    // The entry `index` selects, or none.
    const MimeEntry* Find(const Variant& index) const;

    std::vector<MimeEntry> mimes_;
};

} // namespace quenloft
