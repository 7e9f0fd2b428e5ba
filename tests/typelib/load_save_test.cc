// Loading and saving: round trips, the header checks, and refusal of damaged images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <climits>
#include <functional>
#include <thread>

#include <unistd.h>

#include "dr/typelib/verify.h"
#include "tests/support/image_builder.h"

namespace {

using drtest::field;
using drtest::nested;
using drtest::record;

drtest::Lib nested_lib() {
    drtest::Lib lib = drtest::demo_lib();
    lib.macros.push_back({"NPTS", 2});
    lib.metas.push_back(record("Line", 200, {field("n", "int"), nested("pts", "Point", 2).refer("n")}));
    lib.metas.push_back(drtest::union_of("Shape", 300, {nested("line", "Line").id(1), nested("pt", "Point").id(2)}));
    return lib;
}

// Loads bytes through a real stream; checks the caller's value and the stream on failure.
int load_bytes(const std::vector<uint8_t> &bytes, DrLib **out) {
    FILE *fp = tmpfile();
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), fp);
    fseek(fp, 3, SEEK_SET);  // the position before the call does not matter
    const int rc = dr_load_lib(out, fp);
    EXPECT_EQ(fputc('x', fp), 'x');  // still open and usable
    fclose(fp);
    return rc;
}

TEST(LoadSave, SaveThenLoadGivesTheSameImage) {
    drtest::Image img = drtest::build(nested_lib());
    const std::string path = drtest::write_temp_file("saved", {});
    ASSERT_EQ(dr_save_lib_file(img.lib(), path.c_str()), 0);
    EXPECT_EQ(drtest::read_file(path), img.vec());
    DrLib *lib = nullptr;
    ASSERT_EQ(dr_load_lib_file(&lib, path.c_str()), 0);
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(lib), reinterpret_cast<uint8_t *>(lib) + img.size()),
              img.vec());
    dr_free_lib(lib);
    dr_free_lib(nullptr);
}

TEST(LoadSave, HeaderChecksRefuseAndLeaveTheOutValue) {
    const std::vector<uint8_t> good = drtest::build(drtest::demo_lib()).vec();
    std::vector<std::vector<uint8_t>> bad;
    bad.push_back({});                                     // empty
    bad.push_back({good.begin(), good.begin() + 100});     // shorter than a header
    bad.push_back({good.begin(), good.end() - 1});         // one byte short of size
    bad.push_back(good);
    bad.back().push_back(0);                               // one byte more than size
    bad.push_back(good);
    bad.back()[0] = 0x56;                                  // magic
    bad.push_back(good);
    bad.back()[1] = 0x45;
    bad.push_back(good);
    bad.back()[2] = 0x68;                                  // build
    bad.push_back(good);
    bad.back()[3] = 0x01;
    DrLib *sentinel = reinterpret_cast<DrLib *>(0x1234);
    for (size_t i = 0; i < bad.size(); ++i) {
        DrLib *out = sentinel;
        EXPECT_EQ(load_bytes(bad[i], &out), -1) << "case " << i;
        EXPECT_EQ(out, sentinel);
    }
    DrLib *out = nullptr;
    ASSERT_EQ(load_bytes(good, &out), 0);
    dr_free_lib(out);
}

