// base_types.cc: the constant table of the 19 base types that images refer to by row.
#include "dr/text/text.h"
#include "dr/typelib/image.h"

namespace {

constexpr DrBaseType kBaseTypes[dr::kBaseTypeCount] = {
    {"union", "union", "st", "", DR_TYPE_UNION, 0, 0},
    {"struct", "struct", "st", "", DR_TYPE_STRUCT, 0, 0},
    {"char", "char", "c", "sz", DR_TYPE_CHAR, 1, 0},
    {"uchar", "unsigned char", "b", "sz", DR_TYPE_UCHAR, 1, 0},
    {"short", "short", "n", "", DR_TYPE_SHORT, 2, 1},
    {"ushort", "unsigned short", "w", "", DR_TYPE_USHORT, 2, 1},
    {"int", "int", "i", "", DR_TYPE_INT, 4, 1},
    {"uint", "unsigned int", "dw", "", DR_TYPE_UINT, 4, 1},
    {"long", "long", "l", "", DR_TYPE_INT, 4, 1},          // encoded and rendered as int
    {"ulong", "unsigned long", "ul", "", DR_TYPE_UINT, 4, 1},  // encoded and rendered as uint
    {"longlong", "longlong", "ll", "", DR_TYPE_LONGLONG, 8, 1},
    {"ulonglong", "ulonglong", "ull", "", DR_TYPE_ULONGLONG, 8, 1},
    {"date", "int", "t", "", DR_TYPE_DATE, 4, 1},
    {"time", "int", "t", "", DR_TYPE_TIME, 4, 1},
    {"datetime", "int", "t", "", DR_TYPE_DATETIME, 4, 1},
    {"money", "int", "m", "", DR_TYPE_MONEY, 4, 1},
    {"float", "float", "f", "", DR_TYPE_FLOAT, 4, 1},
    {"double", "double", "d", "", DR_TYPE_DOUBLE, 8, 1},
    {"string", "char", "sz", "sz", DR_TYPE_STRING, 1, 0},
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
