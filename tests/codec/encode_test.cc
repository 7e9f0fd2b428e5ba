// Encoder: the version rule, counts, strings, unions, length fields, failures and bounds.
#include <gtest/gtest.h>

#include "tests/support/image_builder.h"
#include "tests/support/records.h"

namespace {

using drtest::field;
using drtest::hex;
using drtest::nested;
using drtest::record;

struct Fixture {
    drtest::Image img;
    explicit Fixture(drtest::Lib lib) : img(drtest::build(lib)) {}
    explicit Fixture(std::vector<drtest::Meta> metas) : img(drtest::build(drtest::library(std::move(metas)))) {}
    const DrMeta *meta(const char *name = "R") { return img.meta(name); }
};

TEST(Encode, VersionRule) {
    drtest::Meta r = record("R", 1, {field("a", "uchar").version(2), field("b", "uchar").version(3),
                                     field("c", "uchar").version(5)});
    r.version = 2;
    Fixture f({r});
    drtest::HostRecord host(3);
    host.put<uint8_t>(0, 1).put<uint8_t>(1, 2).put<uint8_t>(2, 3);
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).net, hex("01 02 03"));
    const drtest::Encoded at3 = drtest::encode(f.meta(), host.bytes, 3);
    EXPECT_EQ(at3.net, hex("01 02"));   // a member of the requested version is taken
    EXPECT_EQ(at3.host_len, 2);         // the skipped last member does not move the cursor
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 2).net, hex("01"));

    std::vector<char> net(8, '\x33');
    DrBuffer n{net.data(), 8};
    DrBuffer h = host.buffer();
    EXPECT_EQ(dr_host_to_net(f.meta(), &n, &h, 1), -1);
    EXPECT_EQ(n.len, 0);
    EXPECT_EQ(h.len, 0);
    EXPECT_EQ(net, std::vector<char>(8, '\x33'));  // nothing written
}

TEST(Encode, CountsFromReferMembers) {
    Fixture f({record("R", 1, {field("n", "int"), field("v", "ushort", 3).refer("n"), field("z", "short", 0),
                               field("w", "uchar", 0).refer("n")})});
    drtest::HostRecord host(16);
    host.put<uint16_t>(4, 0x0102).put<uint16_t>(6, 0x0304).put<uint16_t>(8, 0x0506);
    host.put<int32_t>(0, 3);
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).net, hex("00000003 0102 0304 0506 | 000000"));
    host.put<int32_t>(0, 0);
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).net, hex("00000000"));
    host.put<int32_t>(0, 4);  // one above the declared count
    const drtest::Encoded over = drtest::encode(f.meta(), host.bytes, 0);
    EXPECT_EQ(over.rc, -1);
    EXPECT_EQ(over.net_len, 4);
    EXPECT_EQ(over.host_len, 4);
    host.put<int32_t>(0, -1);
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).rc, -1);
}

TEST(Encode, NarrowReferMembersAreUnsigned) {
    Fixture f({record("R", 1, {field("n", "ushort"), field("v", "uchar", 0).refer("n")})});
    drtest::HostRecord host(2 + 65535, '\x01');
    host.put<uint16_t>(0, 0xFFFF);
    const drtest::Encoded enc = drtest::encode(f.meta(), host.bytes, 0, 70000);
    EXPECT_EQ(enc.rc, 0);
    EXPECT_EQ(enc.net_len, 2 + 65535);
}

TEST(Encode, Strings) {
    Fixture f({record("R", 1, {field("n", "uchar"), field("s", "string", 4).refer("n"), field("t", "string", 4)})});
    drtest::HostRecord host(9);
    host.put<uint8_t>(0, 4).text(1, "abc").text(5, "");
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).net, hex("04 | 00000004 616263 00 | 00000001 00"));
    host.put<uint8_t>(0, 3);  // "abc" plus its NUL no longer fits a capacity of 3
    drtest::Encoded enc = drtest::encode(f.meta(), host.bytes, 0);
    EXPECT_EQ(enc.rc, -1);
    EXPECT_EQ(enc.net_len, 1);
    EXPECT_EQ(enc.host_len, 1);
    host.put<uint8_t>(0, 0);  // no NUL fits in zero bytes
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).rc, -1);
    host.put<uint8_t>(0, 4);
    std::memcpy(&host.bytes[5], "wxyz", 4);  // fills its capacity without a NUL
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).rc, -1);
}

TEST(Encode, UnboundedStringTakesTheRestOfTheHostBuffer) {
    Fixture f({record("R", 1, {field("a", "uchar"), field("s", "string", 0)})});
    std::vector<char> host = {7, 'h', 'i', 0, 'x', 'y'};
    const drtest::Encoded enc = drtest::encode(f.meta(), host, 0);
    EXPECT_EQ(enc.net, hex("07 00000003 6869 00"));
    EXPECT_EQ(enc.host_len, 6);
    host.resize(3);  // no NUL before the host end: never read past it
    EXPECT_EQ(drtest::encode(f.meta(), host, 0).rc, -1);
}

