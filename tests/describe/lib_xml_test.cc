// XML description of a typelib: the worked example from all three variants, the buffer's cut
// rules, every attribute omission rule and the two version-attribute rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/describe/capture.h"
#include "tests/support/image_builder.h"

namespace {

using drtest::field;
using drtest::nested;
using drtest::record;

const char kDemoXml[] =
    "<typelib name=\"demo\" id=\"7\" version=\"1\" >\n"
    "\t<macros>\n"
    "\t\t<macro name=\"MAX_POINTS\" id=\"16\" />\n"
    "\t</macros>\n"
    "\t<type name=\"Point\" id=\"100\" class=\"struct\" >\n"
    "\t\t<item name=\"x\" id=\"1\" type=\"int\" />\n"
    "\t\t<item name=\"y\" id=\"2\" type=\"int\" />\n"
    "\t</type>\n"
    "</typelib>\n";

std::string stream_xml(const DrLib *lib) {
    return drtest::capture([&](FILE *fp) { EXPECT_EQ(dr_print_lib_xml(lib, fp), 0); });
}

struct Sprinted {
    int result;
    int len;
    std::string text;
};

// Runs the buffer variant with `capacity` inside a larger block and checks that no byte
// past the capacity was touched.
Sprinted sprint_xml(const DrLib *lib, int capacity) {
    std::vector<char> block(static_cast<size_t>(capacity) + 64, 'Z');
    int len = capacity;
    const int result = dr_sprint_lib_xml(lib, block.data(), &len);
    for (size_t i = static_cast<size_t>(capacity); i < block.size(); ++i)
        EXPECT_EQ(block[i], 'Z') << "byte " << i << " past capacity " << capacity;
    return {result, len, std::string(block.data(), std::strlen(block.data()))};
}

TEST(LibXml, WorkedExampleFromAllThreeVariants) {
    drtest::Image img = drtest::build(drtest::demo_lib());
    EXPECT_EQ(stream_xml(img.lib()), kDemoXml);

    const std::string path = drtest::temp_path("demo.xml");
    ASSERT_EQ(dr_print_lib_xml_file(img.lib(), path.c_str()), 0);
    EXPECT_EQ(drtest::file_text(path), kDemoXml);

    const Sprinted s = sprint_xml(img.lib(), 4096);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.text, kDemoXml);
    EXPECT_EQ(s.len, static_cast<int>(std::strlen(kDemoXml)));
}

TEST(LibXml, FileVariantTruncatesAndRefusesAMissingDirectory) {
    drtest::Image img = drtest::build(drtest::demo_lib());
    const std::string path = drtest::temp_path("old.xml");
    std::FILE *fp = std::fopen(path.c_str(), "w");
    ASSERT_NE(fp, nullptr);
    std::fputs(std::string(2000, '#').c_str(), fp);
    std::fclose(fp);
    ASSERT_EQ(dr_print_lib_xml_file(img.lib(), path.c_str()), 0);
    EXPECT_EQ(drtest::file_text(path), kDemoXml);
    EXPECT_EQ(dr_print_lib_xml_file(img.lib(), (path + ".d/missing/x.xml").c_str()), -1);
}

TEST(LibXml, BufferCapacityRules) {
    drtest::Image img = drtest::build(drtest::demo_lib());
    const std::string full = kDemoXml;
    const int d = static_cast<int>(full.size());

    Sprinted s = sprint_xml(img.lib(), d + 2);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.text, full);
    EXPECT_EQ(s.len, d);

    // The last piece fills the room exactly: all of the text, but counted as cut.
    s = sprint_xml(img.lib(), d + 1);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.text, full);
    EXPECT_EQ(s.len, d);

    s = sprint_xml(img.lib(), d);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.text, full.substr(0, d - 1));
    EXPECT_EQ(s.len, d - 1);

    s = sprint_xml(img.lib(), 1);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.text, "");
    EXPECT_EQ(s.len, 0);

    // Every smaller capacity holds the description cut to capacity - 1 bytes.
    for (int cap = 1; cap <= d + 1; ++cap) {
        s = sprint_xml(img.lib(), cap);
        ASSERT_EQ(s.result, -1) << cap;
        ASSERT_EQ(s.text, full.substr(0, cap - 1)) << cap;
        ASSERT_EQ(s.len, cap - 1) << cap;
    }
}

