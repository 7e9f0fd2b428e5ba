// Bounds of the member walk on hostile images and short host buffers: the work of a call
// stays within its step budget, and no call reports a host length past the host buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dr/walk/walk.h"
#include "dr/typelib/verify.h"
#include "tests/support/image_builder.h"
#include "tests/support/random_desc.h"
#include "tests/support/records.h"

namespace {

using drtest::field;
using drtest::nested;
using drtest::record;

// A walker that accepts everything, so that only the walk's own rules and budget end it.
struct CountingWalker {
    static constexpr bool kCheckDeclaredCount = true;
    static constexpr bool kRestFromCountInUse = false;
    bool skip(const DrEntry &) const { return false; }
    DrErrorCode scalar(const DrEntry &, int64_t, int32_t, int64_t) { return DR_OK; }
    DrErrorCode string(const DrEntry &, int64_t, int64_t) { return DR_OK; }
    DrErrorCode push(dr::DrWalkFrame *, int) { return DR_OK; }
    DrErrorCode element_done(dr::DrWalkFrame *, int) { return DR_OK; }
};

dr::WalkEnd count_steps(const DrMeta *meta, const std::vector<char> &host, int64_t net_len) {
    CountingWalker w;
    return dr::walk(w, meta, host.data(), static_cast<int64_t>(host.size()), dr::kNewest, net_len);
}

bool loads(const drtest::Image &img) {
    DrLib *lib = nullptr;
    const int rc = dr_load_lib_file(&lib, drtest::write_temp_file("bounds", img.vec()).c_str());
    dr_free_lib(lib);
    return rc == 0;
}

// Every operation that walks: each must fail on the image and report cursors in bounds.
void expect_every_walk_fails(const DrMeta *m, size_t host_size) {
    std::vector<char> host(host_size, 1), net(4096), out(256);
    DrBuffer h{host.data(), static_cast<int32_t>(host.size())}, n{net.data(), static_cast<int32_t>(net.size())};
    EXPECT_EQ(dr_host_to_net(m, &n, &h, 0), -1);
    EXPECT_LE(h.len, static_cast<int32_t>(host.size()));
    n = {net.data(), static_cast<int32_t>(net.size())};
    h = {host.data(), static_cast<int32_t>(host.size())};
    EXPECT_EQ(dr_net_to_host(m, &h, &n, 0), -1);
    DrBuffer o{out.data(), static_cast<int32_t>(out.size())};
    h = {host.data(), static_cast<int32_t>(host.size())};
    EXPECT_EQ(dr_sprint_data(m, &o, &h, 0), -1);
    o = {out.data(), static_cast<int32_t>(out.size())};
    h = {host.data(), static_cast<int32_t>(host.size())};
    EXPECT_EQ(dr_sprint_data_xml(m, &o, &h, 0), -1);
    FILE *fp = tmpfile();
    h = {host.data(), static_cast<int32_t>(host.size())};
    EXPECT_EQ(dr_print_data(m, fp, &h, 0), -1);
    fclose(fp);
}

TEST(WalkBounds, NestedArraysWiderThanTheirRecordAreRefusedAndCannotMultiply) {
    // The reported image: 5 levels of `struct { Next a[100]; }` of host size 1 and a host
    // record of 5 x 99 + 1 bytes took 11 s to encode. The loader refuses it; walked without
    // loading, the elements of a nested member must fit their enclosing element.
    drtest::Image img = drtest::build(drtest::chain(5, 1, 100, 1));
    EXPECT_STREQ(dr::verify_image(img.bytes(), static_cast<int64_t>(img.size())),
                 "member reaches outside its record");
    EXPECT_FALSE(loads(img));
    expect_every_walk_fails(img.meta("L0"), 5 * 99 + 1);
    EXPECT_LT(count_steps(img.meta("L0"), std::vector<char>(496), 4096).steps, 16);
}

TEST(WalkBounds, LoadableImagesThatRepeatSubtreesStopAtTheBudget) {
    // Members that overlap (8 at offset 0 of a 1-byte record) and types of no host size pass
    // every load check, yet repeat a subtree 8^12 times. The budget ends them with a failure.
    for (const drtest::Lib &lib : {drtest::chain(12, 8, 1, 1), drtest::chain(12, 8, 1, 0)}) {
        drtest::Image img = drtest::build(lib);
        ASSERT_TRUE(loads(img));
        const DrMeta *top = img.meta("L0");
        expect_every_walk_fails(top, 64);
        const std::vector<char> host(64);
        const dr::WalkEnd end = count_steps(top, host, 4096);
        EXPECT_FALSE(end.ok);
        EXPECT_EQ(end.steps, 16 * (64 + 4096 + 1) + 64 * static_cast<int64_t>(img.size() / 152));
    }
}

TEST(WalkBounds, WellFormedRecordsStayFarBelowTheBudget) {
    // Random descriptions with nested arrays, unions and strings, at every version: a record
    // laid out as described takes a few steps per byte, so the budget never refuses one.
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        for (int version : {0, 1, 3}) {
            CountingWalker w;
            const dr::WalkEnd end =
                dr::walk(w, top, host.data(), static_cast<int64_t>(host.size()), dr::effective_version(version));
            ASSERT_TRUE(end.ok) << "seed " << seed;
            EXPECT_LT(end.steps * 8, dr::step_budget(top, static_cast<int64_t>(host.size()), 0)) << "seed " << seed;
        }
    }
}

