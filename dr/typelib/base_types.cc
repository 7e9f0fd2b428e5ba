// base_types.cc: the constant table of the 19 base types that images refer to by row.
#include "dr/text/text.h"
#include "dr/typelib/image.h"
#include "dr/typelib/type_traits.h"

namespace {

// A row of the table: the size and byte order of one value follow from its code.
constexpr DrBaseType row(const char *name, const char *cname, const char *prefix, const char *arrprefix, int32_t code) {
    const int32_t width = dr::type_traits(code).width;
    return {name, cname, prefix, arrprefix, code, width, dr::number_code(code) && width >= 2 ? 1 : 0};
}

constexpr DrBaseType kBaseTypes[dr::kBaseTypeCount] = {
    row("union", "union", "st", "", DR_TYPE_UNION),
    row("struct", "struct", "st", "", DR_TYPE_STRUCT),
    row("char", "char", "c", "sz", DR_TYPE_CHAR),
    row("uchar", "unsigned char", "b", "sz", DR_TYPE_UCHAR),
    row("short", "short", "n", "", DR_TYPE_SHORT),
    row("ushort", "unsigned short", "w", "", DR_TYPE_USHORT),
    row("int", "int", "i", "", DR_TYPE_INT),
    row("uint", "unsigned int", "dw", "", DR_TYPE_UINT),
    row("long", "long", "l", "", DR_TYPE_INT),          // encoded and rendered as int
    row("ulong", "unsigned long", "ul", "", DR_TYPE_UINT),  // encoded and rendered as uint
    row("longlong", "longlong", "ll", "", DR_TYPE_LONGLONG),
    row("ulonglong", "ulonglong", "ull", "", DR_TYPE_ULONGLONG),
    row("date", "int", "t", "", DR_TYPE_DATE),
    row("time", "int", "t", "", DR_TYPE_TIME),
    row("datetime", "int", "t", "", DR_TYPE_DATETIME),
    row("money", "int", "m", "", DR_TYPE_MONEY),
    row("float", "float", "f", "", DR_TYPE_FLOAT),
    row("double", "double", "d", "", DR_TYPE_DOUBLE),
    row("string", "char", "sz", "sz", DR_TYPE_STRING),
};

bool equal_ignoring_case(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b)
        if (dr::ascii_lower(*a) != dr::ascii_lower(*b)) return false;
    return *a == *b;
}

}  // namespace

extern "C" int dr_type_by_name(const char *name) {
    for (int i = 0; i < dr::kBaseTypeCount; ++i)
        if (equal_ignoring_case(kBaseTypes[i].name, name)) return i;
    return -1;
}

// Images store row numbers that nothing bounds, so a row outside the table is no row.
extern "C" const DrBaseType *dr_type_at(int index) {
    return index >= 0 && index < dr::kBaseTypeCount ? &kBaseTypes[index] : nullptr;
}

extern "C" int dr_type_by_code(int code) {
    for (int i = 0; i < dr::kBaseTypeCount; ++i)
        if (kBaseTypes[i].code == code) return i;
    return -1;
}
