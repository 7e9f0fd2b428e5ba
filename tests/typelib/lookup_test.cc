// Lookups: binary searches over the sorted tables and members by id.
#include <gtest/gtest.h>

#include "tests/support/image_builder.h"

namespace {

using drtest::field;
using drtest::record;

drtest::Lib three_types() {
    drtest::Lib lib;
    lib.name = "three";
    lib.macros = {{"B_MAX", 2}, {"A_MIN", 1}, {"C", 3}, {"AB", 12}};
    // Directory order differs from both id order and name order.
    lib.metas = {record("Mid", 50, {field("a", "int")}), record("Zed", -4, {field("b", "int")}),
                 record("Alpha", 900, {field("c", "int")})};
    return lib;
}

TEST(Lookup, MacrosFirstLastAndMisses) {
    drtest::Image img = drtest::build(three_types());
    int v = 0;
    EXPECT_EQ(dr_macro_by_name(img.lib(), "A_MIN", &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(dr_macro_by_name(img.lib(), "C", &v), 0);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(dr_macro_by_name(img.lib(), "AB", &v), 0);
    EXPECT_EQ(v, 12);
    for (const char *miss : {"A", "B", "a_min", "D", "", "AA"}) {
        v = 5;
        EXPECT_EQ(dr_macro_by_name(img.lib(), miss, &v), -1) << miss;
        EXPECT_EQ(v, -1);
    }
}

TEST(Lookup, EmptyMacroTable) {
    drtest::Lib lib = three_types();
    lib.macros.clear();
    drtest::Image img = drtest::build(lib);
    int v = 0;
    EXPECT_EQ(dr_macro_by_name(img.lib(), "C", &v), -1);
    EXPECT_EQ(v, -1);
}

TEST(Lookup, MetasByIdAndNameThroughTheDirectory) {
    drtest::Image img = drtest::build(three_types());
    const DrMeta *m = nullptr;
    ASSERT_EQ(dr_meta_by_id(img.lib(), -4, &m), 0);
    EXPECT_STREQ(m->name, "Zed");
    ASSERT_EQ(dr_meta_by_id(img.lib(), 900, &m), 0);
    EXPECT_STREQ(m->name, "Alpha");
    ASSERT_EQ(dr_meta_by_id(img.lib(), 50, &m), 0);
    EXPECT_STREQ(m->name, "Mid");
    for (int miss : {-5, 0, 49, 51, 901}) {
        m = reinterpret_cast<const DrMeta *>(&miss);
        EXPECT_EQ(dr_meta_by_id(img.lib(), miss, &m), -1);
        EXPECT_EQ(m, nullptr);
    }
    ASSERT_EQ(dr_meta_by_name(img.lib(), "Alpha", &m), 0);
    EXPECT_EQ(m->id, 900);
    ASSERT_EQ(dr_meta_by_name(img.lib(), "Zed", &m), 0);
    EXPECT_EQ(m->id, -4);
    EXPECT_EQ(dr_meta_by_name(img.lib(), "alpha", &m), -1);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(dr_meta_by_name(img.lib(), "Beta", &m), -1);
}

TEST(Lookup, MovedTablesGiveTheSameResults) {
    drtest::Lib lib = three_types();
    lib.max_macros = 6;
    lib.max_metas = 5;
    lib.layout = {.macro_off = 600, .id_index_off = 8, .name_index_off = 400, .dir_off = 200,
                  .data_off = 1000, .tail = 12};
    drtest::Image img = drtest::build(lib);
    DrLib *copy = nullptr;
    FILE *fp = tmpfile();
    ASSERT_EQ(dr_save_lib(img.lib(), fp), 0);
    ASSERT_EQ(dr_load_lib(&copy, fp), 0);  // still a sound image
    fclose(fp);
    const DrMeta *m = nullptr;
    int v = 0;
    ASSERT_EQ(dr_meta_by_id(copy, 900, &m), 0);
    EXPECT_STREQ(m->name, "Alpha");
    ASSERT_EQ(dr_meta_by_name(copy, "Zed", &m), 0);
    EXPECT_EQ(m->id, -4);
    ASSERT_EQ(dr_macro_by_name(copy, "C", &v), 0);
    EXPECT_EQ(v, 3);
    dr_free_lib(copy);
}

TEST(Lookup, EntriesLinearInStructsAndHalvedInUnions) {
    drtest::Lib lib;
    lib.metas = {record("S", 1, {field("a", "int").id(30), field("b", "int").id(10), field("c", "int").id(20)}),
                 drtest::union_of("U", 2, {field("a", "int").id(-1), field("b", "int").id(3),
                                           field("c", "int").id(8), field("d", "int").id(40)})};
    drtest::Image img = drtest::build(lib);
    int pos = 7;
    EXPECT_EQ(dr_entry_by_id(img.meta("S"), 20, &pos), 0);
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(dr_entry_by_id(img.meta("S"), 30, &pos), 0);
    EXPECT_EQ(pos, 0);
    EXPECT_EQ(dr_entry_by_id(img.meta("S"), 11, &pos), -1);
    EXPECT_EQ(pos, -1);
    for (int id : {-1, 3, 8, 40}) {
        EXPECT_EQ(dr_entry_by_id(img.meta("U"), id, &pos), 0);
        EXPECT_EQ(img.meta("U")->entries[pos].id, id);
    }
    EXPECT_EQ(dr_entry_by_id(img.meta("U"), 4, &pos), -1);
    EXPECT_EQ(pos, -1);
}

}  // namespace
