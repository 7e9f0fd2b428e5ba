// values.cc: scalar values and texts in their JSON form.
#include "dr/json/values.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "dr/typelib/type_traits.h"

namespace dr::json {
namespace {

constexpr int64_t kExact = int64_t{1} << 53;  // integers beyond this do not survive a double

struct Natural {
    Kind kind;
    int32_t width;
};

// The JSON kind of a number of kind k and `width` bytes, or kNone.
Kind kind_of_width(ValueKind k, int32_t width) {
    constexpr Kind kSigned[] = {Kind::kI8, Kind::kI16, Kind::kI32, Kind::kI64};
    constexpr Kind kUnsigned[] = {Kind::kU8, Kind::kU16, Kind::kU32, Kind::kU64};
    constexpr Kind kFloat[] = {Kind::kNone, Kind::kNone, Kind::kF32, Kind::kF64};
    const int row = width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : width == 8 ? 3 : -1;
    if (row < 0) return Kind::kNone;
    switch (k) {
    case ValueKind::kSigned: return kSigned[row];
    case ValueKind::kUnsigned: return kUnsigned[row];
    case ValueKind::kFloat: return kFloat[row];
    default: return Kind::kNone;
    }
}

// The kind and width a value of this type code has by its type; kNone and 0 for strings and
// nested records.
Natural natural_kind(int32_t type_code) {
    const TypeTraits t = type_traits(type_code);
    const Kind k = number_code(type_code) ? kind_of_width(t.kind, t.width) : Kind::kNone;
    return {k, k == Kind::kNone ? 0 : t.width};
}

Kind unsigned_of_width(int32_t unit) { return kind_of_width(ValueKind::kUnsigned, unit); }

template <class T>
T load(const char *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void store(char *p, T v) {
    std::memcpy(p, &v, sizeof v);
}

template <class T>
void append_number(std::string &out, T v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

template <class F, class Bits>
void append_float(std::string &out, F v, Bits quiet_nan) {
    if (std::isfinite(v)) return append_number(out, v);
    if (std::isinf(v)) {
        out += v < 0 ? "\"-Infinity\"" : "\"Infinity\"";
        return;
    }
    const Bits bits = load<Bits>(reinterpret_cast<const char *>(&v));
    if (bits == quiet_nan) {
        out += "\"NaN\"";
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, bits, 16);
    out += "\"NaN(0x";
    out.append(buf, r.ptr);
    out += ")\"";
}

// Length of the valid UTF-8 sequence of two or more bytes at p, or 0.
size_t utf8_sequence(const unsigned char *p, size_t n) {
    const unsigned char b = p[0];
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi) return 0;
    for (size_t i = 2; i < len; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return len;
}

bool has_fraction_or_exponent(std::string_view text) { return text.find_first_of(".eE") != std::string_view::npos; }

// A JSON number (or a decimal string) that is an integer, as int64 or uint64.
struct Integer {
    bool negative;
    uint64_t magnitude;
};

const char *kNotInteger = "is not an integer of type";
const char *kOutOfRange = "is out of range for type";
const char *kNotNumber = "is not a number of type";

const char *read_integer(std::string_view text, Integer *out) {
    const char *first = text.data();
    const char *last = first + text.size();
    out->negative = !text.empty() && text[0] == '-';
    if (has_fraction_or_exponent(text)) {
        double d = 0;
        const auto r = std::from_chars(first, last, d);
        if (r.ptr != last || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range)) return kNotInteger;
        if (r.ec == std::errc::result_out_of_range) return std::fabs(d) >= 1 ? kOutOfRange : kNotInteger;
        if (d != std::trunc(d)) return kNotInteger;
        if (std::fabs(d) >= 18446744073709551616.0) return kOutOfRange;
        out->magnitude = static_cast<uint64_t>(std::fabs(d));
        return nullptr;
    }
    const char *digits = out->negative ? first + 1 : first;
    if (digits == last || *digits < '0' || *digits > '9') return kNotInteger;
    const auto r = std::from_chars(digits, last, out->magnitude);
    if (r.ec == std::errc::result_out_of_range) return kOutOfRange;
    if (r.ec != std::errc() || r.ptr != last) return kNotInteger;
    return nullptr;
}

// Stores the integer in an element of `T` when it lies in T's range.
template <class T>
const char *store_integer(const Integer &v, char *p) {
    using L = std::numeric_limits<T>;
    if (v.negative) {
        if (v.magnitude == 0) return store<T>(p, 0), nullptr;
        if (!L::is_signed || v.magnitude - 1 > static_cast<uint64_t>(L::max())) return kOutOfRange;
        store<T>(p, static_cast<T>(-static_cast<int64_t>(v.magnitude - 1) - 1));
        return nullptr;
    }
    if (v.magnitude > static_cast<uint64_t>(L::max())) return kOutOfRange;
    store<T>(p, static_cast<T>(v.magnitude));
    return nullptr;
}

template <class F, class Bits>
const char *parse_float(bool is_string, std::string_view text, char *p) {
    if (is_string) {
        F v;
        if (text == "NaN") {
            v = std::numeric_limits<F>::quiet_NaN();
        } else if (text == "Infinity" || text == "-Infinity") {
            v = text[0] == '-' ? -std::numeric_limits<F>::infinity() : std::numeric_limits<F>::infinity();
        } else if (text.size() > 7 && text.substr(0, 6) == "NaN(0x" && text.back() == ')') {
            Bits bits = 0;
            const char *first = text.data() + 6;
            const char *last = text.data() + text.size() - 1;
            const auto r = std::from_chars(first, last, bits, 16);
            std::memcpy(&v, &bits, sizeof v);
            if (r.ec != std::errc() || r.ptr != last || !std::isnan(v)) return kNotNumber;
        } else {
            return kNotNumber;
        }
        store<F>(p, v);
        return nullptr;
    }
    F v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ptr != text.data() + text.size()) return kNotNumber;
    if (r.ec == std::errc::result_out_of_range) {
        // Beyond the largest value is refused; below the smallest rounds to a signed zero.
        const double d = std::strtod(std::string(text).c_str(), nullptr);
        if (std::fabs(d) >= 1) return kOutOfRange;
        v = std::signbit(d) ? -F{0} : F{0};
    } else if (r.ec != std::errc()) {
        return kNotNumber;
    }
    store<F>(p, v);
    return nullptr;
}

}  // namespace

Kind kind_of(const DrEntry &e) {
    const Natural n = natural_kind(e.type_code);
    return n.width == e.unit ? n.kind : unsigned_of_width(e.unit);
}

std::string_view type_name(const DrEntry &e) {
    const Natural n = natural_kind(e.type_code);
    if (n.width == e.unit && n.kind != Kind::kNone) {
        if (e.type >= 0 && e.type < DR_BASE_TYPE_COUNT && dr_type_at(e.type)->code == e.type_code)
            return dr_type_at(e.type)->name;
        return dr_type_at(dr_type_by_code(e.type_code))->name;
    }
    switch (unsigned_of_width(e.unit)) {
    case Kind::kU8: return "uchar";
    case Kind::kU16: return "ushort";
    case Kind::kU32: return "uint";
    case Kind::kU64: return "ulonglong";
    default: return "scalar";
    }
}

void append_value(std::string &out, Kind k, const char *p) {
    switch (k) {
    case Kind::kI8: return append_number(out, int{load<int8_t>(p)});
    case Kind::kU8: return append_number(out, unsigned{load<uint8_t>(p)});
    case Kind::kI16: return append_number(out, load<int16_t>(p));
    case Kind::kU16: return append_number(out, load<uint16_t>(p));
    case Kind::kI32: return append_number(out, load<int32_t>(p));
    case Kind::kU32: return append_number(out, load<uint32_t>(p));
    case Kind::kI64: {
        const auto v = load<int64_t>(p);
        const bool quoted = v > kExact || v < -kExact;
        if (quoted) out += '"';
        append_number(out, v);
        if (quoted) out += '"';
        return;
    }
    case Kind::kU64: {
        const auto v = load<uint64_t>(p);
        const bool quoted = v > static_cast<uint64_t>(kExact);
        if (quoted) out += '"';
        append_number(out, v);
        if (quoted) out += '"';
        return;
    }
    case Kind::kF32: return append_float(out, load<float>(p), uint32_t{0x7FC00000});
    case Kind::kF64: return append_float(out, load<double>(p), uint64_t{0x7FF8000000000000});
    case Kind::kNone: return;
    }
}

const char *parse_value(Kind k, bool is_string, std::string_view text, char *p) {
    if (k == Kind::kF32) return parse_float<float, uint32_t>(is_string, text, p);
    if (k == Kind::kF64) return parse_float<double, uint64_t>(is_string, text, p);
    // Integers are numbers; an 8-byte one may also come as a decimal string.
    if (is_string && k != Kind::kI64 && k != Kind::kU64) return kNotNumber;
    Integer v;
    if (const char *why = read_integer(text, &v)) return why;
    switch (k) {
    case Kind::kI8: return store_integer<int8_t>(v, p);
    case Kind::kU8: return store_integer<uint8_t>(v, p);
    case Kind::kI16: return store_integer<int16_t>(v, p);
    case Kind::kU16: return store_integer<uint16_t>(v, p);
    case Kind::kI32: return store_integer<int32_t>(v, p);
    case Kind::kU32: return store_integer<uint32_t>(v, p);
    case Kind::kI64: return store_integer<int64_t>(v, p);
    case Kind::kU64: return store_integer<uint64_t>(v, p);
    default: return kNotNumber;
    }
}

void append_string(std::string &out, std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t n = bytes.size();
    out += '"';
    size_t run = 0;  // start of the bytes not yet copied
    for (size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b >= 0x20 && b != '"' && b != '\\' && b < 0x80) {
            ++i;
            continue;
        }
        if (b >= 0x80) {
            if (const size_t len = utf8_sequence(p + i, n - i)) {
                i += len;
                continue;
            }
        }
        out.append(bytes.data() + run, i - run);
        switch (b) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            // A control byte as \u00XX; a byte outside UTF-8 as the lone surrogate \udcXX.
            out += b < 0x80 ? "\\u00" : "\\udc";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
        run = ++i;
    }
    out.append(bytes.data() + run, n - run);
    out += '"';
}

bool is_text(std::string_view bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char b = p[i];
        if ((b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r') {
            ++i;
        } else if (const size_t len = b >= 0x80 ? utf8_sequence(p + i, bytes.size() - i) : 0) {
            i += len;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace dr::json
