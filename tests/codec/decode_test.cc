// Decoder: length fields passing over unknown bytes, string checks, counts and selectors
// from the record being filled, failures and bounds.
#include <gtest/gtest.h>

#include "tests/support/image_builder.h"
#include "tests/support/records.h"

namespace {

using drtest::field;
using drtest::hex;
using drtest::nested;
using drtest::record;

TEST(Decode, ElementLengthsPassOverUnknownBytesAndMoveBack) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {nested("e", "E", 2).netlen(-1, 1), field("z", "uchar")}), record("E", 2, {field("a", "ushort")})}));
    // Element 0 says 4 bytes (2 unknown, from a newer sender); element 1 says 1 byte.
    const drtest::Decoded d = drtest::decode(img.meta("R"), hex("04 0102 EEEE | 01 0304 | 09 | FF FF"), 0, 5);
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.net_len, 8);  // trailing bytes after the record are not consumed
    drtest::HostRecord want(5);
    // Element 1 used two bytes but says one: z is read at the stated end.
    want.put<uint16_t>(0, 0x0102).put<uint16_t>(2, 0x0304).put<uint8_t>(4, 0x04);
    EXPECT_EQ(d.host, want.bytes);

    const drtest::Decoded past = drtest::decode(img.meta("R"), hex("30 0102"), 0, 5);
    EXPECT_EQ(past.rc, -1);
    EXPECT_EQ(past.net_len, 1 + 0x30);  // the offset the length pointed to
}

TEST(Decode, StringChecks) {
    drtest::Image img = drtest::build(drtest::library({record("R", 1, {field("s", "string", 4), field("z", "uchar")})}));
    const DrMeta *m = img.meta("R");
    auto run = [&](const char *net) { return drtest::decode(m, hex(net), 0, 5, '\x2A'); };
    EXPECT_EQ(run("00000001 00 07").host, std::vector<char>({0, 0x2A, 0x2A, 0x2A, 7}));  // empty string
    EXPECT_EQ(run("00000004 616263 00 07").host, std::vector<char>({'a', 'b', 'c', 0, 7}));  // L = capacity
    EXPECT_EQ(run("00000005 61626364 00 07").rc, -1);   // one above the capacity
    EXPECT_EQ(run("00000000 07").rc, -1);               // L below 1
    EXPECT_EQ(run("FFFFFFFF 07").rc, -1);               // negative L
    EXPECT_EQ(run("00000003 610062").rc, -1);           // last byte not NUL, though an earlier one is
    EXPECT_EQ(run("00000003 6100").rc, -1);             // L beyond the network end
    const drtest::Decoded few = run("00000001");        // fewer than 5 bytes left
    EXPECT_EQ(few.rc, -1);
    EXPECT_EQ(few.net_len, 0);
    EXPECT_EQ(few.host_len, 0);
}

TEST(Decode, CountsAndSelectorsComeFromTheRecordBeingFilled) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("v", "uchar", 4).refer("n"), field("n", "uchar"), field("k", "uchar"),
                         field("s", "string", 6).refer("k")})}));
    // v's count member comes after it: its count is what the host buffer held (2).
    drtest::HostRecord before(12, '\0');
    before.put<uint8_t>(4, 2);
    DrBuffer h = before.buffer();
    const std::vector<uint8_t> net = hex("0A0B | 07 | 00 | 00000003 787900");
    DrBuffer n{reinterpret_cast<char *>(const_cast<uint8_t *>(net.data())), static_cast<int32_t>(net.size())};
    ASSERT_EQ(dr_net_to_host(img.meta("R"), &h, &n, 0), 0);
    EXPECT_EQ(before.get<uint8_t>(0), 0x0A);
    EXPECT_EQ(before.get<uint8_t>(4), 7);
    // k decoded as 0: a zero count takes the rest of the host buffer as the string's capacity.
    EXPECT_EQ(std::string(&before.bytes[6]), "xy");
    EXPECT_EQ(h.len, 12);
}

