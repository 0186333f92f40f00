#include "store/clsSettings.h"

#include "base/AsciiCase.h"
#include "base/Error.h"
#include "base/TextHelpers.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quenloft {

namespace {

// A text's length is stored in 16 bits; a longer text cannot be written at all.
constexpr size_t MaxTextLength = 0xFFFF;
// Arrays inside arrays are bounded so that no file can exhaust the stack.
constexpr int MaxNesting = 32;

// ---- writing ----

// A value the format has no room for; Encode names the variable that holds it.
struct NotStorable {
    const char* What;
};

template <typename T>
void Put(std::string& out, T value) {
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    out.append(raw, sizeof(T));
}

void PutText(std::string& out, std::string_view text) {
    if (text.size() > MaxTextLength) {
        throw NotStorable{"a text longer than 65535 bytes"};
    }
    Put<uint16_t>(out, static_cast<uint16_t>(text.size()));
    out.append(text);
}

void PutValue(std::string& out, const Variant& v) {
    Put<uint16_t>(out, static_cast<uint16_t>(v.Type()));
    switch (v.Type()) {
    case VarType::Empty:
        return;
    case VarType::String:
        PutText(out, v.Text());
        return;
    case VarType::Array:
        Put<uint16_t>(out, 1);
        Put<int32_t>(out, static_cast<int32_t>(v.Items().size()));
        Put<int32_t>(out, v.LowerBound());
        for (const Variant& item : v.Items()) {
            PutValue(out, item);
        }
        return;
    case VarType::ByteArray:
        throw NotStorable{"the file format has no byte arrays"};
    default:
        out.append(v.Image());
        return;
    }
}

// ---- reading ----

// Reads a store image; every read is checked against the end, so no length in the file
// can make it read or allocate past what the file holds.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    bool AtEnd() const { return pos_ == bytes_.size(); }
    size_t Size() const { return bytes_.size(); }

    template <typename T>
    T Get() {
        std::string_view raw = Take(sizeof(T));
        T value;
        std::memcpy(&value, raw.data(), sizeof(T));
        return value;
    }

    std::string_view Take(size_t n) {
        if (n > bytes_.size() - pos_) {
            throw Malformed();
        }
        std::string_view part = bytes_.substr(pos_, n);
        pos_ += n;
        return part;
    }

    std::string GetText() { return std::string(Take(Get<uint16_t>())); }

    Variant GetValue(int depth) {
        uint16_t tag = Get<uint16_t>();
        switch (static_cast<VarType>(tag)) {
        case VarType::Empty:
            return Variant();
        case VarType::Integer:
        case VarType::Boolean:
            return Variant::FromImage(static_cast<VarType>(tag), Take(2));
        case VarType::Long:
        case VarType::Single:
        case VarType::Error:
            return Variant::FromImage(static_cast<VarType>(tag), Take(4));
        case VarType::Double:
        case VarType::Currency:
        case VarType::Date:
            return Variant::FromImage(static_cast<VarType>(tag), Take(8));
        case VarType::Byte:
            return Variant::FromImage(VarType::Byte, Take(1));
        case VarType::String:
            return Variant(GetText());
        case VarType::Array:
            return GetArray(depth);
        default:
            throw Malformed();
        }
    }

    static Error Malformed() { return Error(ErrTypeMismatch, "Malformed store file"); }

private:
    int32_t GetCount() {
        if (Get<uint16_t>() != 1) {
            throw Malformed();
        }
        int32_t count = Get<int32_t>();
        // Every element takes at least its 2-byte tag.
        if (count < 0 || size_t(count) > (bytes_.size() - pos_) / 2 + 4) {
            throw Malformed();
        }
        return count;
    }

    Variant GetArray(int depth) {
        if (depth >= MaxNesting) {
            throw Malformed();
        }
        int32_t count = GetCount();
        int32_t lowerBound = Get<int32_t>();
        // No room is set aside for the announced count: arrays nested in the first element
        // could each announce as many elements as the rest of the file, together far more.
        std::vector<Variant> items;
        for (int32_t i = 0; i < count; ++i) {
            items.push_back(GetValue(depth + 1));
        }
        return Variant::Array(std::move(items), lowerBound);
    }

    std::string_view bytes_;
    size_t pos_ = 0;
};

} // namespace

int32_t clsSettings::FindIndex(const Variant& index) const {
    // Most lookups are by a variable's name that does not read as a number, and so cannot be
    // a position (letter case never changes whether a text reads as a number).
    if (index.IsText()) {
        auto found = positions_.find(index.Text());
        if (found != positions_.end() && !found->second.Numeric) {
            return found->second.Position;
        }
    }
    if (index.IsNumeric()) {
        double position = index.ToDouble();
        if (position >= 0 && position < VariableCount()) {
            int32_t p = index.ToLong();
            if (p < VariableCount()) {
                return p;
            }
        }
    }
    if (index.IsArray() || index.Type() == VarType::ByteArray) {
        return -1;
    }
    return index.IsText() ? PositionOf(index.Text()) : PositionOf(index.ToText());
}

