// type_traits.h: what each type code stored in an entry's type_code means, in one table: the
// width of one value, what kind of value it is, and whether the text and XML renderings have a
// form for it. The base type table, the walkers and the JSON form all read it from here.
#pragma once

#include <cstdint>

#include "dr/dr.h"

namespace dr {

enum class ValueKind : uint8_t { kNone, kNested, kString, kSigned, kUnsigned, kFloat };

struct TypeTraits {
    int32_t width;   // bytes of one value (a string's: one character); 0 for union and struct
    ValueKind kind;  // kNone for a code outside the table
    bool rendered;   // the text and XML renderings have a form for it
};

// The codes run from DR_TYPE_UNION (0) to DR_TYPE_STRING, the table's rows in code order.
static_assert(DR_TYPE_UNION == 0 && DR_TYPE_STRUCT == 1 && DR_TYPE_CHAR == 2 && DR_TYPE_DOUBLE == 17);
inline constexpr int32_t kTypeCodeCount = DR_TYPE_STRING + 1;

inline constexpr TypeTraits kTypeTraits[kTypeCodeCount] = {
    /* DR_TYPE_UNION */ {0, ValueKind::kNested, false},
    /* DR_TYPE_STRUCT */ {0, ValueKind::kNested, false},
    /* DR_TYPE_CHAR */ {1, ValueKind::kSigned, true},
    /* DR_TYPE_UCHAR */ {1, ValueKind::kUnsigned, true},
    /* DR_TYPE_SHORT */ {2, ValueKind::kSigned, true},
    /* DR_TYPE_USHORT */ {2, ValueKind::kUnsigned, true},
    /* DR_TYPE_INT */ {4, ValueKind::kSigned, true},
    /* DR_TYPE_UINT */ {4, ValueKind::kUnsigned, true},
    /* DR_TYPE_LONG */ {4, ValueKind::kSigned, true},
    /* DR_TYPE_ULONG */ {4, ValueKind::kUnsigned, true},
    /* DR_TYPE_LONGLONG */ {8, ValueKind::kSigned, false},
    /* DR_TYPE_ULONGLONG */ {8, ValueKind::kUnsigned, false},
    /* DR_TYPE_DATE */ {4, ValueKind::kSigned, false},
    /* DR_TYPE_TIME */ {4, ValueKind::kSigned, false},
    /* DR_TYPE_DATETIME */ {4, ValueKind::kSigned, false},
    /* DR_TYPE_MONEY */ {4, ValueKind::kSigned, false},
    /* DR_TYPE_FLOAT */ {4, ValueKind::kFloat, true},
    /* DR_TYPE_DOUBLE */ {8, ValueKind::kFloat, true},
    /* DR_TYPE_STRING */ {1, ValueKind::kString, false},
};

// The traits of `code`; a code outside the table (as a damaged image may hold) has no width
// and no kind.
inline constexpr TypeTraits type_traits(int32_t code) {
    return code >= 0 && code < kTypeCodeCount ? kTypeTraits[code] : TypeTraits{0, ValueKind::kNone, false};
}

// A union or a struct: a member whose elements are records of a nested type.
inline constexpr bool nested_code(int32_t code) { return type_traits(code).kind == ValueKind::kNested; }

// A number (integer or floating), as opposed to a string or a nested record.
inline constexpr bool number_code(int32_t code) {
    const ValueKind k = type_traits(code).kind;
    return k == ValueKind::kSigned || k == ValueKind::kUnsigned || k == ValueKind::kFloat;
}

// The element units of the network form: 2- and 4-byte values travel big-endian, 1- and
// 8-byte values as they lie.
inline constexpr bool known_unit(int32_t unit) { return unit == 1 || unit == 2 || unit == 4 || unit == 8; }

// The width rule of count, selector and element length fields: a declared size of 2 or 4 is
// that many bytes, any other size one byte.
inline constexpr int32_t field_width(int32_t size) { return size == 2 || size == 4 ? size : 1; }

}  // namespace dr
