// A small store of named values, looked up by name without regard to case, saved to
// and loaded from a file in one piece. It holds both the settings and the statistics.
#pragma once

#include "base/Variant.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quenloft {

class clsSettings {
public:
    // Index is a name (text) or a numeric position.
    Variant VariableValue(const Variant& index, const std::optional<Variant>& fallback = {}) const;
    void SetVariableValue(const Variant& index, const Variant& newValue);
    Variant VariableName(const Variant& index) const;
    void SetVariableName(const Variant& index, const Variant& newValue);
    int32_t FindIndex(const Variant& index) const;
    // Adds `value` to the variable; an absent variable is created with `value`.
    void IncreseVariable(const Variant& index, const Variant& value);
    // Appends a variable; 0, or -1 when the name is empty or numeric.
    int32_t CreateVariable(const std::string& name, const Variant& value);
    void DestroyVariable(const Variant& index);
    // Saves atomically; a failure of the file system, or a value the format cannot hold
    // (a text longer than 65535 bytes), is raised as an Error and the old file stays whole.
    void SaveData(const std::string& file) const;
    // Replaces the store with the file's contents when the file exists. A malformed
    // file loads as an empty store and is kept beside as "<file>.bad".
    void LoadData(const std::string& file);

    int32_t VariableCount() const { return static_cast<int32_t>(variables_.size()); }

    // The store's file image, and the store read back from one. Encode throws an Error
    // naming the first variable the format cannot hold; Decode one for a malformed image.
    std::string Encode() const;
    static clsSettings Decode(std::string_view bytes);

private:
    struct VariableEntry {
        std::string Name;
        Variant Value;
    };
    // Names hashed and compared without regard to case, looked up without a copy.
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view name) const;
    };
    struct NameEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };

    // Where a name is first found, and whether it reads as a number.
    struct NamePlace {
        int32_t Position;
        bool Numeric;
    };

    // The position of a name; where names repeat, the first.
    int32_t PositionOf(std::string_view name) const;
    // Adds a name unless it is indexed already (a name found before keeps its place).
    void Index(const std::string& name, int32_t position);
    // Builds the index afresh after names were changed or removed.
    void Reindex();

    std::vector<VariableEntry> variables_;
    // Every name's first position, kept in step with variables_: the server looks up a
    // counter or a setting several times per request.
    std::unordered_map<std::string, NamePlace, NameHash, NameEqual> positions_;
};

} // namespace quenloft