TEST(LoadSave, RefusalsSayWhyWithoutASecondPass) {
    drtest::Image damaged = drtest::build(nested_lib());
    std::memset(damaged.meta("Line")->name, 'a', 32);
    std::vector<uint8_t> magic = drtest::build(drtest::demo_lib()).vec();
    magic[0] = 0x56;
    const struct {
        std::vector<uint8_t> bytes;
        int code;
        const char *why;
    } cases[] = {{{}, DR_E_IMAGE, "the file is empty"},
                 {magic, DR_E_NOT_TYPELIB, "no typelib mark"},
                 {damaged.vec(), DR_E_IMAGE, "meta name not terminated"},
                 {drtest::build(drtest::demo_lib()).vec(), DR_OK, ""}};
    for (const auto &c : cases) {
        const std::string path = drtest::write_temp_file("why.tlb", c.bytes);
        DrLib *out = nullptr;
        DrError err;
        std::memset(&err, 0x55, sizeof err);
        EXPECT_EQ(dr_load_lib_file_ex(&out, path.c_str(), &err), c.code == DR_OK ? 0 : -1);
        EXPECT_EQ(err.code, c.code);
        EXPECT_STREQ(err.text, c.why);
        EXPECT_EQ(err.net_offset, -1);
        EXPECT_EQ(err.host_offset, -1);
        dr_free_lib(out);
    }
    DrError err;
    DrLib *out = nullptr;
    EXPECT_EQ(dr_load_lib_file_ex(&out, "/nonexistent/dir/x.tlb", &err), -1);
    EXPECT_EQ(err.code, DR_E_OPEN);
}

// Loads bytes through a pipe, a stream that cannot seek; the writer closes its end first.
int load_through_pipe(const std::vector<uint8_t> &bytes, DrLib **out) {
    int fds[2];
    if (pipe(fds) != 0) return -2;
    FILE *rd = fdopen(fds[0], "rb");
    std::thread writer([&] {
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = write(fds[1], bytes.data() + at, bytes.size() - at);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        close(fds[1]);
    });
    const int rc = dr_load_lib(out, rd);
    fclose(rd);  // the reader's end closed, a writer still writing is released
    writer.join();
    return rc;
}

TEST(LoadSave, StreamsThatCannotSeekAreReadUpToTheAnnouncedSize) {
    drtest::Image img = drtest::build(nested_lib());
    const std::vector<uint8_t> good = img.vec();
    DrLib *out = nullptr;
    ASSERT_EQ(load_through_pipe(good, &out), 0);
    EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(out), reinterpret_cast<uint8_t *>(out) + good.size()),
              good);
    dr_free_lib(out);
    // The same refusals as a file: a byte more or less than announced, no mark, no header.
    std::vector<std::vector<uint8_t>> bad = {{}, {good.begin(), good.end() - 1}, good, good, {good.begin(), good.begin() + 60}};
    bad[2].push_back(0);
    bad[3][1] = 0x45;
    // A header that announces 2 GiB of which 200 bytes come is refused once the stream ends.
    std::vector<uint8_t> huge = good;
    reinterpret_cast<DrLibHeader *>(huge.data())->size = INT32_MAX;
    bad.push_back(huge);
    for (size_t i = 0; i < bad.size(); ++i) {
        DrLib *sentinel = reinterpret_cast<DrLib *>(0x1234);
        out = sentinel;
        EXPECT_EQ(load_through_pipe(bad[i], &out), -1) << "case " << i;
        EXPECT_EQ(out, sentinel);
    }
}

// A seekable stream that is not the image: only its first bytes are read before refusing.
TEST(LoadSave, DevicesWithoutTheMarkAreRefusedAtOnce) {
    DrLib *out = reinterpret_cast<DrLib *>(0x1234);
    EXPECT_EQ(dr_load_lib_file(&out, "/dev/zero"), -1);
    FILE *fp = fopen("/dev/zero", "rb");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(dr_load_lib(&out, fp), -1);
    EXPECT_LE(ftell(fp), 4096L);  // one buffered read at most
    fclose(fp);
    EXPECT_EQ(out, reinterpret_cast<DrLib *>(0x1234));
}

TEST(LoadSave, MissingFilesAndUnwritablePaths) {
    DrLib *out = reinterpret_cast<DrLib *>(0x1234);
    EXPECT_EQ(dr_load_lib_file(&out, "/nonexistent/dir/x.tlb"), -1);
    EXPECT_EQ(out, reinterpret_cast<DrLib *>(0x1234));
    drtest::Image img = drtest::build(drtest::demo_lib());
    EXPECT_EQ(dr_save_lib_file(img.lib(), "/nonexistent/dir/x.tlb"), -1);
    FILE *ro = fopen("/dev/null", "r");
    setvbuf(ro, nullptr, _IONBF, 0);
    EXPECT_EQ(dr_save_lib(img.lib(), ro), -1);  // nothing can be written to a read-only stream
    fclose(ro);
}