TEST(LibXml, BufferVariantRefusesUnusableBuffersWithoutWriting) {
    drtest::Image img = drtest::build(drtest::demo_lib());
    char buf[8] = "keep";
    for (int cap : {0, -5}) {
        int len = cap;
        EXPECT_EQ(dr_sprint_lib_xml(img.lib(), buf, &len), -1);
        EXPECT_EQ(len, 0);
        EXPECT_STREQ(buf, "keep");
    }
    int len = 100;
    EXPECT_EQ(dr_sprint_lib_xml(img.lib(), nullptr, &len), -1);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(dr_sprint_lib_xml(img.lib(), buf, nullptr), -1);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(dr_print_lib_xml(nullptr, stdout), -1);
    EXPECT_EQ(dr_print_lib_xml(img.lib(), nullptr), -1);
    EXPECT_EQ(dr_print_lib_xml_file(img.lib(), nullptr), -1);
}

TEST(LibXml, HeaderAttributesAndEmptySections) {
    drtest::Lib lib;
    lib.name = "";
    lib.id = -1;
    lib.version = 0;
    lib.padding = -3;
    drtest::Image bare = drtest::build(lib);
    EXPECT_EQ(stream_xml(bare.lib()), "<typelib >\n</typelib>\n");
    EXPECT_EQ(sprint_xml(bare.lib(), 64).text, "<typelib >\n</typelib>\n");

    lib.name = "n";
    lib.id = 0;
    lib.version = -2;
    lib.padding = 4;
    drtest::Image some = drtest::build(lib);
    EXPECT_EQ(stream_xml(some.lib()), "<typelib name=\"n\" id=\"0\" padding=\"4\" >\n</typelib>\n");

    // Metas without macros: no macros element at all.
    lib.metas = {record("E", 3, {})};
    drtest::Image no_macros = drtest::build(lib);
    EXPECT_EQ(stream_xml(no_macros.lib()),
              "<typelib name=\"n\" id=\"0\" padding=\"4\" >\n"
              "\t<type name=\"E\" id=\"3\" class=\"struct\" >\n"
              "\t</type>\n"
              "</typelib>\n");
}

// A library that exercises every item attribute rule.
drtest::Lib rich_lib() {
    drtest::Lib lib;
    lib.name = "rich";
    lib.version = 2;
    lib.macros = {{"C_VER", 9}, {"A_ID", 10}, {"B_LEN", 3}};  // sorted: A_ID, B_LEN, C_VER
    drtest::Meta choice = drtest::union_of("Choice", 5, {field("i", "int").id(1), field("s", "string", 8).id(2)});
    choice.id_macro_name = "A_ID";
    choice.sizewidth = 2;
    choice.sizetype = 5;
    drtest::Meta msg = record("Msg", -1,
                              {field("kind", "ushort").id(0),
                               field("n", "int").id(1),
                               field("items", "int", 3).id(2).refer("n"),
                               field("zero", "char", 0).id(3),
                               field("neg", "int", -1).id(-1),
                               field("mac", "char", 3).id(4).count_macro("C_VER"),
                               field("flags", "int").id(5).io(DR_IO_NO_XML),
                               field("iom", "int").id(6).io_macro("B_LEN"),
                               nested("body", "Choice").id(7).id_macro("A_ID").select("kind"),
                               field("len", "int").id(8).target("body"),
                               field("note", "int").id(9).describe("a \"q\" & <b>"),
                               field("odd", "int").id(10).type(25),
                               field("", "int").id(11)});
    msg.sizewidth = 0;  // no size field: sizetype is not shown
    msg.sizetype = 5;
    lib.metas = {choice, msg};
    return lib;
}

