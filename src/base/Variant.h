// The tagged value: settings, statistics and socket data are all held in it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenloft {

// Type tags; the numbers are those written to store files and used by socket reads.
enum class VarType : uint16_t {
    Empty = 0,
    Integer = 2,  // 16-bit signed
    Long = 3,     // 32-bit signed
    Single = 4,   // 32-bit float
    Double = 5,   // 64-bit float
    Currency = 6, // 64-bit integer scaled by 10000
    Date = 7,     // days since 1899-12-30, as a 64-bit float
    String = 8,   // one byte per character
    Error = 10,   // 32-bit error code
    Boolean = 11, // 16-bit, True is -1
    Byte = 17,
    Array = 0x200C,     // array of tagged values
    ByteArray = 0x2011, // array of bytes
};

// The error code that marks a missing argument.
inline constexpr int32_t MissingArgumentCode = static_cast<int32_t>(0x80020004u);

class Variant {
public:
    Variant() = default;
    Variant(int16_t v);
    Variant(int32_t v);
    Variant(double v);
    Variant(std::string v);
    Variant(std::string_view v);
    Variant(const char* v);

    static Variant Single(float v);
    static Variant Currency(int64_t scaled);
    static Variant Date(double days);
    static Variant Boolean(bool v);
    static Variant Byte(uint8_t v);
    static Variant ErrorCode(int32_t code);
    static Variant Bytes(std::string bytes);
    static Variant Array(std::vector<Variant> items, int32_t lowerBound = 0);
    // A value of `type` built from its little-endian memory image; missing bytes are zero.
    static Variant FromImage(VarType type, std::string_view bytes);

    VarType Type() const { return type_; }
    bool IsEmpty() const { return type_ == VarType::Empty; }
    bool IsArray() const { return type_ == VarType::Array; }
    bool IsText() const { return type_ == VarType::String; }
    // A kind that holds a number (Boolean and Date included).
    bool IsNumberKind() const;
    // The numeric test: a number, or a text that reads as one ("12", " 8080 ", "-1.5").
    bool IsNumeric() const;

    // Conversions; they fail with 13 "Type mismatch" or 6 "Overflow".
    std::string ToText() const;
    int16_t ToInteger() const;
    int32_t ToLong() const;
    double ToDouble() const;

    // Raw access to the data of each kind.
    const std::string& Text() const { return text_; } // String and ByteArray
    const std::vector<Variant>& Items() const { return items_; }
    std::vector<Variant>& Items() { return items_; }
    int32_t LowerBound() const { return lowerBound_; }
    int64_t RawInteger() const { return integer_; } // Integer, Long, Currency, Error, Boolean, Byte
    double RawFloat() const { return float_; }      // Single, Double, Date

    // The little-endian memory image of a number kind (empty for other kinds).
    std::string Image() const;

    // Addition that widens instead of overflowing: Integer, then Long, then Double.
    friend Variant operator+(const Variant& a, const Variant& b);
    // Numeric comparison with a number; Empty counts as 0, a non-numeric text never equals.
    bool EqualsNumber(double n) const;
    // Same kind and same data.
    friend bool operator==(const Variant& a, const Variant& b);

private:
    // A value of `type` held in the integer or the floating-point field.
    static Variant WithInteger(VarType type, int64_t value);
    static Variant WithFloat(VarType type, double value);

    VarType type_ = VarType::Empty;
    int64_t integer_ = 0;
    double float_ = 0;
    std::string text_;
    std::vector<Variant> items_;
    int32_t lowerBound_ = 0;
};

// Reads a text as a number the way the numeric test does; false when it is none.
bool ParseNumber(std::string_view text, double& out);

} // namespace quenloft