TEST(Encode, EightByteValuesTravelAsTheyLie) {
    Fixture f({record("R", 1, {field("d", "double"), field("q", "longlong"), field("f", "float")})});
    drtest::HostRecord host(20);
    host.put<double>(0, 1.5).put<int64_t>(8, 0x0102030405060708).put<float>(16, 1.0f);
    std::vector<uint8_t> want(host.bytes.begin(), host.bytes.begin() + 16);
    for (uint8_t b : hex("3F800000")) want.push_back(b);
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).net, want);
}

TEST(Encode, UnionSelection) {
    std::vector<drtest::Entry> few, many, duplicates;
    for (int i = 0; i < 20; ++i) many.push_back(field("m" + std::to_string(i), "uchar").id(10 + 3 * i));
    few = {field("x", "uchar").id(2), field("y", "uchar").id(9), field("y2", "ushort").id(9)};
    Fixture f({record("R", 1, {field("s", "int"), nested("few", "Few").select("s"), field("s2", "int"),
                               nested("many", "Many").select("s2"), field("tail", "uchar")}),
               drtest::union_of("Few", 2, few), drtest::union_of("Many", 3, many)});
    drtest::HostRecord host(12);
    host.put<int32_t>(0, 9).put<uint8_t>(4, 0xAB).put<int32_t>(6, 10 + 3 * 17).put<uint8_t>(10, 0xAB);
    host.put<uint8_t>(11, 0xCD);
    // The first of two members with id 9 in stored order; in the larger union the halving finds 61.
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).net, hex("00000009 AB 0000003D AB CD"));
    host.put<int32_t>(6, 11);  // matches nothing and there is no default: the record ends there
    const drtest::Encoded ended = drtest::encode(f.meta(), host.bytes, 0);
    EXPECT_EQ(ended.rc, 0);
    EXPECT_EQ(ended.net, hex("00000009 AB 0000000B"));
}

TEST(Encode, DirectHitWinsOverAnEarlierMemberWithTheSameId) {
    // Selector 2 lies at position 2 - 0: the direct hit takes b2, where a search from the
    // front would have met b1 first. Both walkers resolve alike.
    Fixture f({record("R", 1, {field("s", "uchar"), nested("u", "U").select("s")}),
               drtest::union_of("U", 2, {field("a", "uchar").id(0), field("b1", "uchar").id(2),
                                         field("b2", "ushort").id(2)})});
    drtest::HostRecord host(3);
    host.put<uint8_t>(0, 2).put<uint16_t>(1, 0x0102);
    const drtest::Encoded enc = drtest::encode(f.meta(), host.bytes, 0);
    EXPECT_EQ(enc.net, hex("02 0102"));
    char text[64];
    DrBuffer out{text, sizeof text};
    DrBuffer h = host.buffer();
    EXPECT_EQ(dr_sprint_data(f.meta(), &out, &h, 0), 0);
    EXPECT_STREQ(text, "[R]: s=0x2  b2=258 ");
}

TEST(Encode, TopLevelUnionTakesItsFirstMember) {
    Fixture f({drtest::union_of("U", 1, {field("a", "ushort").id(4), field("b", "int").id(5)})});
    drtest::HostRecord host(4);
    host.put<uint32_t>(0, 0x11223344);
    EXPECT_EQ(drtest::encode(f.meta("U"), host.bytes, 0).net, hex("3344"));
}

TEST(Encode, LengthFieldsKeepTheirLowBitsAndLeaveUnwrittenBytes) {
    Fixture f({record("R", 1, {nested("big", "Big").netlen(-1, 1), nested("quiet", "Small", 2).netlen(-3, 0)}),
               record("Big", 2, {field("b", "uchar", 300)}), record("Small", 3, {field("c", "uchar")})});
    drtest::HostRecord host(302, '\x01');
    const drtest::Encoded enc = drtest::encode(f.meta(), host.bytes, 0, 400);
    EXPECT_EQ(enc.rc, 0);
    ASSERT_EQ(enc.net_len, 1 + 300 + 3 + 2);
    EXPECT_EQ(enc.net[0], 300 & 0xFF);  // 44
    // Width 0: three bytes reserved before the first element only, left as they were.
    EXPECT_EQ(std::vector<uint8_t>(enc.net.begin() + 301, enc.net.end()), hex("00 00 00 01 01"));
}