const char kRichXml[] =
    "<typelib name=\"rich\" version=\"2\" >\n"
    "\t<macros>\n"
    "\t\t<macro name=\"A_ID\" id=\"10\" />\n"
    "\t\t<macro name=\"B_LEN\" id=\"3\" />\n"
    "\t\t<macro name=\"C_VER\" id=\"9\" />\n"
    "\t</macros>\n"
    "\t<type name=\"Choice\" sizetype=\"ushort\" id=\"A_ID\" class=\"union\" >\n"
    "\t\t<item name=\"i\" id=\"1\" type=\"int\" />\n"
    "\t\t<item name=\"s\" id=\"2\" count=\"8\" type=\"string\" />\n"
    "\t</type>\n"
    "\t<type name=\"Msg\" class=\"struct\" >\n"
    "\t\t<item name=\"kind\" id=\"0\" type=\"ushort\" />\n"
    "\t\t<item name=\"n\" id=\"1\" type=\"int\" />\n"
    "\t\t<item name=\"items\" id=\"2\" count=\"3\" type=\"int\" refer=\"n\" />\n"
    "\t\t<item name=\"zero\" id=\"3\" count=\"0\" type=\"char\" />\n"
    "\t\t<item name=\"neg\" type=\"int\" />\n"
    "\t\t<item name=\"mac\" id=\"4\" count=\"C_VER\" type=\"char\" />\n"
    "\t\t<item name=\"flags\" id=\"5\" io=\"2\" type=\"int\" />\n"
    "\t\t<item name=\"iom\" id=\"6\" io=\"B_LEN\" type=\"int\" />\n"
    "\t\t<item name=\"body\" id=\"A_ID\" type=\"Choice\" select=\"kind\" />\n"
    "\t\t<item name=\"len\" id=\"8\" type=\"int\" target=\"body.i\" />\n"
    "\t\t<item name=\"note\" id=\"9\" type=\"int\" desc=\"a \"q\" & <b>\" />\n"
    "\t\t<item name=\"odd\" id=\"10\" />\n"
    "\t\t<item id=\"11\" type=\"int\" />\n"
    "\t</type>\n"
    "</typelib>\n";

TEST(LibXml, ItemAttributesMacrosPathsAndRawText) {
    drtest::Image img = drtest::build(rich_lib());
    EXPECT_EQ(stream_xml(img.lib()), kRichXml);
    // No versions differ here, so the buffer variant writes the same text.
    const Sprinted s = sprint_xml(img.lib(), 8192);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.text, kRichXml);
}

TEST(LibXml, MacroNameWinsOverTheNumberWhateverItHolds) {
    drtest::Image img = drtest::build(rich_lib());
    img.entry("Msg", "mac").count = 1;  // a count of 1 alone would be left out
    img.meta("Choice")->id = -1;        // an id of -1 alone would be left out
    const std::string xml = stream_xml(img.lib());
    EXPECT_NE(xml.find("<item name=\"mac\" id=\"4\" count=\"C_VER\" type=\"char\" />"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<type name=\"Choice\" sizetype=\"ushort\" id=\"A_ID\" class=\"union\" >"), std::string::npos);
}

TEST(LibXml, SizetypeAndItemTypeOnlyFromRowsOfTheTable) {
    drtest::Image img = drtest::build(rich_lib());
    drtest::Image other = drtest::build(rich_lib());
    img.meta("Choice")->sizetype = 19;
    other.meta("Choice")->sizetype = -1;
    for (drtest::Image *i : {&img, &other})
        EXPECT_NE(stream_xml(i->lib()).find("<type name=\"Choice\" id=\"A_ID\" class=\"union\" >"), std::string::npos);
    img.meta("Choice")->sizetype = 18;
    img.meta("Choice")->sizewidth = -1;
    EXPECT_NE(stream_xml(img.lib()).find("<type name=\"Choice\" id=\"A_ID\" class=\"union\" >"), std::string::npos);
    img.meta("Choice")->sizewidth = 4;
    EXPECT_NE(stream_xml(img.lib()).find("<type name=\"Choice\" sizetype=\"string\" id=\"A_ID\""), std::string::npos);

    // A base type member whose type is -1 or past the table has no type attribute.
    img.entry("Msg", "n").type = -1;
    img.entry("Msg", "kind").type = 19;
    const std::string xml = stream_xml(img.lib());
    EXPECT_NE(xml.find("<item name=\"kind\" id=\"0\" />"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<item name=\"n\" id=\"1\" />"), std::string::npos) << xml;
    // A member naming a meta shows the meta's name whatever its type row.
    img.entry("Msg", "body").type = 77;
    EXPECT_NE(stream_xml(img.lib()).find("type=\"Choice\" select=\"kind\""), std::string::npos);
}

