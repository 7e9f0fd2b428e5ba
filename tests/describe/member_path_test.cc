// Member paths: the worked examples, gaps, first members of nested records, "this", a
// ring of metas in a damaged image, and the room rules of the buffer form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/describe/capture.h"
#include "tests/support/image_builder.h"

namespace {

using drtest::field;
using drtest::nested;
using drtest::record;

// struct Msg { int len; struct P { int x; int y; } p; int body; char tail[6]; int end; },
// with a 2-byte gap before `end`.
drtest::Image message() {
    drtest::Lib lib;
    lib.name = "paths";
    lib.metas = {record("P", 1, {field("x", "int"), field("y", "int")}),
                 record("Msg", 2, {field("len", "int"), nested("p", "P"), field("body", "int"), field("tail", "char", 6),
                                   field("end", "int").at(24)}),
                 record("Outer", 3, {nested("m", "Msg"), field("z", "int")})};
    return drtest::build(lib);
}

std::string path(const DrMeta *meta, int entry, int offset) {
    return drtest::capture([&](FILE *fp) { EXPECT_EQ(dr_print_member_path(meta, entry, offset, fp), 0); });
}

// The buffer form, with the room written within a larger block that must stay untouched.
std::string spath(const DrMeta *meta, int entry, int offset, int room, int *used) {
    char block[128];
    std::memset(block, 'Z', sizeof block);
    *used = dr_sprint_member_path(meta, entry, offset, block, room);
    for (size_t i = room > 0 ? static_cast<size_t>(room) : 0; i < sizeof block; ++i)
        EXPECT_EQ(block[i], 'Z') << "byte " << i << " past room " << room;
    return std::string(block, static_cast<size_t>(*used));
}

TEST(MemberPath, WorkedExamples) {
    drtest::Image img = message();
    const DrMeta *msg = img.meta("Msg");
    EXPECT_EQ(path(msg, 2, 0), "len");
    EXPECT_EQ(path(msg, 2, 2), "len");
    EXPECT_EQ(path(msg, 2, 4), "p.x");
    EXPECT_EQ(path(msg, 2, 8), "p.y");
    EXPECT_EQ(path(msg, 2, 12), "this");
}

TEST(MemberPath, GapsEndsAndOffsetsOutsideTheRecord) {
    drtest::Image img = message();
    const DrMeta *msg = img.meta("Msg");
    EXPECT_EQ(path(msg, 0, 6), "p.x");     // inside a nested base member
    EXPECT_EQ(path(msg, 0, 16), "tail");
    EXPECT_EQ(path(msg, 0, 21), "tail");
    EXPECT_EQ(path(msg, 0, 22), "end");    // in the gap: the next member
    EXPECT_EQ(path(msg, 0, 24), "end");
    EXPECT_EQ(path(msg, 0, 27), "end");
    EXPECT_EQ(path(msg, 0, 28), "");       // past every member
    EXPECT_EQ(path(msg, 0, -4), "");       // a negative offset names nothing
    EXPECT_EQ(path(msg, 0, 0), "this");    // offset 0 while describing entry 0
}

TEST(MemberPath, FirstMembersOfNestedRecordsAndThisOnlyAtTheTop) {
    drtest::Image img = message();
    const DrMeta *outer = img.meta("Outer");
    EXPECT_EQ(path(outer, 1, 0), "m.len");
    EXPECT_EQ(path(outer, 1, 4), "m.p.x");
    EXPECT_EQ(path(outer, 1, 12), "m.body");
    EXPECT_EQ(path(outer, 1, 28), "this");
    // Entry 0 of Outer is "this", but entry 0 of the nested Msg keeps its name.
    EXPECT_EQ(path(outer, 0, 0), "this.len");
    EXPECT_EQ(path(outer, 0, 4), "this.p.x");
    EXPECT_EQ(path(img.meta("Msg"), 1, 4), "this.x");
}

TEST(MemberPath, NestedRecordWithoutEntriesEndsThePath) {
    drtest::Lib lib;
    lib.metas = {record("Empty", 1, {}), record("R", 2, {field("a", "int"), nested("e", "Empty"), field("b", "int")})};
    drtest::Image img = drtest::build(lib);
    EXPECT_EQ(path(img.meta("R"), 2, 4), "e");
}

TEST(MemberPath, RingOfMetasIsFollowedAtMostThirtyTwoRecordsDeep) {
    drtest::Lib lib;
    lib.metas = {record("Ring", 1, {field("r", "int"), field("s", "int")})};
    drtest::Image img = drtest::build(lib);
    img.entry("Ring", "r").meta_off = img.meta_offset("Ring");  // Ring contains itself
    std::string ring = "r";
    for (int i = 1; i < DR_MAX_DEPTH; ++i) ring += ".r";
    EXPECT_EQ(path(img.meta("Ring"), 1, 0), ring);  // first members
    EXPECT_EQ(path(img.meta("Ring"), 1, 2), ring);  // descent
    int used = 0;
    EXPECT_EQ(spath(img.meta("Ring"), 1, 2, 100, &used), ring);
    EXPECT_EQ(used, static_cast<int>(ring.size()));
    EXPECT_EQ(spath(img.meta("Ring"), 1, 2, 40, &used), ring.substr(0, 40));
    EXPECT_EQ(used, 40);
}

TEST(MemberPath, BufferRoomRules) {
    drtest::Image img = message();
    const DrMeta *msg = img.meta("Msg");
    int used = -1;
    EXPECT_EQ(spath(msg, 2, 8, 20, &used), "p.y");
    EXPECT_EQ(used, 3);
    EXPECT_EQ(spath(msg, 2, 8, 4, &used), "p.y");
    EXPECT_EQ(used, 3);
    // The last name fills the room exactly: written, but the whole room counts as used.
    EXPECT_EQ(spath(msg, 2, 8, 3, &used), "p.y");
    EXPECT_EQ(used, 3);
    EXPECT_EQ(spath(msg, 2, 8, 2, &used), "p.");
    EXPECT_EQ(used, 2);
    EXPECT_EQ(spath(msg, 2, 4, 1, &used), "p");
    EXPECT_EQ(used, 1);
    // Nothing fits or nothing named: 0, nothing written.
    for (int room : {0, -1, -1000}) {
        EXPECT_EQ(spath(msg, 2, 8, room, &used), "");
        EXPECT_EQ(used, 0);
    }
    EXPECT_EQ(spath(msg, 2, 28, 20, &used), "");
    EXPECT_EQ(used, 0);
    EXPECT_EQ(dr_sprint_member_path(msg, 2, 8, nullptr, 20), 0);
    EXPECT_EQ(dr_sprint_member_path(nullptr, 2, 8, nullptr, 20), 0);
}

TEST(MemberPath, FittingPathIsTerminatedInItsRoom) {
    drtest::Image img = message();
    char buf[16];
    std::memset(buf, 'Z', sizeof buf);
    ASSERT_EQ(dr_sprint_member_path(img.meta("Msg"), 2, 4, buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "p.x");
}

}  // namespace
