// base_types.cc: the constant table of the 19 base types that images refer to by row.
#include "dr/typelib/image.h"

namespace {

constexpr DrBaseType kBaseTypes[dr::kBaseTypeCount] = {
    {"union", "union", "st", "", 0, 0, 0},
    {"struct", "struct", "st", "", 1, 0, 0},
    {"char", "char", "c", "sz", 2, 1, 0},
    {"uchar", "unsigned char", "b", "sz", 3, 1, 0},
    {"short", "short", "n", "", 4, 2, 1},
    {"ushort", "unsigned short", "w", "", 5, 2, 1},
    {"int", "int", "i", "", 6, 4, 1},
    {"uint", "unsigned int", "dw", "", 7, 4, 1},
    {"long", "long", "l", "", 6, 4, 1},          // encoded and rendered as int
    {"ulong", "unsigned long", "ul", "", 7, 4, 1},  // encoded and rendered as uint
    {"longlong", "longlong", "ll", "", 10, 8, 1},
    {"ulonglong", "ulonglong", "ull", "", 11, 8, 1},
    {"date", "int", "t", "", 12, 4, 1},
    {"time", "int", "t", "", 13, 4, 1},
    {"datetime", "int", "t", "", 14, 4, 1},
    {"money", "int", "m", "", 15, 4, 1},
    {"float", "float", "f", "", 16, 4, 1},
    {"double", "double", "d", "", 17, 8, 1},
    {"string", "char", "sz", "sz", 18, 1, 0},
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

extern "C" const DrBaseType *dr_type_at(int index) { return &kBaseTypes[index]; }

extern "C" int dr_type_by_code(int code) {
    for (int i = 0; i < dr::kBaseTypeCount; ++i)
        if (kBaseTypes[i].code == code) return i;
    return -1;
}
