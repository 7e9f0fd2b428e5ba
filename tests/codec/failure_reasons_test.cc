// Failure reasons: the _ex calls say why and where an encode, a decode or a rendering
// stopped, with the same results and lengths as the plain calls; the encoder sizes a record.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "tests/support/image_builder.h"
#include "tests/support/random_desc.h"
#include "tests/support/records.h"

namespace {

using drtest::field;
using drtest::hex;
using drtest::nested;
using drtest::record;

std::vector<char> chars(const std::vector<uint8_t> &bytes) { return {bytes.begin(), bytes.end()}; }

// A call that writes its second argument from its third, its plain twin, and what the
// error must say.
struct Case {
    const char *what;
    const char *type;
    int (*ex)(const DrMeta *, DrBuffer *, DrBuffer *, int, DrError *);
    int (*plain)(const DrMeta *, DrBuffer *, DrBuffer *, int);
    size_t written;
    std::vector<char> read;
    int version, code, net_offset, host_offset;
};

TEST(FailureReasons, EachCallSaysWhyAndWhereAndKeepsItsPlainResult) {
    drtest::Meta old = record("Old", 2, {field("a", "int")});
    old.version = 3;
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("a", "int"), field("b", "int"), field("s", "string", 4)}), old,
         record("N", 3, {field("n", "uchar"), field("v", "int", 2).refer("n")}),
         record("L", 4, {field("z", "uchar"), nested("e", "E").netlen(-1, 1)}),
         record("E", 5, {field("a", "uchar")})}));
    const std::vector<char> r = chars(hex("00000001 00000002 61626300"));
    const std::vector<char> unterminated = chars(hex("00000001 00000002 61626364"));
    const Case cases[] = {
        {"network end", "R", dr_host_to_net_ex, dr_host_to_net, 6, r, 0, DR_E_NET_END, 4, 4},
        {"string without NUL", "R", dr_host_to_net_ex, dr_host_to_net, 64, unterminated, 0, DR_E_STRING, 8, 8},
        {"count above its bound", "N", dr_net_to_host_ex, dr_net_to_host, 9, chars(hex("03")), 0, DR_E_COUNT, 1, 1},
        // The length 0x30 points past the 3 bytes: the error names the field at offset 1.
        {"length past the input", "L", dr_net_to_host_ex, dr_net_to_host, 2, chars(hex("07 30 01")), 0,
         DR_E_LENGTH_PAST, 1, 2},
        {"text cut", "R", dr_sprint_data_ex, dr_sprint_data, 8, r, 0, DR_E_CUT, -1, 12},
        {"version refused", "Old", dr_host_to_net_ex, dr_host_to_net, 8, r, 2, DR_E_VERSION, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto run = [&](DrError *err) {
            std::vector<char> out(c.written, '\x5A'), in = c.read;
            DrBuffer o{out.data(), static_cast<int32_t>(out.size())}, i{in.data(), static_cast<int32_t>(in.size())};
            const int rc = err ? c.ex(img.meta(c.type), &o, &i, c.version, err)
                               : c.plain(img.meta(c.type), &o, &i, c.version);
            return std::make_tuple(rc, o.len, i.len, out, in);
        };
        DrError err;
        const auto ex = run(&err);
        EXPECT_EQ(ex, run(nullptr));
        EXPECT_EQ(std::get<0>(ex), -1);
        EXPECT_EQ(err.code, c.code);
        EXPECT_EQ(err.net_offset, c.net_offset);
        EXPECT_EQ(err.host_offset, c.host_offset);
        EXPECT_GT(std::strlen(err.text), 10u);
    }
    // The length field pointing past the input is named, with offsets inside the input.
    std::vector<char> host(2), net = chars(hex("07 30 01"));
    DrBuffer h{host.data(), 2}, n{net.data(), 3};
    DrError err;
    ASSERT_EQ(dr_net_to_host_ex(img.meta("L"), &h, &n, 0, &err), -1);
    EXPECT_STREQ(err.text, "the 1-byte length field of L.e at network offset 1 announces 48 bytes from offset 2, "
                           "past the end of the 3-byte input");
}

TEST(FailureReasons, TheStreamRenderingSaysWhereItStoppedThoughItKeepsTheHostLength) {
    drtest::Image img = drtest::build(drtest::library({record("R", 1, {field("a", "int"), field("s", "string", 4)})}));
    std::vector<char> host = chars(hex("00000001 61626364"));
    DrBuffer h{host.data(), 8};
    FILE *fp = tmpfile();
    DrError err;
    EXPECT_EQ(dr_print_data_xml_ex(img.meta("R"), fp, &h, 0, &err), -1);
    fclose(fp);
    EXPECT_EQ(h.len, 8);
    EXPECT_EQ(err.code, DR_E_STRING);
    EXPECT_EQ(err.host_offset, 4);
}

TEST(FailureReasons, SizingGivesTheSmallestCapacityThatSucceeds) {
    // A fixed-position length field 10 bytes into the record lies past the one byte written.
    drtest::Image img = drtest::build(
        drtest::library({record("F", 1, {nested("e", "E").netlen(10, 2)}), record("E", 2, {field("a", "uchar")})}));
    std::vector<char> host = {7};
    auto encode = [&](char *data, int32_t cap) {
        DrBuffer n{data, cap}, h{host.data(), 1};
        return std::make_pair(dr_host_to_net_ex(img.meta("F"), &n, &h, 0, nullptr), n.len);
    };
    EXPECT_EQ(encode(nullptr, 0), std::make_pair(0, 12));
    DrBuffer none{nullptr, 0}, h{host.data(), 1};
    EXPECT_EQ(dr_host_to_net(img.meta("F"), &none, &h, 0), -1);  // the plain call keeps its result
    std::vector<char> net(12);
    EXPECT_EQ(encode(net.data(), 12), std::make_pair(0, 1));
    EXPECT_EQ(encode(net.data(), 11).first, -1);

    for (uint32_t seed = 1; seed <= 200; ++seed) {  // random records: the size is the encoding's length
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image rnd = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = rnd.meta("Top");
        std::vector<char> rec = drtest::random_host(top, seed);
        const drtest::Encoded full = drtest::encode(top, rec, 0, 1 << 16);
        DrBuffer n{nullptr, 0}, h{rec.data(), static_cast<int32_t>(rec.size())};
        DrError err;
        ASSERT_EQ(dr_host_to_net_ex(top, &n, &h, 0, &err), full.rc);
        EXPECT_EQ(n.len, full.net_len);
        EXPECT_EQ(h.len, full.host_len);
        EXPECT_EQ(err.code, DR_OK);
    }
}

}  // namespace
