#include "base/Variant.h"

#include "base/Error.h"
#include "base/OleDate.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace quenloft {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The integer kinds in widening order; every other number kind ranks above them.
int Rank(VarType t) {
    switch (t) {
    case VarType::Byte:
        return 1;
    case VarType::Integer:
        return 2;
    case VarType::Long:
        return 3;
    case VarType::Single:
        return 4;
    case VarType::Double:
        return 5;
    case VarType::Currency:
        return 6;
    case VarType::Date:
        return 7;
    default:
        return 0;
    }
}

// The kind a value takes part in arithmetic as.
VarType ArithmeticKind(const Variant& v) {
    switch (v.Type()) {
    case VarType::Empty:
    case VarType::Boolean:
        return VarType::Integer;
    case VarType::String:
        if (!v.IsNumeric()) {
            throw Error::Runtime(ErrTypeMismatch);
        }
        return VarType::Double;
    default:
        if (Rank(v.Type()) == 0) {
            throw Error::Runtime(ErrTypeMismatch);
        }
        return v.Type();
    }
}

// The narrowest integer kind, from `start` upwards, that holds n; Double when none does.
Variant WidenedInteger(int64_t n, VarType start) {
    if (start == VarType::Byte && n >= 0 && n <= 255) {
        return Variant::Byte(static_cast<uint8_t>(n));
    }
    if (Rank(start) <= Rank(VarType::Integer) && n >= INT16_MIN && n <= INT16_MAX) {
        return Variant(static_cast<int16_t>(n));
    }
    if (n >= INT32_MIN && n <= INT32_MAX) {
        return Variant(static_cast<int32_t>(n));
    }
    return Variant(static_cast<double>(n));
}

template <typename T>
T RoundedInto(double d) {
    double r = std::nearbyint(d); // the default rounding mode rounds half to even
    if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
          r <= static_cast<double>(std::numeric_limits<T>::max()))) {
        throw Error::Runtime(ErrOverflow);
    }
    return static_cast<T>(r);
}

// A number with at most `digits` significant digits: 15 for a Double, 7 for a Single (whose
// value held as a double would otherwise show digits the Single never had).
std::string NumberText(double d, int digits) {
    if (d == 0) {
        return "0";
    }
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, digits);
    std::string s(buf, res.ptr);
    // Trim trailing zeros of a fraction and write exponents as E+NN.
    auto e = s.find('e');
    std::string mantissa = s.substr(0, e);
    if (mantissa.find('.') != std::string::npos) {
        while (mantissa.back() == '0') {
            mantissa.pop_back();
        }
        if (mantissa.back() == '.') {
            mantissa.pop_back();
        }
    }
    if (e == std::string::npos) {
        return mantissa;
    }
    return mantissa + "E" + s.substr(e + 1);
}

template <typename T>
std::string ImageOf(T value) {
    std::string out(sizeof(T), '\0');
    std::memcpy(out.data(), &value,
                sizeof(T)); // x86-64 and every Linux target here is little-endian
    static_assert(std::endian::native == std::endian::little);
    return out;
}

template <typename T>
T ValueOfImage(std::string_view bytes) {
    unsigned char raw[sizeof(T)] = {};
    std::memcpy(raw, bytes.data(), std::min(bytes.size(), sizeof(T)));
    T value;
    std::memcpy(&value, raw, sizeof(T));
    return value;
}

} // namespace

bool ParseNumber(std::string_view text, double& out) {
    size_t b = 0, e = text.size();
    while (b < e && IsSpace(text[b])) {
        ++b;
    }
    while (e > b && IsSpace(text[e - 1])) {
        --e;
    }
    std::string_view t = text.substr(b, e - b);
    if (t.empty()) {
        return false;
    }
    bool negative = false;
    if (t.front() == '+' || t.front() == '-') {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    // Only sign, digits, one point and an exponent make a number.
    size_t i = 0, digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        ++i, ++digits;
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            ++i, ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) {
            ++j;
        }
        size_t expDigits = 0;
        while (j < t.size() && t[j] >= '0' && t[j] <= '9') {
            ++j, ++expDigits;
        }
        if (expDigits == 0) {
            return false;
        }
        i = j;
    }
    if (i != t.size()) {
        return false;
    }
    double value = 0;
    auto res = std::from_chars(t.data(), t.data() + t.size(), value);
    if (res.ec != std::errc() || res.ptr != t.data() + t.size()) {
        return false; // out of range
    }
    out = negative ? -value : value;
    return true;
}