// Each damage breaks one thing an operation would follow; the image must be refused.
struct Damage {
    const char *what;
    std::function<void(drtest::Image &)> apply;
};

TEST(LoadSave, DamagedContentIsRefused) {
    const std::vector<Damage> damages = {
        {"negative meta count", [](auto &i) { i.header().meta_count = -1; }},
        {"meta count above capacity", [](auto &i) { i.header().meta_count = i.header().max_metas + 1; }},
        {"macro count above capacity", [](auto &i) { i.header().macro_count = i.header().max_macros + 1; }},
        {"negative macro capacity", [](auto &i) { i.header().max_macros = -1; }},
        {"macro table past the end", [](auto &i) { i.header().macro_off = i.header().size; }},
        {"negative id index offset", [](auto &i) { i.header().id_index_off = -8; }},
        {"name index reserved rows past the end", [](auto &i) { i.header().max_metas = 1000; }},
        {"directory past the end", [](auto &i) { i.header().dir_off = i.header().size - 112 - 4; }},
        {"misaligned directory", [](auto &i) { i.header().dir_off += 1; }},
        {"id index row names no meta", [](auto &i) {
             reinterpret_cast<int32_t *>(i.data_area() + i.header().id_index_off)[1] = 3; }},
        {"name index row negative", [](auto &i) {
             reinterpret_cast<int32_t *>(i.data_area() + i.header().name_index_off + 32)[0] = -1; }},
        {"directory offset outside", [](auto &i) {
             reinterpret_cast<int32_t *>(i.data_area() + i.header().dir_off)[0] = i.header().size; }},
        {"directory offset not a meta", [](auto &i) {
             reinterpret_cast<int32_t *>(i.data_area() + i.header().dir_off)[0] += 4; }},
        {"self offset differs", [](auto &i) { i.meta("Point")->self_off += 152; }},
        {"entries run past the end", [](auto &i) { i.meta("Shape")->count = 3; }},
        {"negative entry count", [](auto &i) { i.meta("Point")->count = -1; }},
        {"member meta outside", [](auto &i) { i.entry("Line", "pts").meta_off = 1 << 30; }},
        {"member meta not a meta", [](auto &i) { i.entry("Line", "pts").meta_off = 0; }},
        {"member meta negative", [](auto &i) { i.entry("Line", "pts").meta_off = -2; }},
        {"meta macro index", [](auto &i) { i.meta("Point")->id_macro = 2; }},
        {"meta version macro below -1", [](auto &i) { i.meta("Point")->version_macro = -2; }},
        {"entry count macro", [](auto &i) { i.entry("Point", "x").count_macro = 2; }},
        {"entry io macro", [](auto &i) { i.entry("Point", "y").io_macro = 99; }},
        {"entry id macro", [](auto &i) { i.entry("Line", "n").id_macro = -7; }},
        {"entry version macro", [](auto &i) { i.entry("Shape", "pt").version_macro = 5; }},
        {"library name", [](auto &i) { std::memset(i.header().name, 'a', 32); }},
        {"macro name", [](auto &i) { std::memset(i.data_area() + i.header().macro_off, 'a', 32); }},
        {"name index name", [](auto &i) { std::memset(i.data_area() + i.header().name_index_off, 'a', 32); }},
        {"meta name", [](auto &i) { std::memset(i.meta("Line")->name, 'a', 32); }},
        {"entry name", [](auto &i) { std::memset(i.entry("Line", "n").name, 'a', 32); }},
        {"entry desc", [](auto &i) { std::memset(i.entry("Line", "n").desc, 'a', 32); }},
        {"name index row names another meta", [](auto &i) {  // "Line" leads to Point
             reinterpret_cast<int32_t *>(i.data_area() + i.header().name_index_off + 32)[0] = 0; }},
        {"id index row names another meta", [](auto &i) {  // id 100 leads to Line
             reinterpret_cast<int32_t *>(i.data_area() + i.header().id_index_off)[1] = 1; }},
        {"id index out of order", [](auto &i) {
             auto *rows = reinterpret_cast<int64_t *>(i.data_area() + i.header().id_index_off);
             std::swap(rows[0], rows[2]); }},
        {"name index out of order", [](auto &i) {
             auto *rows = i.data_area() + i.header().name_index_off;
             std::swap_ranges(rows, rows + 36, rows + 72); }},
        {"union members out of id order", [](auto &i) { i.entry("Shape", "line").id = 3; }},
        {"member reaches past its record", [](auto &i) { i.meta("Line")->datasize -= 1; }},
        {"member before its record", [](auto &i) { i.entry("Point", "x").off = -4; }},
        {"type contains itself", [](auto &i) { i.entry("Line", "pts").meta_off = i.meta_offset("Line"); }},
        {"types contain each other", [](auto &i) { i.entry("Point", "y").meta_off = i.meta_offset("Shape"); }},
    };
    for (const Damage &d : damages) {
        drtest::Image img = drtest::build(nested_lib());
        ASSERT_EQ(dr::verify_image(img.bytes(), static_cast<int64_t>(img.size())), nullptr);
        d.apply(img);
        DrLib *out = reinterpret_cast<DrLib *>(0x1234);
        EXPECT_EQ(load_bytes(img.vec(), &out), -1) << d.what;
        EXPECT_EQ(out, reinterpret_cast<DrLib *>(0x1234)) << d.what;
        EXPECT_NE(dr::verify_image(img.bytes(), static_cast<int64_t>(img.size())), nullptr) << d.what;
    }
}

