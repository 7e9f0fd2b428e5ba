// XML rendering: the Hdr example, nested elements, io bits and the error trailer.
#include <gtest/gtest.h>

#include "tests/render/hdr_example.h"
#include "tests/render/render_support.h"
#include "tests/support/records.h"

namespace {

using drtest::field;
using drtest::nested;
using drtest::record;

const std::string kHdrXml =
    "<Hdr>\n"
    "<iNum> 2 </iNum>\n"
    "<szName>abc</szName>\n"
    "\n"
    "<Pos>\n"
    "<nX> 1 </nX>\n"
    "<nY> -2 </nY>\n"
    "</Pos>\n"
    "<aiVal> 7  8 </aiVal>\n"
    "<bFlag> 0x59 </bFlag>\n"
    "<cSep> 32 </cSep>\n"
    "</Hdr>\n";

TEST(XmlRender, HdrExampleInAllVariants) {
    ASSERT_EQ(kHdrXml.size(), 154u);
    drtest::Image img = drtest::build(drtest::hdr_lib());
    const std::vector<char> host = drtest::hdr_host().bytes;
    const drtest::Printed p = drtest::print(dr_print_data_xml, img.meta("Hdr"), host, 0);
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.text, kHdrXml);
    EXPECT_EQ(p.host_len, 36);  // the stream variant leaves the host length alone
    const drtest::Sprinted s = drtest::sprint(dr_sprint_data_xml, img.meta("Hdr"), host, 0, 156);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.text, kHdrXml);
    EXPECT_EQ(s.out_len, 154);
    EXPECT_EQ(s.host_len, 34);
    const drtest::Sprinted short_by_one = drtest::sprint(dr_sprint_data_xml, img.meta("Hdr"), host, 0, 155);
    EXPECT_EQ(short_by_one.rc, -1);  // the trailer did not fit
    EXPECT_EQ(short_by_one.out_len, 147);

    const std::string path = drtest::write_temp_file("hdr_xml", {});
    DrBuffer h{const_cast<char *>(host.data()), static_cast<int32_t>(host.size())};
    EXPECT_EQ(dr_print_data_xml_file(img.meta("Hdr"), path.c_str(), &h, 0), 0);
    const std::vector<uint8_t> file = drtest::read_file(path);
    EXPECT_EQ(std::string(file.begin(), file.end()), kHdrXml);
}

TEST(XmlRender, ArrayOfNestedRecordsGivesOneElementEach) {
    drtest::Image img = drtest::build(drtest::hdr_lib(2));
    const drtest::Printed p = drtest::print(dr_print_data_xml, img.meta("Hdr"), drtest::hdr_host(2).bytes, 0);
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.text,
              "<Hdr>\n<iNum> 2 </iNum>\n<szName>abc</szName>\n"
              "\n<Pos>\n<nX> 1 </nX>\n<nY> -2 </nY>\n</Pos>\n"
              "\n<Pos>\n<nX> 3 </nX>\n<nY> 4 </nY>\n</Pos>\n"
              "<aiVal> 7  8 </aiVal>\n<bFlag> 0x59 </bFlag>\n<cSep> 32 </cSep>\n</Hdr>\n");
}

TEST(XmlRender, IoBitsAndValueForms) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("a", "char").io(1), field("b", "uchar").io(DR_IO_NO_XML),
                         field("c", "uchar").io(DR_IO_NO_XML | 1),
                         field("tag", "char", 8), field("none", "int", 0), field("s", "string", 4)})}));
    drtest::HostRecord host(img.meta("R")->datasize);
    host.put<char>(0, 'A').put<uint8_t>(1, 'A').put<uint8_t>(2, 'A');
    std::memcpy(&host.bytes[3], "abc\0\0\0\0\0", 8);
    host.text(15, "");
    EXPECT_EQ(drtest::print(dr_print_data_xml, img.meta("R"), host.bytes, 0).text,
              "<R>\n<a> 65 </a>\n<tag> 97  98  99  0  0  0  0  0 </tag>\n<none></none>\n<s></s>\n</R>\n");
    // io bits leave members out of XML only.
    EXPECT_EQ(drtest::print(dr_print_data, img.meta("R"), host.bytes, 0).text,
              "[R]: a=65[A]  b=41[A]  c=41[A]  tag[8]=97[a] 98[b] 99[c] 0 0 0 0 0  none= s=\"\"\n");
}