TEST(HostCursor, AMemberPastTheHostBufferFailsAndNoLengthPassesTheBuffer) {
    // The reported record: { int x @0; struct e[0] @16 } given a 4-byte host buffer was
    // accepted with a host length of 16.
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("x", "int").at(0), nested("e", "E", 0).at(16)}), record("E", 2, {field("a", "int")})}));
    expect_every_walk_fails(img.meta("R"), 4);
    const drtest::Decoded d = drtest::decode(img.meta("R"), drtest::hex("00000001"), 0, 4);
    EXPECT_EQ(d.rc, -1);
    EXPECT_EQ(d.host_len, 4);

    // Every call on every random record cut to every length reports a host length inside
    // the buffer it was given.
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        drtest::Image rnd = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = rnd.meta("Top");
        const std::vector<char> full = drtest::random_host(top, seed);
        std::vector<char> net(8192), out(64);
        for (size_t len = 0; len <= full.size(); len += 1 + len / 8) {
            std::vector<char> host(full.begin(), full.begin() + static_cast<long>(len));
            const auto cap = static_cast<int32_t>(len);
            DrBuffer h{host.data(), cap}, n{net.data(), static_cast<int32_t>(net.size())};
            dr_host_to_net(top, &n, &h, 0);
            EXPECT_LE(h.len, cap) << "encode, seed " << seed;
            DrBuffer in{net.data(), n.len};
            h = {host.data(), cap};
            dr_net_to_host(top, &h, &in, 0);
            EXPECT_LE(h.len, cap) << "decode, seed " << seed;
            DrBuffer o{out.data(), static_cast<int32_t>(out.size())};
            h = {host.data(), cap};
            dr_sprint_data(top, &o, &h, 0);
            EXPECT_LE(h.len, cap) << "text, seed " << seed;
            o = {out.data(), static_cast<int32_t>(out.size())};
            h = {host.data(), cap};
            dr_sprint_data_xml(top, &o, &h, 0);
            EXPECT_LE(h.len, cap) << "xml, seed " << seed;
        }
    }
}

}  // namespace

TEST(WalkBounds, AStructMemberNamingAnEmptyUnionReadsNoEntry) {
    // Found by fuzzing the loader: a member coded as a struct that names a union without
    // members made the walk read the union's first entry, past the end of the image.
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("x", "int"), nested("u", "U", 1)}), drtest::union_of("U", 2, {})}));
    img.entry("R", "u").type_code = DR_TYPE_STRUCT;
    DrLib *lib = nullptr;
    ASSERT_EQ(dr_load_lib_file(&lib, drtest::write_temp_file("empty_union", img.vec()).c_str()), 0);
    const DrMeta *r = nullptr;
    ASSERT_EQ(dr_meta_by_name(lib, "R", &r), 0);
    std::vector<char> host(64, 0), net(64);
    DrBuffer h{host.data(), 4}, n{net.data(), 64};
    EXPECT_EQ(dr_host_to_net(r, &n, &h, 0), 0);
    EXPECT_EQ(n.len, 4);
    EXPECT_LE(h.len, 4);
    dr_free_lib(lib);
}
