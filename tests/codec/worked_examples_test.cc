// The two worked encodings, byte for byte, and their decodings back to the same members.
#include <gtest/gtest.h>

#include "tests/support/image_builder.h"
#include "tests/support/records.h"

namespace {

using drtest::field;
using drtest::hex;
using drtest::nested;
using drtest::record;

TEST(WorkedExample, CountArrayAndString) {
    drtest::Lib lib;
    lib.metas = {record("R", 1, {field("c", "ushort"), field("v", "int", 10).refer("c"), field("s", "string", 16)})};
    drtest::Image img = drtest::build(lib);
    const DrMeta *meta = img.meta("R");
    ASSERT_EQ(meta->datasize, 58);
    drtest::HostRecord host(58, '\x77');
    host.put<uint16_t>(0, 2).put<int32_t>(2, 1).put<int32_t>(6, 2).put<int32_t>(10, 99).text(42, "ab");

    const drtest::Encoded enc = drtest::encode(meta, host.bytes, 0);
    EXPECT_EQ(enc.rc, 0);
    EXPECT_EQ(enc.net, hex("00 02 | 00 00 00 01 | 00 00 00 02 | 00 00 00 03 61 62 00"));
    EXPECT_EQ(enc.host_len, 58);  // past the whole capacity of the string

    const drtest::Decoded dec = drtest::decode(meta, enc.net, 0, 58, '\x77');
    EXPECT_EQ(dec.rc, 0);
    EXPECT_EQ(dec.net_len, 17);
    EXPECT_EQ(dec.host_len, 58);
    drtest::HostRecord want(58, '\x77');
    want.put<uint16_t>(0, 2).put<int32_t>(2, 1).put<int32_t>(6, 2).text(42, "ab");
    EXPECT_EQ(dec.host, want.bytes);  // elements beyond the count and bytes after the NUL untouched
}

// T {uchar a @0; int b @4} (datasize 8); U {int @-1 | ushort @5} (datasize 4); the top record
// has s, t[2] with 2-byte inline lengths, u by s with a 1-byte inline length, n, t2 whose
// length is written at offset 18 of the record, and z.
drtest::Lib nested_example() {
    drtest::Lib lib;
    lib.metas = {
        record("Top", 1, {field("s", "uchar"), nested("t", "T", 2).netlen(-2, 2),
                          nested("u", "U").select("s").netlen(-1, 1), field("n", "ushort"),
                          nested("t2", "T").netlen(18, 2), field("z", "uchar")}),
        record("T", 2, {field("a", "uchar"), field("b", "int").at(4)}),
        drtest::union_of("U", 3, {field("wide", "int").id(-1), field("narrow", "ushort").id(5)}),
    };
    lib.metas[1].datasize = 8;
    return lib;
}

drtest::HostRecord nested_host(uint8_t s) {
    // Offsets: s 0, t 1..16, u 17..20, n 21, t2 23..30, z 31.
    drtest::HostRecord host(32, '\0');
    host.put<uint8_t>(0, s);
    host.put<uint8_t>(1, 0x11).put<uint32_t>(5, 0x01020304);
    host.put<uint8_t>(9, 0x22).put<uint32_t>(13, 0x05060708);
    host.put<uint32_t>(17, 0x0A0B0C0D);  // the narrow member reads 0C0D from the same bytes
    host.put<uint16_t>(21, 0xBEEF);
    host.put<uint8_t>(23, 0x33).put<uint32_t>(27, 0x090A0B0C);
    host.put<uint8_t>(31, 0x44);
    return host;
}

TEST(WorkedExample, NestedElementsWithLengthFields) {
    drtest::Image img = drtest::build(nested_example());
    const DrMeta *meta = img.meta("Top");
    ASSERT_EQ(meta->datasize, 32);
    const drtest::Encoded enc = drtest::encode(meta, nested_host(5).bytes, 0);
    EXPECT_EQ(enc.rc, 0);
    EXPECT_EQ(enc.net, hex("05 | 00 05 11 01 02 03 04 | 00 05 22 05 06 07 08 | 02 0C 0D | 00 05 |"
                           " 33 09 0A 0B 0C | 44"));

    const drtest::Decoded dec = drtest::decode(meta, enc.net, 0, 32);
    EXPECT_EQ(dec.rc, 0);
    EXPECT_EQ(dec.net_len, 26);
    drtest::HostRecord want = nested_host(5);
    want.put<uint16_t>(17 + 2, 0);     // the union's unselected bytes stay as they were (0)
    want.put<uint16_t>(21, 5);         // n travelled as the length of t2
    for (int pad : {2, 3, 4, 10, 11, 12, 24, 25, 26}) want.bytes[pad] = 0;  // gaps inside T
    EXPECT_EQ(dec.host, want.bytes);
}

TEST(WorkedExample, UnmatchedSelectorTakesTheDefaultMember) {
    drtest::Image img = drtest::build(nested_example());
    const drtest::Encoded enc = drtest::encode(img.meta("Top"), nested_host(7).bytes, 0);
    EXPECT_EQ(enc.rc, 0);
    EXPECT_EQ(enc.net, hex("07 | 00 05 11 01 02 03 04 | 00 05 22 05 06 07 08 | 04 0A 0B 00 05 | BE EF |"
                           " 33 09 0A 0B 0C | 44"));
}

}  // namespace