Variant::Variant(int16_t v) : type_(VarType::Integer), integer_(v) {}
Variant::Variant(int32_t v) : type_(VarType::Long), integer_(v) {}
Variant::Variant(double v) : type_(VarType::Double), float_(v) {}
Variant::Variant(std::string v) : type_(VarType::String), text_(std::move(v)) {}
Variant::Variant(std::string_view v) : type_(VarType::String), text_(v) {}
Variant::Variant(const char* v) : type_(VarType::String), text_(v) {}

Variant Variant::WithInteger(VarType type, int64_t value) {
    Variant r;
    r.type_ = type;
    r.integer_ = value;
    return r;
}

Variant Variant::WithFloat(VarType type, double value) {
    Variant r;
    r.type_ = type;
    r.float_ = value;
    return r;
}

Variant Variant::Single(float v) {
    return WithFloat(VarType::Single, v);
}

Variant Variant::Currency(int64_t scaled) {
    return WithInteger(VarType::Currency, scaled);
}

Variant Variant::Date(double days) {
    return WithFloat(VarType::Date, days);
}

Variant Variant::Boolean(bool v) {
    return WithInteger(VarType::Boolean, v ? -1 : 0);
}

Variant Variant::Byte(uint8_t v) {
    return WithInteger(VarType::Byte, v);
}

Variant Variant::ErrorCode(int32_t code) {
    return WithInteger(VarType::Error, code);
}

Variant Variant::Bytes(std::string bytes) {
    Variant r;
    r.type_ = VarType::ByteArray;
    r.text_ = std::move(bytes);
    return r;
}

Variant Variant::Array(std::vector<Variant> items, int32_t lowerBound) {
    Variant r;
    r.type_ = VarType::Array;
    r.items_ = std::move(items);
    r.lowerBound_ = lowerBound;
    return r;
}

Variant Variant::FromImage(VarType type, std::string_view bytes) {
    switch (type) {
    case VarType::Integer:
        return Variant(ValueOfImage<int16_t>(bytes));
    case VarType::Long:
        return Variant(ValueOfImage<int32_t>(bytes));
    case VarType::Single:
        return Single(ValueOfImage<float>(bytes));
    case VarType::Double:
        return Variant(ValueOfImage<double>(bytes));
    case VarType::Currency:
        return Currency(ValueOfImage<int64_t>(bytes));
    case VarType::Date:
        return Date(ValueOfImage<double>(bytes));
    case VarType::Error:
        return ErrorCode(ValueOfImage<int32_t>(bytes));
    case VarType::Boolean: {
        Variant r;
        r.type_ = VarType::Boolean;
        r.integer_ = ValueOfImage<int16_t>(bytes);
        return r;
    }
    case VarType::Byte:
        return Byte(ValueOfImage<uint8_t>(bytes));
    case VarType::String:
        return Variant(std::string(bytes));
    case VarType::ByteArray:
        return Bytes(std::string(bytes));
    default:
        return Variant();
    }
}

std::string Variant::Image() const {
    switch (type_) {
    case VarType::Integer:
    case VarType::Boolean:
        return ImageOf(static_cast<int16_t>(integer_));
    case VarType::Long:
    case VarType::Error:
        return ImageOf(static_cast<int32_t>(integer_));
    case VarType::Single:
        return ImageOf(static_cast<float>(float_));
    case VarType::Double:
    case VarType::Date:
        return ImageOf(float_);
    case VarType::Currency:
        return ImageOf(integer_);
    case VarType::Byte:
        return ImageOf(static_cast<uint8_t>(integer_));
    default:
        return {};
    }
}

bool Variant::IsNumberKind() const {
    return Rank(type_) != 0 || type_ == VarType::Boolean;
}

bool Variant::IsNumeric() const {
    if (IsNumberKind()) {
        return true;
    }
    double ignored;
    return type_ == VarType::String && ParseNumber(text_, ignored);
}

