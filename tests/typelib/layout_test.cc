// Image layout: the builder's output against the worked layout written out field by field,
// and dr_init_lib's header values.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/image_builder.h"

namespace {

struct Bytes {
    std::vector<uint8_t> b;
    explicit Bytes(size_t n) : b(n, 0) {}
    void i32(size_t at, int32_t v) { std::memcpy(&b[at], &v, 4); }
    void text(size_t at, const char *s) { std::memcpy(&b[at], s, std::strlen(s)); }
};

TEST(Layout, WorkedDemoImageByteForByte) {
    Bytes want(592);
    want.b[0] = 0x55, want.b[1] = 0x44, want.b[2] = 0x67, want.b[3] = 0x00;
    want.i32(4, 7);      // id
    want.i32(8, 592);    // size
    want.i32(32, 1);     // version
    want.i32(40, 1);     // max_metas
    want.i32(44, 1);     // meta_count
    want.i32(48, 1);     // max_macros
    want.i32(52, 1);     // macro_count
    want.i32(56, 480);   // free_off
    want.i32(64, 36);    // id_index_off
    want.i32(68, 44);    // name_index_off
    want.i32(72, 80);    // dir_off
    want.i32(76, 88);    // data_off
    want.text(80, "demo");
    want.text(112, "MAX_POINTS");
    want.i32(144, 16);
    want.i32(148, 100), want.i32(152, 0);          // id index
    want.text(156, "Point"), want.i32(188, 0);     // name index
    want.i32(192, 88), want.i32(196, 0);           // directory
    // DrMeta Point at image offset 200.
    want.i32(216, 100), want.i32(220, -1), want.i32(224, 8), want.i32(228, 88);
    want.i32(236, 2), want.i32(244, 1), want.i32(248, -1), want.i32(252, 1);
    want.text(256, "Point");
    for (int k = 0; k < 2; ++k) {
        const size_t e = 288 + 152 * k;
        want.i32(e + 0, k + 1);       // id
        want.i32(e + 4, -1);          // meta_off
        want.i32(e + 12, -1);         // io_macro
        want.i32(e + 16, 1);          // version
        want.i32(e + 20, -1);         // version_macro
        want.i32(e + 24, 4);          // size
        want.i32(e + 28, 4 * k);      // off
        want.i32(e + 32, 1);          // count
        want.i32(e + 36, 4);          // unit
        want.i32(e + 40, -1);         // count_macro
        want.i32(e + 44, -1);         // id_macro
        want.i32(e + 48, 6);          // type
        want.i32(e + 52, DR_TYPE_INT); // type_code
        want.text(e + 88, k == 0 ? "x" : "y");
    }
    EXPECT_EQ(drtest::build(drtest::demo_lib()).vec(), want.b);
}

TEST(Layout, MoreMacroRoomMovesEverythingAfterTheMacroTable) {
    drtest::Lib lib = drtest::demo_lib();
    lib.max_macros = 3;
    drtest::Image img = drtest::build(lib);
    EXPECT_EQ(img.size(), 592u + 72u);
    EXPECT_EQ(img.header().dir_off, 80 + 72);
    EXPECT_EQ(img.header().free_off, 480 + 72);
    EXPECT_EQ(img.meta("Point")->self_off, 88 + 72);
}

DrLibParams params(int32_t size, int32_t max_macros, int32_t max_metas, const char *name = "lib") {
    DrLibParams p{};
    p.version = 3;
    p.padding = 4;
    p.size = size;
    p.id = 9;
    p.max_macros = max_macros;
    p.max_metas = max_metas;
    std::strncpy(p.name, name, sizeof p.name);
    return p;
}

TEST(InitLib, WritesTheHeaderOfAnEmptyImage) {
    std::vector<uint64_t> buf(64, ~0ull);
    DrLibParams p = params(400, 2, 3);
    ASSERT_EQ(dr_init_lib(buf.data(), &p), 0);
    const auto *h = reinterpret_cast<const DrLibHeader *>(buf.data());
    EXPECT_EQ(h->magic, 0x4455);
    EXPECT_EQ(h->build, 103);
    EXPECT_EQ(h->id, 9);
    EXPECT_EQ(h->size, 400);
    EXPECT_EQ(h->version, 3);
    EXPECT_EQ(h->padding, 4);
    EXPECT_EQ(h->max_metas, 3);
    EXPECT_EQ(h->max_macros, 2);
    EXPECT_EQ(h->meta_count, 0);
    EXPECT_EQ(h->macro_count, 0);
    EXPECT_EQ(h->reserved1, 0);
    EXPECT_EQ(h->macro_off, 0);
    EXPECT_EQ(h->id_index_off, 72);
    EXPECT_EQ(h->name_index_off, 72 + 24);
    EXPECT_EQ(h->dir_off, 72 + 132);
    EXPECT_EQ(h->data_off, 72 + 156);
    EXPECT_EQ(h->free_off, h->data_off);
    EXPECT_STREQ(h->name, "lib");
    const auto *bytes = reinterpret_cast<const uint8_t *>(buf.data());
    for (int i = 112; i < 400; ++i) ASSERT_EQ(bytes[i], 0) << i;  // whole buffer zeroed
    EXPECT_EQ(bytes[400], 0xFF);                                    // and nothing beyond it
}

TEST(InitLib, SmallestImageAndRefusals) {
    std::vector<uint8_t> buf(200, 0xAB);
    DrLibParams p = params(165, 0, 1);
    ASSERT_EQ(dr_init_lib(buf.data(), &p), 0);
    const auto *h = reinterpret_cast<const DrLibHeader *>(buf.data());
    EXPECT_EQ(h->id_index_off, 0);
    EXPECT_EQ(h->name_index_off, 8);
    EXPECT_EQ(h->dir_off, 44);
    EXPECT_EQ(h->data_off, 52);

    for (DrLibParams bad : {params(164, 0, 1), params(400, 1, 0), params(0, 0, 1), params(400, -1, 1),
                            params(2000000000, 2000000000, 2000000000)}) {
        std::vector<uint8_t> untouched(200, 0xAB);
        EXPECT_EQ(dr_init_lib(untouched.data(), &bad), -1);
        EXPECT_EQ(untouched, std::vector<uint8_t>(200, 0xAB));
    }
}

TEST(InitLib, LongNameKeepsItsFirst31Characters) {
    std::vector<uint64_t> buf(32);
    DrLibParams p = params(200, 0, 1);
    std::memcpy(p.name, "0123456789012345678901234567890123456789", 32);  // no NUL in 32 bytes
    ASSERT_EQ(dr_init_lib(buf.data(), &p), 0);
    const auto *h = reinterpret_cast<const DrLibHeader *>(buf.data());
    EXPECT_EQ(std::string(h->name), "0123456789012345678901234567890");
    EXPECT_EQ(h->name[31], 0);
}

}  // namespace