TEST(XmlRender, UnionsStructTwoAndEightByteValues) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("s", "uchar"), nested("u", "U").select("s"), nested("w", "W", 2), field("q", "longlong")}),
         drtest::union_of("U", 2, {field("x", "short").id(1)}),
         [] { drtest::Meta w = record("W", 3, {field("k", "uchar"), field("j", "uchar")}); w.is_struct = 2; return w; }()}));
    drtest::HostRecord host(15);
    host.put<uint8_t>(0, 1).put<int16_t>(1, -5).put<uint8_t>(3, 7).put<uint8_t>(4, 8).put<uint8_t>(5, 9).put<uint8_t>(6, 10);
    const drtest::Printed p = drtest::print(dr_print_data_xml, img.meta("R"), host.bytes, 0);
    EXPECT_EQ(p.rc, 0);
    // The union has no element of its own; a record whose is_struct is 2 is a struct, as
    // the encoder takes it (both members of each element), and keeps its elements.
    const std::string want = "<R>\n<s> 0x1 </s>\n<x> -5 </x>\n\n<W>\n<k> 0x7 </k>\n<j> 0x8 </j>\n</W>\n"
                             "\n<W>\n<k> 0x9 </k>\n<j> 0xa </j>\n</W>\n<q></q>\n</R>\n";
    EXPECT_EQ(p.text, want);
    const drtest::Encoded net = drtest::encode(img.meta("R"), host.bytes, 0, 64);
    ASSERT_EQ(net.rc, 0);
    EXPECT_EQ(std::vector<uint8_t>(net.net.begin() + 3, net.net.begin() + 7), (std::vector<uint8_t>{7, 8, 9, 10}));
    const drtest::Sprinted s = drtest::sprint(dr_sprint_data_xml, img.meta("R"), host.bytes, 0, 200);
    EXPECT_EQ(s.rc, -1);
    EXPECT_EQ(s.text, want);
    drtest::Image top_union = drtest::build(drtest::library({drtest::union_of("T", 1, {field("x", "short").id(9)})}));
    EXPECT_EQ(drtest::print(dr_print_data_xml, top_union.meta("T"), host.bytes, 0).text, "<T>\n<x> -1279 </x>\n</T>\n");
}

TEST(XmlRender, ErrorInsideANestedRecordClosesWithItsName) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {field("a", "uchar"), nested("in", "In")}), record("In", 2, {field("b", "uchar"), field("s", "string", 2)})}));
    const std::vector<char> host = {1, 2, 'x', 'y'};  // s has no NUL within its capacity
    const drtest::Printed p = drtest::print(dr_print_data_xml, img.meta("R"), host, 0);
    EXPECT_EQ(p.rc, -1);
    EXPECT_EQ(p.text, "<R>\n<a> 0x1 </a>\n\n<In>\n<b> 0x2 </b>\n</In>\n");
}

TEST(XmlRender, UnresolvedSelectorClosesTheEnclosingElement) {
    drtest::Image img = drtest::build(drtest::library(
        {record("R", 1, {nested("e", "E", 2)}),
         record("E", 2, {field("s", "uchar"), nested("u", "U").select("s"), field("z", "uchar")}),
         drtest::union_of("U", 3, {field("x", "uchar").id(1)})}));
    const std::vector<char> host = {5, 0, 0, 1, 9, 8};
    EXPECT_EQ(drtest::print(dr_print_data_xml, img.meta("R"), host, 0).text,
              "<R>\n\n<E>\n<s> 0x5 </s>\n</E>\n\n<E>\n<s> 0x1 </s>\n<x> 0x9 </x>\n<z> 0x8 </z>\n</E>\n</R>\n");
}

TEST(XmlRender, VersionRefusalAndMissingDirectory) {
    drtest::Meta r = record("R", 1, {field("a", "uchar")});
    r.version = 3;
    drtest::Image img = drtest::build(drtest::library({r}));
    std::vector<char> host = {1};
    DrBuffer h{host.data(), 1};
    const std::string path = drtest::write_temp_file("refused_xml", {'o', 'l', 'd'});
    EXPECT_EQ(dr_print_data_xml_file(img.meta("R"), path.c_str(), &h, 2), -1);
    EXPECT_TRUE(drtest::read_file(path).empty());  // opened, so emptied, before the refusal
    EXPECT_EQ(dr_print_data_xml_file(img.meta("R"), "/nonexistent/dir/out.xml", &h, 0), -1);
    const drtest::Sprinted s = drtest::sprint(dr_sprint_data_xml, img.meta("R"), host, 2, 16, '\x2A');
    EXPECT_EQ(s.rc, -1);
    EXPECT_EQ(s.raw, std::string(16, '\x2A'));
}

}  // namespace
