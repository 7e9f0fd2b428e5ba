// drtool compile: the sample compiles to the committed typelib, sources round-trip through
// `xml --source`, and every error class gives FILE:LINE:COL and leaves no file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/tools/run.h"

namespace {

using drtest::drtool;
using drtest::sample;

void write_text(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DrtoolCompile, SampleSourceGivesTheCommittedTypelibAndItsHeader) {
    const std::string dir = drtest::scratch_dir("compile_sample");
    const drtest::Run r = drtool({"compile", sample("lobby.xml"), "-o", dir + "/proto.tlb", "--header", dir + "/lobby.h"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(drtest::read_file(dir + "/proto.tlb"), drtest::read_file(sample("proto.tlb")))
        << "examples/proto.tlb is not what examples/lobby.xml compiles to";
    ASSERT_EQ(drtool({"header", sample("proto.tlb"), dir + "/again.h"}).status, 0);
    std::string again = drtest::read_text(dir + "/again.h");
    for (size_t at; (at = again.find("AGAIN_H")) != std::string::npos;) again.replace(at, 7, "LOBBY_H");
    EXPECT_EQ(drtest::read_text(dir + "/lobby.h"), again);
    EXPECT_EQ(files_in(dir), (std::vector<std::string>{"again.h", "lobby.h", "proto.tlb"}));

    // Standard input, and a hex dump without -o.
    const drtest::Run piped = drtest::run_program(
        "/bin/sh", {"-c", std::string(DRTOOL_PATH) + " compile - -o '" + dir + "/piped.tlb' < '" + sample("lobby.xml") + "'"});
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(drtest::read_file(dir + "/piped.tlb"), drtest::read_file(sample("proto.tlb")));
    const drtest::Run dump = drtool({"compile", sample("lobby.xml")});
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.out.rfind("00000000  55 44 67 00 01 00 00 00", 0), 0u) << dump.out.substr(0, 80);
}

// The complete source of a compiled typelib compiles to the same bytes and writes itself
// again unchanged; the plain description of a typelib without length fields does too.
TEST(DrtoolCompile, XmlSourceRoundTripsByteForByte) {
    const std::string dir = drtest::scratch_dir("compile_source");
    const drtest::Run src = drtool({"xml", "--source", sample("proto.tlb"), "-o", dir + "/lobby_full.xml"});
    ASSERT_EQ(src.status, 0) << src.err;
    ASSERT_EQ(drtool({"compile", dir + "/lobby_full.xml", "-o", dir + "/again.tlb"}).status, 0);
    EXPECT_EQ(drtest::read_file(dir + "/again.tlb"), drtest::read_file(sample("proto.tlb")));
    const drtest::Run again = drtool({"xml", "--source", dir + "/again.tlb"});
    EXPECT_EQ(again.out, drtest::read_text(dir + "/lobby_full.xml"));
    EXPECT_NE(again.out.find("netlen_size=\"2\" netlen_pos=\"2\""), std::string::npos) << again.out;

    const drtest::Image plain = drtest::build(drtest::demo_lib());
    drtest::write_bytes(dir + "/demo.tlb", plain.vec());
    ASSERT_EQ(drtool({"xml", dir + "/demo.tlb", "-o", dir + "/demo.xml"}).status, 0);
    ASSERT_EQ(drtool({"compile", dir + "/demo.xml", "-o", dir + "/demo2.tlb"}).status, 0);
    EXPECT_EQ(drtest::read_file(dir + "/demo2.tlb"), plain.vec());
}

struct BadSource {
    const char *what;
    std::string source;
    std::string error;  // LINE:COL: message
};

std::string lib(const std::string &body) { return "<typelib name=\"t\" version=\"1\">\n" + body + "</typelib>\n"; }

const std::string kPoint = "  <type name=\"Point\" id=\"1\">\n    <item name=\"x\" type=\"int\"/>\n  </type>\n";

// Each error class, with the place it is reported at: the element that is wrong.
const std::vector<BadSource> kBadSources = {
    {"malformed XML", lib("  <type name=\"A\" id=\"1\">\n  </typ>\n"), "3:5: malformed XML: mismatched tag"},
    {"unknown element", lib(kPoint + "  <struct name=\"B\"/>\n"), "5:3: unknown element <struct>"},
    {"element out of place", lib("  <item name=\"x\" type=\"int\"/>\n"), "2:3: <item> is not allowed inside <typelib>"},
    {"unknown attribute", lib("  <type name=\"A\" id=\"1\" align=\"4\"/>\n"), "2:3: unknown attribute 'align' on <type>"},
    {"text between elements", lib("  int x;\n"), "2:3: text is not allowed here, only elements"},
    {"unknown type", lib("  <type name=\"A\" id=\"1\">\n    <item name=\"p\" type=\"Pointt\"/>\n  </type>\n"),
     "3:5: unknown type 'Pointt'"},
    {"unknown macro", lib("  <type name=\"A\" id=\"1\">\n    <item name=\"p\" type=\"int\" count=\"MAX_P\"/>\n  </type>\n"),
     "3:5: count 'MAX_P' is neither a number nor a known macro"},
    {"duplicate type name", lib(kPoint + kPoint), "5:3: duplicate type name 'Point'"},
    {"duplicate type id", lib(kPoint + "  <type name=\"B\" id=\"1\"/>\n"), "5:3: duplicate type id 1 (also type 'Point')"},
    {"duplicate macro name",
     lib("  <macros>\n    <macro name=\"M\" id=\"1\"/>\n    <macro name=\"M\" id=\"2\"/>\n  </macros>\n"),
     "4:5: duplicate macro name 'M'"},
    {"duplicate member name", lib("  <type name=\"A\" id=\"1\">\n    <item name=\"x\" type=\"int\"/>\n"
                                  "    <item name=\"x\" type=\"char\"/>\n  </type>\n"),
     "4:5: duplicate member name 'x' in 'A'"},
    {"name of 32 bytes", lib("  <type name=\"A23456789012345678901234567890AB\" id=\"1\"/>\n"),
     "2:3: type name 'A23456789012345678901234567890AB' is longer than 31 bytes"},
    {"description of 32 bytes",
     lib("  <type name=\"A\" id=\"1\">\n    <item name=\"x\" type=\"int\" desc=\"d2345678901234567890123456789012\"/>\n"
         "  </type>\n"),
     "3:5: description 'd2345678901234567890123456789012' is longer than 31 bytes"},
    {"type containing itself", lib("  <type name=\"A\" id=\"1\">\n    <item name=\"b\" type=\"B\"/>\n  </type>\n"
                                   "  <type name=\"B\" id=\"2\">\n    <item name=\"a\" type=\"A\" count=\"2\"/>\n  </type>\n"),
     "6:5: type 'A' contains itself through 'B'"},
    {"refer naming no member",
     lib("  <type name=\"A\" id=\"1\">\n    <item name=\"n\" type=\"int\"/>\n"
         "    <item name=\"v\" type=\"int\" count=\"4\" refer=\"m\"/>\n  </type>\n"),
     "4:5: refer path 'm' names no member of 'A'"},
    {"refer naming a double",
     lib("  <type name=\"A\" id=\"1\">\n    <item name=\"n\" type=\"double\"/>\n"
         "    <item name=\"v\" type=\"int\" count=\"4\" refer=\"n\"/>\n  </type>\n"),
     "4:5: refer 'n' is not a single integer of 1, 2 or 4 bytes"},
    {"select naming an 8-byte integer",
     lib("  <type name=\"U\" id=\"1\" class=\"union\">\n    <item name=\"a\" id=\"1\" type=\"int\"/>\n  </type>\n"
         "  <type name=\"A\" id=\"2\">\n    <item name=\"s\" type=\"longlong\"/>\n"
         "    <item name=\"u\" type=\"U\" select=\"s\"/>\n  </type>\n"),
     "7:5: select 's' is not a single integer of 1, 2 or 4 bytes"},
    {"refer on a single value",
     lib("  <type name=\"A\" id=\"1\">\n    <item name=\"n\" type=\"int\"/>\n"
         "    <item name=\"v\" type=\"int\" refer=\"n\"/>\n  </type>\n"),
     "4:5: refer on 'v', which is not an array (count 1)"},
    {"union member without select",
     lib("  <type name=\"U\" id=\"1\" class=\"union\">\n    <item name=\"a\" id=\"1\" type=\"int\"/>\n  </type>\n"
         "  <type name=\"A\" id=\"2\">\n    <item name=\"u\" type=\"U\"/>\n  </type>\n"),
     "6:5: member 'u' of union type 'U' needs a select path"},
    {"two union members with one id",
     lib("  <type name=\"U\" id=\"1\" class=\"union\">\n    <item name=\"a\" id=\"3\" type=\"int\"/>\n"
         "    <item name=\"b\" id=\"3\" type=\"short\"/>\n  </type>\n"),
     "4:5: union 'U' has two members with id 3"},
    {"type without members", lib("  <type name=\"A\" id=\"1\">\n  </type>\n"), "2:3: type 'A' has no members"},
    {"count inside a union",
     lib("  <type name=\"U\" id=\"1\" class=\"union\">\n    <item name=\"a\" id=\"1\" type=\"int\"/>\n  </type>\n"
         "  <type name=\"A\" id=\"2\">\n    <item name=\"s\" type=\"int\"/>\n    <item name=\"u\" type=\"U\" select=\"s\"/>\n"
         "    <item name=\"v\" type=\"int\" count=\"4\" refer=\"u.a\"/>\n  </type>\n"),
     "8:5: refer path 'u.a' goes into the union 'U'"},
    {"count taken from a union's own bytes (found by fuzzing: it read back as another member)",
     lib("  <type name=\"U\" id=\"1\" class=\"union\">\n    <item name=\"a\" id=\"1\" type=\"char\" count=\"4\"/>\n"
         "    <item name=\"n\" id=\"2\" type=\"ushort\"/>\n    <item name=\"v\" id=\"3\" type=\"int\" count=\"2\" refer=\"n\"/>\n"
         "  </type>\n"),
     "5:5: member 'v' of union 'U' cannot take a count or selector from the union's own bytes"},
    {"size past 32 bits",
     lib("  <type name=\"A\" id=\"1\">\n    <item name=\"a\" type=\"int\" count=\"400000000\"/>\n"
         "    <item name=\"b\" type=\"int\" count=\"400000000\"/>\n  </type>\n"),
     "4:5: member 'b' makes 'A' larger than 2 GiB"},
};

// The README's five-minute example: its XML compiles, the header declares every member its C
// code fills, and only the lines that lineCount says are sent.
TEST(DrtoolCompile, ReadmeFiveMinuteExampleCompilesAndSendsOnlyCountedLines) {
    const std::string readme = drtest::read_text(EXAMPLES_DIR "/../README.md");
    const size_t section = readme.find("## Your own protocol in five minutes");
    ASSERT_NE(section, std::string::npos);
    const auto block = [&](const std::string &opening) {
        const size_t at = readme.find(opening, section);
        EXPECT_NE(at, std::string::npos) << opening;
        const size_t from = at + opening.size();
        std::string text, line;
        std::istringstream lines(readme.substr(from, readme.find("   ```\n", from) - from));
        while (std::getline(lines, line)) text += (line.size() >= 3 ? line.substr(3) : "") + "\n";
        return text;
    };
    const std::string dir = drtest::scratch_dir("readme-shop");
    write_text(dir + "/shop.xml", block("   ```xml\n"));
    const drtest::Run r = drtool({"compile", dir + "/shop.xml", "-o", dir + "/shop.tlb", "--header", dir + "/shop.h"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string header = drtest::read_text(dir + "/shop.h");
    const std::string code = block("   ```c\n");
    EXPECT_TRUE(std::regex_search(header, std::regex("typedef struct \\w+\\s+ORDER;"))) << header;
    const std::regex member("order\\.(?:\\w+\\[\\d+\\]\\.)?(\\w+)");
    int members = 0;
    for (auto it = std::sregex_iterator(code.begin(), code.end(), member); it != std::sregex_iterator(); ++it, ++members)
        EXPECT_TRUE(std::regex_search(header, std::regex(" " + (*it)[1].str() + "(\\[\\w+\\])?;"))) << (*it)[1].str();
    EXPECT_EQ(members, 4);
#if DRTOOL_HAS_JSON
    const auto encoded_size = [&](int lines) {
        std::string json = "{\"customer\":\"alice\",\"lineCount\":" + std::to_string(lines) + ",\"lines\":[";
        for (int i = 0; i < lines; ++i) json += std::string(i ? "," : "") + "{\"sku\":4711,\"qty\":2}";
        write_text(dir + "/order.json", json + "]}");
        const drtest::Run e = drtool({"encode", dir + "/shop.tlb", "Order", dir + "/order.json", "-o", dir + "/order.net"});
        EXPECT_EQ(e.status, 0) << e.err;
        return drtest::read_file(dir + "/order.net").size();
    };
    const size_t one = encoded_size(1);
    EXPECT_EQ(encoded_size(2), one + 6);  // a uint and a ushort per line
    EXPECT_EQ(encoded_size(8), one + 7 * 6);
#endif
}

TEST(DrtoolCompile, EveryErrorClassSaysWhereAndLeavesNoFile) {
    for (const BadSource &bad : kBadSources) {
        const std::string dir = drtest::scratch_dir("compile_error");
        write_text(dir + "/bad.xml", bad.source);
        write_text(dir + "/out.tlb", "old");  // an earlier output stays as it was
        const drtest::Run r = drtool({"compile", dir + "/bad.xml", "-o", dir + "/out.tlb", "--header", dir + "/out.h"});
        EXPECT_EQ(r.status, 1) << bad.what;
        EXPECT_EQ(r.err, dir + "/bad.xml:" + bad.error + "\n") << bad.what;
        EXPECT_EQ(r.out, "") << bad.what;
        EXPECT_EQ(drtest::read_text(dir + "/out.tlb"), "old") << bad.what;
        EXPECT_EQ(files_in(dir), (std::vector<std::string>{"bad.xml", "out.tlb"})) << bad.what;
    }
}

TEST(DrtoolCompile, UnwritableOutputIsReportedAndNothingIsLeft) {
    const std::string dir = drtest::scratch_dir("compile_unwritable");
    const drtest::Run r = drtool({"compile", sample("lobby.xml"), "-o", dir + "/missing/out.tlb"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create " + dir + "/missing/out.tlb"), std::string::npos) << r.err;
    EXPECT_TRUE(files_in(dir).empty());
    const drtest::Run none = drtool({"compile", dir + "/none.xml"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "drtool: cannot open " + dir + "/none.xml: No such file or directory\n");
}

}  // namespace
