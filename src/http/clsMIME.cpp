// Header lines kept in the order they were added; see clsMIME.h.
#include "http/clsMIME.h"

#include "base/AsciiCase.h"
#include "base/Error.h"

namespace quenloft {

std::string clsMIME::ToString() const {
    size_t size = 0;
    for (const MimeEntry& entry : mimes_) {
        size += entry.Name.size() + entry.Value.size() + 4;
    }
    std::string out;
    out.reserve(size);
    for (const MimeEntry& entry : mimes_) {
        out.append(entry.Name).append(": ").append(entry.Value).append("\r\n");
    }
    return out;
}

int32_t clsMIME::MimeIndex(const Variant& index) const {
    if (index.IsNumeric()) {
        return index.ToLong();
    }
    std::string name = index.ToText();
    for (size_t i = 0; i < mimes_.size(); ++i) {
        if (EqualsIgnoringCase(mimes_[i].Name, name)) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

const MimeEntry* clsMIME::Find(const Variant& index) const {
    int32_t position = MimeIndex(index);
    if (position < 0) {
        return nullptr;
    }
    if (position > MimeUpperCount()) {
        throw Error::Runtime(ErrSubscript, "clsMIME");
    }
    return &mimes_[static_cast<size_t>(position)];
}

std::string clsMIME::MimeName(const Variant& index) const {
    const MimeEntry* entry = Find(index);
    return entry ? entry->Name : std::string();
}

void clsMIME::SetMimeName(const Variant& index, const std::string& newValue) {
    if (auto* entry = const_cast<MimeEntry*>(Find(index))) {
        entry->Name = newValue;
    }
}

std::string clsMIME::MimeValue(const Variant& index) const {
    const MimeEntry* entry = Find(index);
    return entry ? entry->Value : std::string();
}

void clsMIME::SetMimeValue(const Variant& index, const std::string& newValue) {
    if (auto* entry = const_cast<MimeEntry*>(Find(index))) {
        entry->Value = newValue;
    }
}

void clsMIME::Add(std::string sName, std::string sValue) {
    if (mimes_.empty()) {
        mimes_.reserve(8); // a response head has five lines, a request head a few
    }
    mimes_.push_back({std::move(sName), std::move(sValue)});
}

void clsMIME::Remove(const Variant& index) {
    if (const MimeEntry* entry = Find(index)) {
        mimes_.erase(mimes_.begin() + (entry - mimes_.data()));
    }
}

} // namespace quenloft
