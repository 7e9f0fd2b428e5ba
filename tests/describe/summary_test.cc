// Typelib summary listing: the worked example, the empty image, size texts and raw text.
#include <gtest/gtest.h>

#include <string>

#include "tests/describe/capture.h"
#include "tests/support/image_builder.h"

namespace {

using drtest::field;
using drtest::nested;
using drtest::record;

std::string summary(const DrLib *lib) {
    return drtest::capture([&](FILE *fp) { dr_print_lib_summary(fp, lib); });
}

TEST(Summary, WorkedExample) {
    drtest::Image img = drtest::build(drtest::demo_lib());
    EXPECT_EQ(summary(img.lib()),
              "\n"
              "LIB(\"demo\"): ID=7 ver=1 Metas 1/1 Macros:1/1 pad:0:\n"
              "\n"
              "Macro Name=\"MAX_POINTS\" id=16\n"
              "Meta(size=\"\") Name=\"Point\" idxType=0 id=100 entries=2 data=8.\n"
              "\tEntry:\tName=\"x\" ID=1 Desc=\"\" type=6 meta=-1 off=0 count=1\n"
              "\t\t unit=4 size=4 select=(0, 0) refer=(0, 0) target=(0, 0)\n"
              "\tEntry:\tName=\"y\" ID=2 Desc=\"\" type=6 meta=-1 off=4 count=1\n"
              "\t\t unit=4 size=4 select=(0, 0) refer=(0, 0) target=(0, 0)\n"
              "\n");
}

TEST(Summary, EmptyImage) {
    drtest::Lib lib;
    lib.name = "none";
    lib.max_macros = 4;
    lib.max_metas = 2;
    lib.padding = -1;
    drtest::Image img = drtest::build(lib);
    EXPECT_EQ(summary(img.lib()), "\nLIB(\"none\"): ID=-1 ver=0 Metas 0/2 Macros:0/4 pad:-1:\n\n\n");

    // An image made by dr_init_lib lists the same way.
    DrLibParams params{};
    params.version = 2, params.padding = 8, params.size = 4096, params.id = 3;
    params.max_macros = 5, params.max_metas = 6;
    std::snprintf(params.name, sizeof params.name, "fresh");
    std::vector<uint64_t> buf(512);
    ASSERT_EQ(dr_init_lib(buf.data(), &params), 0);
    EXPECT_EQ(summary(reinterpret_cast<const DrLib *>(buf.data())),
              "\nLIB(\"fresh\"): ID=3 ver=2 Metas 0/6 Macros:0/5 pad:8:\n\n\n");
}

TEST(Summary, SizeTextsRawNumbersAndUnescapedText) {
    drtest::Lib lib;
    lib.name = "q\"uote";
    lib.id = 9;
    lib.version = 2;
    lib.macros = {{"M", -5}};
    drtest::Meta inner = drtest::union_of("U", 4, {field("a", "int").id(-1), field("b", "short").id(3)});
    inner.sizewidth = 2;
    inner.idxtype = 7;
    drtest::Meta outer = record("S", 5,
                                {field("sel", "uchar").id(1).describe("<&\">"), nested("u", "U").select("sel"),
                                 field("n", "int"), field("v", "int", 3).refer("n").target("sel")});
    outer.sizewidth = 1;
    drtest::Meta w4 = record("W4", 6, {});
    w4.sizewidth = 4;
    drtest::Meta w8 = record("W8", 7, {});
    w8.sizewidth = 8;
    lib.metas = {inner, outer, w4, w8};
    drtest::Image img = drtest::build(lib);
    ASSERT_EQ(img.meta_offset("U"), 36 * 1 + 52 * 4);  // the first record, right after the tables
    EXPECT_EQ(summary(img.lib()),
              "\n"
              "LIB(\"q\"uote\"): ID=9 ver=2 Metas 4/4 Macros:1/1 pad:0:\n"
              "\n"
              "Macro Name=\"M\" id=-5\n"
              "Meta(size=\"ushort\") Name=\"U\" idxType=7 id=4 entries=2 data=4.\n"
              "\tEntry:\tName=\"a\" ID=-1 Desc=\"\" type=6 meta=-1 off=0 count=1\n"
              "\t\t unit=4 size=4 select=(0, 0) refer=(0, 0) target=(0, 0)\n"
              "\tEntry:\tName=\"b\" ID=3 Desc=\"\" type=4 meta=-1 off=0 count=1\n"
              "\t\t unit=2 size=2 select=(0, 0) refer=(0, 0) target=(0, 0)\n"
              "Meta(size=\"uchar\") Name=\"S\" idxType=0 id=5 entries=4 data=21.\n"
              "\tEntry:\tName=\"sel\" ID=1 Desc=\"<&\">\" type=3 meta=-1 off=0 count=1\n"
              "\t\t unit=1 size=1 select=(0, 0) refer=(0, 0) target=(0, 0)\n"
              "\tEntry:\tName=\"u\" ID=0 Desc=\"\" type=0 meta=244 off=1 count=1\n"
                  "\t\t unit=4 size=4 select=(0, 1) refer=(0, 0) target=(0, 0)\n"
                  "\tEntry:\tName=\"n\" ID=0 Desc=\"\" type=6 meta=-1 off=5 count=1\n"
                  "\t\t unit=4 size=4 select=(0, 0) refer=(0, 0) target=(0, 0)\n"
                  "\tEntry:\tName=\"v\" ID=0 Desc=\"\" type=6 meta=-1 off=9 count=3\n"
                  "\t\t unit=4 size=12 select=(0, 0) refer=(5, 4) target=(0, 1)\n"
                  "Meta(size=\"int\") Name=\"W4\" idxType=0 id=6 entries=0 data=0.\n"
                  "Meta(size=\"\") Name=\"W8\" idxType=0 id=7 entries=0 data=0.\n"
                  "\n");
}

}  // namespace