TEST(Decode, MembersNotTakenKeepTheirBytes) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("a", "uchar"), field("new", "uchar").version(3), nested("e", "E").netlen(-1, 1),
                         field("z", "uchar")}),
         record("E", 2, {field("s", "uchar"), nested("u", "U").select("s"), field("after", "uchar")}),
         drtest::union_of("U", 3, {field("x", "ushort").id(1)})}));
    const drtest::Decoded d = drtest::decode(img.meta("R"), hex("01 | 04 05 AAAA BB | 09"), 2, 7, '\x2A');
    EXPECT_EQ(d.rc, 0);
    // s = 5 selects nothing: the element ends there and its length passes over the rest.
    EXPECT_EQ(d.host, std::vector<char>({1, 0x2A, 5, 0x2A, 0x2A, 0x2A, 9}));
}

TEST(Decode, VersionRefusalWritesNothing) {
    drtest::Meta r = record("R", 1, {field("a", "uchar")});
    r.version = 4;
    drtest::Image img = drtest::build(drtest::library({r}));
    const drtest::Decoded d = drtest::decode(img.meta("R"), hex("01"), 3, 1, '\x2A');
    EXPECT_EQ(d.rc, -1);
    EXPECT_EQ(d.net_len, 0);
    EXPECT_EQ(d.host_len, 0);
    EXPECT_EQ(d.host, std::vector<char>({0x2A}));
}

TEST(Decode, ScalarsPastEitherEndFail) {
    drtest::Image img = drtest::build(drtest::library({record("R", 1, {field("a", "short"), field("b", "int", 2)})}));
    const drtest::Decoded shortnet = drtest::decode(img.meta("R"), hex("0001 00000002 0000"), 0, 10);
    EXPECT_EQ(shortnet.rc, -1);
    EXPECT_EQ(shortnet.net_len, 2);
    EXPECT_EQ(shortnet.host_len, 2);
    EXPECT_EQ(drtest::decode(img.meta("R"), hex("0001 00000002 00000003"), 0, 9).rc, -1);  // host too small
    EXPECT_EQ(drtest::decode(img.meta("R"), hex("0001 00000002 00000003"), 0, 10).rc, 0);
}

TEST(Decode, LengthFieldsOutsideTheNetworkBytesFail) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("a", "uchar"), nested("e", "E").netlen(40, 2)}), record("E", 2, {field("b", "uchar")})}));
    EXPECT_EQ(drtest::decode(img.meta("R"), hex("01 02"), 0, 2).rc, -1);
    drtest::Image reserved = drtest::build(drtest::library(
        {record("R", 1, {nested("e", "E").netlen(-4, 4)}), record("E", 2, {field("b", "uchar").version(5)})}));
    // An inline field reserved at the very end, read when its element decoded nothing.
    EXPECT_EQ(drtest::decode(reserved.meta("R"), hex("0000"), 1, 2).rc, -1);
}

// 31 nested levels below the top-level record work; a 32nd fails even with count 0.
drtest::Lib chain(int levels, int32_t last_count) {
    std::vector<drtest::Meta> metas;
    for (int i = 0; i < levels; ++i)
        metas.push_back(record("L" + std::to_string(i), i + 1,
                               {field("v", "uchar"), nested("n", "L" + std::to_string(i + 1), i + 1 == levels ? last_count : 1)}));
    metas.push_back(record("L" + std::to_string(levels), levels + 1, {field("v", "uchar")}));
    return drtest::library(std::move(metas));
}

TEST(Nesting, ThirtyOneLevelsWorkAndTheThirtySecondFails) {
    drtest::Image ok = drtest::build(chain(31, 1));
    std::vector<char> host(32, '\x07');
    const drtest::Encoded enc = drtest::encode(ok.meta("L0"), host, 0);
    EXPECT_EQ(enc.rc, 0);
    EXPECT_EQ(enc.net_len, 32);
    EXPECT_EQ(drtest::decode(ok.meta("L0"), enc.net, 0, 32).rc, 0);
    for (int32_t count : {1, 0}) {
        drtest::Image deep = drtest::build(chain(32, count));
        std::vector<char> h(33, '\x07');
        const drtest::Encoded e = drtest::encode(deep.meta("L0"), h, 0);
        EXPECT_EQ(e.rc, -1) << "count " << count;
        EXPECT_EQ(e.net_len, 32);
        EXPECT_EQ(drtest::decode(deep.meta("L0"), std::vector<uint8_t>(40, 7), 0, 33).rc, -1);
    }
}

}  // namespace