TEST(Encode, FixedLengthFieldsOfElementsWithoutTheirOwnStayRelativeToTheFirstElement) {
    Fixture f({record("R", 1, {nested("outer", "Outer", 2)}),
               record("Outer", 2, {field("pad", "ushort"), nested("in", "Inner").netlen(0, 2)}),
               record("Inner", 3, {field("c", "uchar")})});
    drtest::HostRecord host(6);
    host.put<uint16_t>(0, 0xAAAA).put<uint8_t>(2, 1).put<uint16_t>(3, 0xBBBB).put<uint8_t>(5, 2);
    // Both inner lengths land on the first element's pad.
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0).net, hex("0001 01 BBBB 02"));
}

TEST(Encode, ExactBufferSucceedsAndOneByteLessFails) {
    Fixture f({record("R", 1, {field("a", "int"), field("s", "string", 8), nested("n", "N").netlen(-2, 2)}),
               record("N", 2, {field("b", "short")})});
    drtest::HostRecord host(14);
    host.put<int32_t>(0, 5).text(4, "xyz").put<int16_t>(12, 7);
    const drtest::Encoded full = drtest::encode(f.meta(), host.bytes, 0);
    ASSERT_EQ(full.net, hex("00000005 00000004 78797A00 0002 0007"));
    EXPECT_EQ(drtest::encode(f.meta(), host.bytes, 0, full.net_len).rc, 0);
    const drtest::Encoded cut = drtest::encode(f.meta(), host.bytes, 0, full.net_len - 1);
    EXPECT_EQ(cut.rc, -1);
    EXPECT_EQ(cut.net_len, 14);  // stopped before the short of the nested element
}

TEST(Encode, OffsetsOutsideTheBuffersFailInsteadOfReachingThere) {
    auto fails = [](drtest::Lib lib, std::vector<char> host, int32_t cap = 64) {
        drtest::Image img = drtest::build(lib);
        return drtest::encode(img.meta("R"), host, 0, cap);
    };
    drtest::Lib refer_outside = drtest::library({record("R", 1, {field("v", "uchar", 4).refer(100, 4)})});
    EXPECT_EQ(fails(refer_outside, std::vector<char>(4)).rc, -1);
    drtest::Lib refer_before = drtest::library({record("R", 1, {field("v", "uchar", 4).refer(-2, 1)})});
    EXPECT_EQ(fails(refer_before, std::vector<char>(4)).rc, -1);
    drtest::Lib select_outside = drtest::library({record("R", 1, {nested("u", "U").select(3, 2)}),
                                         drtest::union_of("U", 2, {field("a", "uchar").id(0)})});
    EXPECT_EQ(fails(select_outside, std::vector<char>(1)).rc, -1);
    drtest::Lib negative_off = drtest::library({record("R", 1, {field("a", "int").at(-4)})});
    EXPECT_EQ(fails(negative_off, std::vector<char>(4)).rc, -1);
    drtest::Lib odd_unit = drtest::library({record("R", 1, {field("a", "int").unit(3)})});
    EXPECT_EQ(fails(odd_unit, std::vector<char>(4)).rc, -1);
    drtest::Lib fixed_outside = drtest::library({record("R", 1, {nested("n", "N").netlen(62, 4)}),
                                        record("N", 2, {field("a", "uchar")})});
    const drtest::Encoded fo = fails(fixed_outside, std::vector<char>(1));
    EXPECT_EQ(fo.rc, -1);
    EXPECT_EQ(fo.net_len, 1);
    // An inline field reserved past the end with nothing after it: not a success.
    drtest::Lib reserved_past = drtest::library({record("R", 1, {nested("n", "N").netlen(-100, 0)}),
                                        record("N", 2, {field("a", "uchar").version(9)})});
    const drtest::Encoded rp = drtest::encode(drtest::build(reserved_past).meta("R"), std::vector<char>(1), 5, 64);
    EXPECT_EQ(rp.rc, -1);
    EXPECT_LE(rp.net_len, 64);
}

TEST(Encode, UnresolvedSelectorInsideAnArrayElementRestartsTheNextElement) {
    Fixture f({record("R", 1, {nested("e", "E", 3)}),
               record("E", 2, {field("s", "uchar"), nested("u", "U").select("s"), field("after", "uchar")}),
               drtest::union_of("U", 3, {field("a", "uchar").id(1)})});
    drtest::HostRecord host(9);
    host.put<uint8_t>(0, 1).put<uint8_t>(1, 0xA1).put<uint8_t>(2, 0xF1);
    host.put<uint8_t>(3, 2).put<uint8_t>(4, 0xA2).put<uint8_t>(5, 0xF2);  // unresolved: ends element 1
    host.put<uint8_t>(6, 1).put<uint8_t>(7, 0xA3).put<uint8_t>(8, 0xF3);
    const drtest::Encoded enc = drtest::encode(f.meta(), host.bytes, 0);
    EXPECT_EQ(enc.rc, 0);
    EXPECT_EQ(enc.net, hex("01 A1 F1 | 02 | 01 A3 F3"));
}

}  // namespace