double Variant::ToDouble() const {
    switch (type_) {
    case VarType::Empty:
        return 0;
    case VarType::Integer:
    case VarType::Long:
    case VarType::Boolean:
    case VarType::Byte:
        return static_cast<double>(integer_);
    case VarType::Currency:
        return static_cast<double>(integer_) / 10000.0;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
        return float_;
    case VarType::String: {
        double d;
        if (!ParseNumber(text_, d)) {
            throw Error::Runtime(ErrTypeMismatch);
        }
        return d;
    }
    default:
        throw Error::Runtime(ErrTypeMismatch);
    }
}

int16_t Variant::ToInteger() const {
    return RoundedInto<int16_t>(ToDouble());
}

int32_t Variant::ToLong() const {
    return RoundedInto<int32_t>(ToDouble());
}

std::string Variant::ToText() const {
    switch (type_) {
    case VarType::Empty:
        return {};
    case VarType::String:
    case VarType::ByteArray:
        return text_;
    case VarType::Integer:
    case VarType::Long:
    case VarType::Byte:
        return std::to_string(integer_);
    case VarType::Boolean:
        return integer_ ? "True" : "False";
    case VarType::Error:
        return "Error " + std::to_string(static_cast<uint32_t>(integer_));
    case VarType::Currency:
        return NumberText(static_cast<double>(integer_) / 10000.0, 15);
    case VarType::Single:
        return NumberText(float_, 7);
    case VarType::Double:
        return NumberText(float_, 15);
    case VarType::Date:
        return OleDateText(float_);
    default:
        throw Error::Runtime(ErrTypeMismatch);
    }
}

Variant operator+(const Variant& a, const Variant& b) {
    if (a.IsText() && b.IsText()) {
        return Variant(a.Text() + b.Text());
    }
    if (a.IsEmpty() && b.IsEmpty()) {
        return Variant(int16_t{0});
    }
    if (a.IsEmpty() && b.IsNumberKind()) {
        return b.Type() == VarType::Boolean ? Variant(static_cast<int16_t>(b.RawInteger())) : b;
    }
    if (b.IsEmpty() && a.IsNumberKind()) {
        return a.Type() == VarType::Boolean ? Variant(static_cast<int16_t>(a.RawInteger())) : a;
    }
    VarType ka = ArithmeticKind(a), kb = ArithmeticKind(b);
    VarType kind = Rank(ka) >= Rank(kb) ? ka : kb;
    if (kind == VarType::Date) {
        return Variant::Date(a.ToDouble() + b.ToDouble());
    }
    if (kind == VarType::Currency) {
        if (ka == VarType::Single || ka == VarType::Double || kb == VarType::Single ||
            kb == VarType::Double) {
            return Variant(a.ToDouble() + b.ToDouble());
        }
        double sum = std::round((a.ToDouble() + b.ToDouble()) * 10000.0);
        if (!(std::fabs(sum) < 9.2e18)) {
            throw Error::Runtime(ErrOverflow);
        }
        return Variant::Currency(static_cast<int64_t>(sum));
    }
    if (kind == VarType::Single) {
        double sum = a.ToDouble() + b.ToDouble();
        if (std::fabs(sum) > std::numeric_limits<float>::max()) {
            return Variant(sum);
        }
        return Variant::Single(static_cast<float>(sum));
    }
    if (kind == VarType::Double) {
        return Variant(a.ToDouble() + b.ToDouble());
    }
    return WidenedInteger(a.RawInteger() + b.RawInteger(), kind);
}

bool Variant::EqualsNumber(double n) const {
    if (IsEmpty() || IsNumberKind()) {
        return ToDouble() == n;
    }
    double d;
    return IsText() && ParseNumber(text_, d) && d == n;
}

bool operator==(const Variant& a, const Variant& b) {
    if (a.type_ != b.type_) {
        return false;
    }
    switch (a.type_) {
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
        return std::bit_cast<uint64_t>(a.float_) == std::bit_cast<uint64_t>(b.float_);
    case VarType::String:
    case VarType::ByteArray:
        return a.text_ == b.text_;
    case VarType::Array:
        return a.lowerBound_ == b.lowerBound_ && a.items_ == b.items_;
    default:
        return a.integer_ == b.integer_;
    }
}

} // namespace quenloft