TEST(LoadSave, LongChainsOfNestedTypesAreCheckedWhileTheCheckStackGrows) {
    // 40 types each holding the next: the check's stack grows (and moves) many times.
    drtest::Lib lib;
    for (int i = 0; i < 40; ++i)
        lib.metas.push_back(i == 39 ? record("T39", 39, {field("x", "int")})
                                    : record("T" + std::to_string(i), i, {nested("n", "T" + std::to_string(i + 1))}));
    drtest::Image chain = drtest::build(lib);
    DrLib *out = nullptr;
    ASSERT_EQ(load_bytes(chain.vec(), &out), 0);
    dr_free_lib(out);
    // The last type refers back to the first: found at the bottom of the deepest stack.
    chain.entry("T39", "x").meta_off = chain.meta_offset("T0");
    EXPECT_STREQ(dr::verify_image(chain.bytes(), static_cast<int64_t>(chain.size())), "record type contains itself");
}

TEST(LoadSave, UnusualButHarmlessImagesAreAccepted) {
    drtest::Lib lib = nested_lib();
    lib.macros = {{"Z", 1}, {"A", 2}};
    lib.keep_macro_order = true;              // unsorted: lookups miss, nothing is unsafe
    drtest::Image img = drtest::build(lib);
    img.entry("Point", "x").type = 77;        // a type outside the table is read where used
    img.meta("Point")->sizetype = -3;
    img.entry("Line", "n").count = -5;
    img.header().reserved2 = 0x5EEE;            // reserved words are never read
    DrLib *out = nullptr;
    ASSERT_EQ(load_bytes(img.vec(), &out), 0);
    dr_free_lib(out);
}

TEST(LoadSave, SharedMetasAndEmptyTablesAreAccepted) {
    drtest::Lib lib = nested_lib();
    lib.metas.push_back(record("Twice", 400, {nested("a", "Point"), nested("b", "Point"), nested("c", "Line")}));
    DrLib *out = nullptr;
    ASSERT_EQ(load_bytes(drtest::build(lib).vec(), &out), 0);  // a diamond is no cycle
    dr_free_lib(out);
    drtest::Lib empty;
    ASSERT_EQ(load_bytes(drtest::build(empty).vec(), &out), 0);
    dr_free_lib(out);
}

}  // namespace
