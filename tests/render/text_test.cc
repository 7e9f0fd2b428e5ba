// Text rendering: the Hdr example in both variants, the buffer's piece rules, value forms.
#include <gtest/gtest.h>

#include "tests/render/hdr_example.h"
#include "tests/render/render_support.h"

namespace {

using drtest::field;
using drtest::nested;
using drtest::record;

const std::string kHdrText =
    "[Hdr]: iNum=2  szName=\"abc\" nX=1  nY=-2  aiVal[2]=7 8  bFlag=59[Y]  cSep=32 \n";

TEST(TextRender, HdrExampleToAStream) {
    drtest::Image img = drtest::build(drtest::hdr_lib());
    drtest::HostRecord host = drtest::hdr_host();
    const drtest::Printed p = drtest::print(dr_print_data, img.meta("Hdr"), host.bytes, 0);
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.text, kHdrText);
    EXPECT_EQ(p.text.size(), 77u);
    EXPECT_EQ(p.host_len, 34);
}

TEST(TextRender, HdrExampleIntoBuffers) {
    drtest::Image img = drtest::build(drtest::hdr_lib());
    const std::vector<char> host = drtest::hdr_host().bytes;
    const std::string want = "[Hdr]: iNum=2  szName=\"abc\" nX=1  nY=-2  aiVal[2]=7 8  bFlag=0x59[Y]  cSep=32 ";
    ASSERT_EQ(want.size(), 78u);
    for (int32_t cap : {80, 200}) {
        const drtest::Sprinted s = drtest::sprint(dr_sprint_data, img.meta("Hdr"), host, 0, cap);
        EXPECT_EQ(s.rc, 0);
        EXPECT_EQ(s.text, want);
        EXPECT_EQ(s.out_len, 78);
        EXPECT_EQ(s.host_len, 34);
    }
    const drtest::Sprinted just = drtest::sprint(dr_sprint_data, img.meta("Hdr"), host, 0, 79);
    EXPECT_EQ(just.rc, -1);  // the last piece would fill the room exactly
    EXPECT_EQ(just.out_len, 75);

    const drtest::Sprinted sixteen = drtest::sprint(dr_sprint_data, img.meta("Hdr"), host, 0, 16);
    EXPECT_EQ(sixteen.rc, -1);
    EXPECT_EQ(sixteen.out_len, 14);
    EXPECT_EQ(sixteen.text, "[Hdr]: iNum=2  ");  // the refused piece's first byte, then the NUL
    EXPECT_EQ(sixteen.host_len, 34);

    const drtest::Sprinted one = drtest::sprint(dr_sprint_data, img.meta("Hdr"), host, 0, 1);
    EXPECT_EQ(one.rc, -1);
    EXPECT_EQ(one.out_len, 0);
    EXPECT_EQ(one.text, "");
}

TEST(TextRender, VersionRuleAndRefusal) {
    drtest::Meta r = record("R", 1, {field("a", "uchar").version(2), field("b", "uchar").version(5)});
    r.version = 2;
    drtest::Image img = drtest::build(drtest::library({r}));
    const std::vector<char> host = {'A', 'B'};
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("R"), host, 0).text, "[R]: a=41[A]  b=42[B] \n");
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("R"), host, 4).text, "[R]: a=41[A] \n");
    const drtest::Printed refused = drtest::print(dr_print_data, img.meta("R"), host, 1);
    EXPECT_EQ(refused.rc, -1);
    EXPECT_EQ(refused.text, "");
    EXPECT_EQ(refused.host_len, 2);  // not set
    const drtest::Sprinted s = drtest::sprint(dr_sprint_data, img.meta("R"), host, 1, 8, '\x2A');
    EXPECT_EQ(s.rc, -1);
    EXPECT_EQ(s.raw, std::string(8, '\x2A'));  // the buffer is not touched at all
    EXPECT_EQ(s.out_len, 8);

    drtest::Image all_skipped = drtest::build(drtest::library({record("S", 1, {field("a", "uchar").version(9)})}));
    const drtest::Printed none = drtest::print(dr_print_data, all_skipped.meta("S"), host, 3);
    EXPECT_EQ(none.text, "[S]:\n");
    EXPECT_EQ(none.host_len, 0);
}

TEST(TextRender, ValueForms) {
    drtest::Image img = drtest::build(drtest::library(
        {record("V", 1, {field("c", "char", 5), field("u", "uchar"), field("tag", "char", 8), field("e", "short", 0),
                         field("one", "ushort"), field("f", "float"), field("d", "double"), field("l", "long"),
                         field("ul", "ulong")})}));
    drtest::HostRecord host(img.meta("V")->datasize);
    host.bytes[0] = 32, host.bytes[1] = 33, host.bytes[2] = 126, host.bytes[3] = 127, host.bytes[4] = char(200);
    host.put<uint8_t>(5, 10);
    std::memcpy(&host.bytes[6], "abc\0\0\0\0\0", 8);
    host.put<uint16_t>(16, 65535).put<float>(18, 1.5f).put<double>(22, -0.25).put<int32_t>(30, -7).put<uint32_t>(34, 4000000000u);
    const std::string common = " c[5]=32 33[!] 126[~] 127 200 ";
    const std::string rest = " tag[8]=97[a] 98[b] 99[c] 0 0 0 0 0  e= one=65535  f=1.500000  d=-0.250000  l=-7  ul=4000000000 ";
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("V"), host.bytes, 0).text, "[V]:" + common + " u=a " + rest + "\n");
    EXPECT_EQ(drtest::sprint(dr_sprint_data, img.meta("V"), host.bytes, 0, 400).text, "[V]:" + common + " u=0xa " + rest);
}