size_t clsSettings::NameHash::operator()(std::string_view name) const {
    size_t hash = 14695981039346656037u; // FNV-1a
    for (char c : name) {
        hash = (hash ^ static_cast<unsigned char>(LowerAscii(c))) * 1099511628211u;
    }
    return hash;
}

bool clsSettings::NameEqual::operator()(std::string_view a, std::string_view b) const {
    return a == b || EqualsIgnoringCase(a, b); // callers mostly spell a name as it is stored
}

int32_t clsSettings::PositionOf(std::string_view name) const {
    auto found = positions_.find(name);
    return found == positions_.end() ? -1 : found->second.Position;
}

void clsSettings::Index(const std::string& name, int32_t position) {
    positions_.try_emplace(name, NamePlace{position, Variant(name).IsNumeric()});
}

void clsSettings::Reindex() {
    positions_.clear();
    for (size_t i = 0; i < variables_.size(); ++i) {
        Index(variables_[i].Name, static_cast<int32_t>(i));
    }
}

Variant clsSettings::VariableValue(const Variant& index,
                                   const std::optional<Variant>& fallback) const {
    int32_t p = FindIndex(index);
    if (p >= 0) {
        return variables_[size_t(p)].Value;
    }
    return fallback.value_or(Variant());
}

void clsSettings::SetVariableValue(const Variant& index, const Variant& newValue) {
    int32_t p = FindIndex(index);
    if (p >= 0) {
        variables_[size_t(p)].Value = newValue;
    } else {
        CreateVariable(index.ToText(), newValue);
    }
}

Variant clsSettings::VariableName(const Variant& index) const {
    int32_t p = FindIndex(index);
    return p >= 0 ? Variant(variables_[size_t(p)].Name) : Variant();
}

void clsSettings::SetVariableName(const Variant& index, const Variant& newValue) {
    int32_t p = FindIndex(index);
    if (p >= 0) {
        variables_[size_t(p)].Name = newValue.ToText();
        Reindex();
    } else {
        CreateVariable(index.ToText(), Variant::ErrorCode(MissingArgumentCode));
    }
}

void clsSettings::IncreseVariable(const Variant& index, const Variant& value) {
    int32_t p = FindIndex(index);
    if (p >= 0) {
        Variant& old = variables_[size_t(p)].Value;
        old = old + value;
    } else {
        // An absent counter starts from its first increase.
        CreateVariable(index.ToText(), Variant() + value);
    }
}

int32_t clsSettings::CreateVariable(const std::string& name, const Variant& value) {
    if (name.empty() || Variant(name).IsNumeric()) {
        return -1;
    }
    variables_.push_back({name, value});
    Index(name, VariableCount() - 1);
    return 0;
}

void clsSettings::DestroyVariable(const Variant& index) {
    int32_t p = FindIndex(index);
    if (p >= 0) {
        variables_.erase(variables_.begin() + p);
        Reindex(); // the later variables moved up
    }
}

std::string clsSettings::Encode() const {
    std::string out;
    Put<int32_t>(out, VariableCount());
    for (const VariableEntry& entry : variables_) {
        try {
            PutText(out, entry.Name);
            PutValue(out, entry.Value);
        } catch (const NotStorable& reason) {
            throw Error(ErrOverflow,
                        "The variable \"" + ShortenText(entry.Name, 40) +
                            "\" cannot be saved: " + reason.What,
                        "clsSettings.SaveData");
        }
    }
    return out;
}

clsSettings clsSettings::Decode(std::string_view bytes) {
    Reader reader(bytes);
    if (reader.AtEnd()) {
        return clsSettings(); // an empty file holds no variables
    }
    int32_t count = reader.Get<int32_t>();
    // Records missing at the end of a short file load empty; a count beyond what the
    // file's length could ever justify is malformed.
    if (count < 0 || size_t(count) > reader.Size()) {
        throw Reader::Malformed();
    }
    clsSettings store;
    store.variables_.reserve(size_t(count));
    for (int32_t i = 0; i < count; ++i) {
        if (reader.AtEnd()) {
            store.variables_.push_back({});
            continue;
        }
        std::string name = reader.GetText();
        Variant value = reader.GetValue(0);
        store.variables_.push_back({std::move(name), std::move(value)});
    }
    store.Reindex();
    return store;
}

void clsSettings::SaveData(const std::string& file) const {
    files::CreateFolders(GetFolder(file));
    files::ReplaceAtomically(file, Encode(), "clsSettings.SaveData");
}

void clsSettings::LoadData(const std::string& file) {
    if (!files::FileExists(file)) {
        return;
    }
    std::string bytes = files::ReadAll(file, "clsSettings.LoadData");
    try {
        *this = Decode(bytes);
    } catch (const Error&) {
        // Keep the damaged file for the user instead of letting the next save replace it.
        variables_.clear();
        positions_.clear();
        std::string kept = file + ".bad";
        if (std::rename(file.c_str(), kept.c_str()) != 0) {
            files::RaiseFileError(errno, "clsSettings.LoadData");
        }
    }
}

} // namespace quenloft
