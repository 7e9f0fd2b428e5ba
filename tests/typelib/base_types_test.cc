// Base type table: lookups by name and code, and the rows that break the pattern.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "dr/dr.h"

namespace {

TEST(BaseTypes, ByNameIgnoresCaseAndSearchesNamesOnly) {
    EXPECT_EQ(dr_type_by_name("INT"), 6);
    EXPECT_EQ(dr_type_by_name("Int"), 6);
    EXPECT_EQ(dr_type_by_name("int"), 6);
    EXPECT_EQ(dr_type_by_name("long"), 8);
    EXPECT_EQ(dr_type_by_name("union"), 0);
    EXPECT_EQ(dr_type_by_name("STRING"), 18);
    EXPECT_EQ(dr_type_by_name("unsigned int"), -1);
    EXPECT_EQ(dr_type_by_name(""), -1);
    EXPECT_EQ(dr_type_by_name("in"), -1);
    EXPECT_EQ(dr_type_by_name("intx"), -1);
}

TEST(BaseTypes, ByCodeMapsLongBackToInt) {
    EXPECT_EQ(dr_type_by_code(6), 6);
    EXPECT_EQ(dr_type_by_code(7), 7);
    EXPECT_EQ(dr_type_by_code(8), -1);
    EXPECT_EQ(dr_type_by_code(9), -1);
    EXPECT_EQ(dr_type_by_code(18), 18);
    EXPECT_EQ(dr_type_by_code(19), -1);
    EXPECT_EQ(dr_type_by_code(-1), -1);
}

TEST(BaseTypes, RowOutsideTheTableIsNoRow) {
    for (int row : {-1, DR_BASE_TYPE_COUNT, 25, INT_MIN, INT_MAX}) EXPECT_EQ(dr_type_at(row), nullptr) << row;
    EXPECT_NE(dr_type_at(DR_BASE_TYPE_COUNT - 1), nullptr);
}

TEST(BaseTypes, RowsThatBreakThePattern) {
    const DrBaseType *s = dr_type_at(18);
    EXPECT_STREQ(s->name, "string");
    EXPECT_STREQ(s->cname, "char");
    EXPECT_STREQ(s->prefix, "sz");
    EXPECT_STREQ(s->arrprefix, "sz");
    EXPECT_EQ(dr_type_at(8)->code, 6);
    EXPECT_EQ(dr_type_at(9)->code, 7);
    EXPECT_STREQ(dr_type_at(10)->cname, "longlong");
    EXPECT_STREQ(dr_type_at(11)->cname, "ulonglong");
    EXPECT_STREQ(dr_type_at(15)->cname, "int");
    EXPECT_STREQ(dr_type_at(0)->prefix, dr_type_at(1)->prefix);
    for (int i = 0; i < 19; ++i) {
        const DrBaseType *t = dr_type_at(i);
        EXPECT_EQ(t->byteorder, t->size >= 2 && i != 18 ? 1 : 0) << t->name;
        if (i != 8 && i != 9) {
            EXPECT_EQ(t->code, i) << t->name;
        }
    }
}

}  // namespace