TEST(TextRender, EightByteIntegersHaveNoFormat) {
    drtest::Image img = drtest::build(drtest::library({record("Q", 1, {field("q", "longlong"), field("t", "date"), field("z", "uchar")})}));
    drtest::HostRecord host(13);
    host.put<uint8_t>(12, 'z');
    const drtest::Printed p = drtest::print(dr_print_data, img.meta("Q"), host.bytes, 0);
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.text, "[Q]: q= t= z=7a[z] \n");
    const drtest::Sprinted s = drtest::sprint(dr_sprint_data, img.meta("Q"), host.bytes, 0, 100);
    EXPECT_EQ(s.rc, -1);  // the walk still ran to its end
    EXPECT_EQ(s.text, "[Q]: q= t= z=0x7a[z] ");
    EXPECT_EQ(s.host_len, 13);
}

TEST(TextRender, StringsAndErrors) {
    drtest::Image img = drtest::build(drtest::library(
        {record("S", 1, {field("s", "string", 4), field("n", "int"), field("v", "uchar", 2).refer("n"), field("rest", "string", 0)})}));
    drtest::HostRecord host(13);
    host.text(0, "q\"t").put<int32_t>(4, 1).put<uint8_t>(8, 'x').text(10, "ok");
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("S"), host.bytes, 0).text, "[S]: s=\"q\"t\" n=1  v=78[x]  rest=\"ok\"\n");
    host.put<int32_t>(4, 3);  // renderers do not compare a referred count with the declared one
    const drtest::Printed beyond = drtest::print(dr_print_data, img.meta("S"), host.bytes, 0);
    EXPECT_EQ(beyond.text, "[S]: s=\"q\"t\" n=3  v[3]=78[x] 0 6f[o]  rest=\"ok\"\n");
    host.put<int32_t>(4, 9);  // data beyond the host end: an error, and not even the prefix
    const drtest::Printed err = drtest::print(dr_print_data, img.meta("S"), host.bytes, 0);
    EXPECT_EQ(err.rc, -1);
    EXPECT_EQ(err.text, "[S]: s=\"q\"t\" n=9 \n");
    EXPECT_EQ(err.host_len, 8);
    host.put<int32_t>(4, -1);
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("S"), host.bytes, 0).rc, -1);
    std::memcpy(&host.bytes[0], "abcd", 4);  // no NUL within the capacity
    const drtest::Printed nonul = drtest::print(dr_print_data, img.meta("S"), host.bytes, 0);
    EXPECT_EQ(nonul.rc, -1);
    EXPECT_EQ(nonul.text, "[S]:\n");
}

TEST(TextRender, UnionsAndNesting) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("s", "uchar"), nested("u", "U").select("s"), field("z", "uchar")}),
         drtest::union_of("U", 2, {field("a", "uchar").id(3), field("b", "char").id(4)}),
         drtest::union_of("D", 3, {field("d", "uchar").id(-1), field("e", "uchar").id(1)})}));
    std::vector<char> host = {4, 'B', 'Z'};
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("R"), host, 0).text, "[R]: s=4  b=66[B]  z=5a[Z] \n");
    host[0] = 9;  // nothing matches and there is no default: the rest of the record is left out
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("R"), host, 0).text, "[R]: s=9 \n");
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("D"), host, 0).text, "[D]: d=9 \n");  // top-level union
}

}  // namespace

namespace {

// A count member can claim far more elements than the host record holds; with every member
// of the element skipped the walk used to spin through all of them.
TEST(TextRender, HugeCountsOfSkippedElementsFailAtOnce) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("n", "int"), nested("e", "E", 4).refer("n")}),
         record("E", 2, {field("later", "int").version(9)}),
         record("Empty", 3, {}), record("Z", 4, {field("n", "int"), nested("z", "Empty", 0).refer("n")})}));
    drtest::HostRecord host(20);
    host.put<int32_t>(0, 0x7FFFFFFF);
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("R"), host.bytes, 1).rc, -1);
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("Z"), host.bytes, 1).rc, -1);
    host.put<int32_t>(0, 4);  // four elements of four bytes lie inside the 20-byte record
    const drtest::Printed fits = drtest::print(dr_print_data, img.meta("R"), host.bytes, 1);
    EXPECT_EQ(fits.rc, 0);
    EXPECT_EQ(fits.text, "[R]: n=4 \n");
    host.put<int32_t>(0, 5);  // the fifth starts right at the end: still inside
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("R"), host.bytes, 1).rc, 0);
    host.put<int32_t>(0, 6);
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("R"), host.bytes, 1).rc, -1);
    host.put<int32_t>(0, 1);  // one element of a type without host size is fine
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("Z"), host.bytes, 1).rc, 0);
}

}  // namespace