TEST(LibXml, VersionAttributesDifferBetweenStreamAndBuffer) {
    drtest::Lib lib;
    lib.name = "v";
    lib.version = 5;
    lib.macros = {{"V_NEXT", 6}};
    drtest::Meta t = record("T", 1,
                            {field("a", "int").version(5), field("b", "int").version(3), field("c", "int").version(0),
                             field("d", "int").version(7), field("e", "int").version(2).version_macro("V_NEXT")});
    t.version = 3;
    drtest::Meta same = record("Same", 2, {field("f", "int").version(5)});
    same.version = 5;
    drtest::Meta mac = record("Mac", 3, {field("g", "int").version(-4)});
    mac.version = 5;
    mac.version_macro_name = "V_NEXT";
    lib.metas = {t, same, mac};
    drtest::Image img = drtest::build(lib);

    const std::string head = "<typelib name=\"v\" version=\"5\" >\n"
                             "\t<macros>\n"
                             "\t\t<macro name=\"V_NEXT\" id=\"6\" />\n"
                             "\t</macros>\n";
    // A type whose version equals the library's: no version anywhere in either variant.
    const std::string same_xml = "\t<type name=\"Same\" id=\"2\" class=\"struct\" >\n"
                                 "\t\t<item name=\"f\" id=\"0\" type=\"int\" />\n"
                                 "\t</type>\n";
    // Stream and file: no version on types; an item's version shows when it differs from the library's.
    EXPECT_EQ(stream_xml(img.lib()), head +
                                         "\t<type name=\"T\" id=\"1\" class=\"struct\" >\n"
                                         "\t\t<item name=\"a\" id=\"0\" type=\"int\" />\n"
                                         "\t\t<item name=\"b\" id=\"0\" version=\"3\" type=\"int\" />\n"
                                         "\t\t<item name=\"c\" id=\"0\" type=\"int\" />\n"
                                         "\t\t<item name=\"d\" id=\"0\" version=\"7\" type=\"int\" />\n"
                                         "\t\t<item name=\"e\" id=\"0\" version=\"V_NEXT\" type=\"int\" />\n"
                                         "\t</type>\n" +
                                         same_xml +
                                         "\t<type name=\"Mac\" id=\"3\" class=\"struct\" >\n"
                                         "\t\t<item name=\"g\" id=\"0\" type=\"int\" />\n"
                                         "\t</type>\n"
                                         "</typelib>\n");
    // Buffer: a type's version shows when it differs from the library's; an item's when it
    // differs from its type's.
    const Sprinted s = sprint_xml(img.lib(), 8192);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.text, head +
                          "\t<type name=\"T\" id=\"1\" class=\"struct\" version=\"3\" >\n"
                          "\t\t<item name=\"a\" id=\"0\" version=\"5\" type=\"int\" />\n"
                          "\t\t<item name=\"b\" id=\"0\" type=\"int\" />\n"
                          "\t\t<item name=\"c\" id=\"0\" type=\"int\" />\n"
                          "\t\t<item name=\"d\" id=\"0\" version=\"7\" type=\"int\" />\n"
                          "\t\t<item name=\"e\" id=\"0\" version=\"V_NEXT\" type=\"int\" />\n"
                          "\t</type>\n" +
                          same_xml +
                          "\t<type name=\"Mac\" id=\"3\" class=\"struct\" version=\"V_NEXT\" >\n"
                          "\t\t<item name=\"g\" id=\"0\" type=\"int\" />\n"
                          "\t</type>\n"
                          "</typelib>\n");
}

TEST(LibXml, TargetThatNamesNoMember) {
    drtest::Lib lib;
    lib.name = "t";
    lib.metas = {record("R", 1, {field("a", "int").id(1), field("b", "int").id(2).target(40, 4)})};
    drtest::Image img = drtest::build(lib);
    const std::string item_b = "\t\t<item name=\"b\" id=\"2\" type=\"int\" target=\"";
    const std::string before = "<typelib name=\"t\" >\n"
                               "\t<type name=\"R\" id=\"1\" class=\"struct\" >\n"
                               "\t\t<item name=\"a\" id=\"1\" type=\"int\" />\n" +
                               item_b;
    EXPECT_EQ(stream_xml(img.lib()), before + "\" />\n\t</type>\n</typelib>\n");
    // The empty path cuts the buffer variant right after the attribute's opening quote.
    const Sprinted s = sprint_xml(img.lib(), 8192);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.text, before);
    EXPECT_EQ(s.len, static_cast<int>(before.size()));
}

TEST(LibXml, PathCutInsideTheBufferStopsAtTheEndOfTheRoom) {
    drtest::Image img = drtest::build(rich_lib());
    const std::string full = kRichXml;
    const size_t at = full.find("body.i") + 3;  // the room ends inside the path
    const Sprinted s = sprint_xml(img.lib(), static_cast<int>(at) + 1);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.text, full.substr(0, at));
    EXPECT_EQ(s.len, static_cast<int>(at));
}

}  // namespace
