// What the compiler refuses because the walk or the generated header could not work with it,
// each at its place in the source, and the nearest sources that it still accepts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dr/dr_compile.h"
#include "tests/support/records.h"

namespace {

// "LINE:COL: message" of a refused source, or "ok" (and the image) when it compiles.
struct Outcome {
    std::string said;
    DrLib *lib = nullptr;
    explicit Outcome(const std::string &source) {
        DrCompileError err{};
        said = dr_compile(&lib, source.data(), source.size(), &err) == 0
                   ? "ok"
                   : std::to_string(err.line) + ":" + std::to_string(err.column) + ": " + err.message;
    }
    ~Outcome() { dr_free_lib(lib); }
};

std::string lib(const std::string &body) { return "<typelib name=\"t\" version=\"1\">\n" + body + "</typelib>\n"; }

const std::string kHead = "  <type name=\"H\" id=\"1\">\n    <item name=\"kind\" type=\"uchar\"/>\n"
                          "    <item name=\"n\" type=\"ushort\"/>\n  </type>\n"
                          "  <type name=\"U\" id=\"2\" class=\"union\">\n    <item name=\"a\" id=\"1\" type=\"int\"/>\n"
                          "    <item name=\"b\" id=\"2\" type=\"short\"/>\n  </type>\n";

// A record type R of these items after the types H (kind, n) and U (a = 1, b = 2).
std::string record(const std::string &items) { return lib(kHead + "  <type name=\"R\" id=\"3\">\n" + items + "  </type>\n"); }

struct Case {
    const char *what;
    std::string source;
    std::string said;
};

TEST(CompileRefusals, CountsAndSelectorsMustBeWalkedBeforeTheMemberTheyGovern) {
    const Case cases[] = {
        {"count after its array (decoding read the array first and lost it)",
         record("    <item name=\"xs\" count=\"4\" type=\"int\" refer=\"n\"/>\n    <item name=\"n\" type=\"int\"/>\n"),
         "11:5: refer 'n' of 'xs' names a later member: a count or selector member must come before the member it governs"},
        {"selector after its union",
         record("    <item name=\"u\" type=\"U\" select=\"s\"/>\n    <item name=\"s\" type=\"uchar\"/>\n"),
         "11:5: select 's' of 'u' names a later member: a count or selector member must come before the member it governs"},
        {"count inside a later struct", record("    <item name=\"xs\" count=\"4\" type=\"int\" refer=\"h.n\"/>\n"
                                               "    <item name=\"h\" type=\"H\"/>\n"),
         "11:5: refer 'h.n' of 'xs' names a later member: a count or selector member must come before the member it governs"},
        {"count inside the counted array itself",
         record("    <item name=\"hs\" count=\"2\" type=\"H\" refer=\"this.n\"/>\n"),
         "11:5: refer 'this.n' of 'hs' names the member itself: a count or selector member must come before the member "
         "it governs"},
        {"count newer than its array", record("    <item name=\"n\" type=\"int\" version=\"3\"/>\n"
                                              "    <item name=\"xs\" count=\"4\" type=\"int\" refer=\"n\" version=\"2\"/>\n"),
         "12:5: refer 'n' of 'xs' reaches 'n' of version 3, newer than the member's version 2: older requests would not read it"},
        {"selector in a struct newer than the union",
         record("    <item name=\"h\" type=\"H\" version=\"2\"/>\n    <item name=\"u\" type=\"U\" select=\"h.kind\"/>\n"),
         "12:5: select 'h.kind' of 'u' reaches 'h' of version 2, newer than the member's version 1: older requests would "
         "not read it"},
        {"count inside an array that may hold nothing",
         record("    <item name=\"c\" type=\"uchar\"/>\n    <item name=\"hs\" count=\"2\" type=\"H\" refer=\"c\"/>\n"
                "    <item name=\"xs\" count=\"4\" type=\"int\" refer=\"hs.n\"/>\n"),
         "13:5: refer 'hs.n' of 'xs' goes through 'hs', an array that may hold no element"},
    };
    for (const Case &c : cases) EXPECT_EQ(Outcome(c.source).said, c.said) << c.what;

    // Earlier members, nested struct members and the first element of a fixed array are walked first.
    const Outcome ok(record("    <item name=\"h\" type=\"H\"/>\n    <item name=\"hs\" count=\"2\" type=\"H\"/>\n"
                            "    <item name=\"u\" type=\"U\" select=\"h.kind\"/>\n"
                            "    <item name=\"xs\" count=\"4\" type=\"int\" refer=\"hs.n\" version=\"2\"/>\n"));
    ASSERT_EQ(ok.said, "ok");
    const DrMeta *r = nullptr;
    ASSERT_EQ(dr_meta_by_name(ok.lib, "R", &r), 0);
    EXPECT_EQ(r->entries[2].select_off, 0);
    EXPECT_EQ(r->entries[3].refer_off, 4);  // hs at 3, its n at 1
    EXPECT_EQ(r->entries[3].refer_size, 2);
}

TEST(CompileRefusals, NamesMustBeDeclarableInTheGeneratedHeader) {
    const Case cases[] = {
        {"type name with a dash", lib("  <type name=\"my-type\" id=\"1\">\n    <item name=\"x\" type=\"int\"/>\n  </type>\n"),
         "2:3: type name 'my-type' is not a C identifier (letters, digits and '_', not starting with a digit)"},
        {"member name starting with a digit",
         lib("  <type name=\"A\" id=\"1\">\n    <item name=\"2x\" type=\"int\"/>\n  </type>\n"),
         "3:5: member name '2x' is not a C identifier (letters, digits and '_', not starting with a digit)"},
        {"macro name with a blank", lib("  <macros>\n    <macro name=\"MAX LEN\" id=\"1\"/>\n  </macros>\n"),
         "3:5: macro name 'MAX LEN' is not a C identifier (letters, digits and '_', not starting with a digit)"},
        {"types that differ in case",
         lib("  <type name=\"A\" id=\"1\">\n    <item name=\"x\" type=\"int\"/>\n  </type>\n"
             "  <type name=\"a\" id=\"2\">\n    <item name=\"x\" type=\"int\"/>\n  </type>\n"),
         "5:3: type 'a' is declared as 'A' in the generated header, as type 'A' (line 2) is"},
        {"a type and the pointer typedef of another",
         lib("  <type name=\"A\" id=\"1\">\n    <item name=\"x\" type=\"int\"/>\n  </type>\n"
             "  <type name=\"LPa\" id=\"2\">\n    <item name=\"x\" type=\"int\"/>\n  </type>\n"),
         "5:3: type 'LPa' is declared as 'LPA' in the generated header, as type 'A' (line 2) is"},
        {"a macro and a type", lib("  <macros>\n    <macro name=\"Point\" id=\"1\"/>\n  </macros>\n"
                                   "  <type name=\"POINT\" id=\"1\">\n    <item name=\"x\" type=\"int\"/>\n  </type>\n"),
         "5:3: type 'POINT' is declared as 'POINT' in the generated header, as macro 'Point' (line 3) is"},
        {"macros that differ in case",
         lib("  <macros>\n    <macro name=\"max\" id=\"1\"/>\n    <macro name=\"MAX\" id=\"2\"/>\n  </macros>\n"),
         "4:5: macro 'MAX' is declared as 'MAX' in the generated header, as macro 'max' (line 3) is"},
        {"members that differ in case",
         lib("  <type name=\"A\" id=\"1\">\n    <item name=\"value\" type=\"int\"/>\n    <item name=\"Value\" type=\"int\"/>\n"
             "  </type>\n"),
         "4:5: member 'Value' is declared as 'iValue' in the generated header, as member 'value' (line 3) is"},
        {"a prefixed member and an unprefixed array",
         lib("  <type name=\"A\" id=\"1\">\n    <item name=\"value\" type=\"int\"/>\n"
             "    <item name=\"iValue\" type=\"short\" count=\"2\"/>\n  </type>\n"),
         "4:5: member 'iValue' is declared as 'iValue' in the generated header, as member 'value' (line 3) is"},
        {"one-letter members that differ in case",
         lib("  <type name=\"A\" id=\"1\">\n    <item name=\"x\" type=\"int\"/>\n    <item name=\"X\" type=\"int\"/>\n"
             "  </type>\n"),
         "4:5: member 'X' is declared as 'x' in the generated header, as member 'x' (line 3) is"},
        {"a keyword", lib("  <type name=\"A\" id=\"1\">\n    <item name=\"int\" type=\"short\" count=\"2\"/>\n  </type>\n"),
         "3:5: member 'int' is declared as 'int' in the generated header, a keyword of C or C++"},
        {"a C++ keyword", lib("  <type name=\"A\" id=\"1\">\n    <item name=\"Class\" type=\"int\" count=\"3\"/>\n  </type>\n"),
         "3:5: member 'Class' is declared as 'class' in the generated header, a keyword of C or C++"},
        {"a member that a macro would replace",
         lib("  <macros>\n    <macro name=\"_n\" id=\"1\"/>\n  </macros>\n"
             "  <type name=\"A\" id=\"1\">\n    <item name=\"_N\" type=\"short\" count=\"2\"/>\n  </type>\n"),
         "6:5: member '_N' is declared as '_N' in the generated header, the name of macro '_n' (line 3)"},
    };
    for (const Case &c : cases) EXPECT_EQ(Outcome(c.source).said, c.said) << c.what;
    // Names that differ after their prefixes, and a keyword behind a prefix, are declarable.
    EXPECT_EQ(Outcome(lib("  <type name=\"A\" id=\"1\">\n    <item name=\"value\" type=\"int\"/>\n"
                          "    <item name=\"Value\" type=\"short\"/>\n    <item name=\"int\" type=\"int\"/>\n  </type>\n"))
                  .said,
              "ok");
}

TEST(CompileRefusals, NumbersOutOfRangeAndMembersOlderThanTheirType) {
    const Case cases[] = {
        {"count past 32 bits", lib("  <type name=\"A\" id=\"1\">\n    <item name=\"x\" type=\"int\" count=\"4294967295\"/>\n"
                                   "  </type>\n"),
         "3:5: count '4294967295' is out of range: a number from -2147483648 to 2147483647"},
        {"library id past 32 bits", "<typelib name=\"t\" id=\"-2147483649\">\n</typelib>\n",
         "1:1: id '-2147483649' is out of range: a number from -2147483648 to 2147483647"},
        {"member older than its type",
         lib("  <type name=\"A\" id=\"1\" version=\"3\">\n    <item name=\"x\" type=\"int\" version=\"2\"/>\n  </type>\n"),
         "3:5: member 'x' has version 2, older than the version 3 of its type 'A'"},
        {"member older than the library's version, its type's",
         lib("  <type name=\"A\" id=\"1\">\n    <item name=\"x\" type=\"int\" version=\"0\"/>\n  </type>\n"),
         "3:5: member 'x' has version 0, older than the version 1 of its type 'A'"},
    };
    for (const Case &c : cases) EXPECT_EQ(Outcome(c.source).said, c.said) << c.what;
    EXPECT_EQ(Outcome(lib("  <type name=\"A\" id=\"1\" version=\"2\">\n    <item name=\"x\" type=\"int\" version=\"2\"/>\n"
                          "    <item name=\"y\" id=\"2147483647\" type=\"int\" version=\"5\"/>\n  </type>\n"))
                  .said,
              "ok");
}

// A chain of `levels` struct types, each holding the next; the last holds one byte.
std::string chain(int levels) {
    std::string body;
    for (int i = 0; i < levels; ++i) {
        body += "  <type name=\"L" + std::to_string(i) + "\" id=\"" + std::to_string(i + 1) + "\">\n";
        body += i + 1 < levels ? "    <item name=\"next\" type=\"L" + std::to_string(i + 1) + "\"/>\n"
                               : "    <item name=\"b\" type=\"uchar\"/>\n";
        body += "  </type>\n";
    }
    return lib(body);
}

TEST(CompileRefusals, RecordsNestAtMostAsDeepAsTheWalkGoes) {
    const Outcome deepest(chain(DR_MAX_DEPTH));
    ASSERT_EQ(deepest.said, "ok");
    // The walk takes all 32 levels: the one byte at the bottom is encoded and decoded.
    const DrMeta *top = nullptr;
    ASSERT_EQ(dr_meta_by_name(deepest.lib, "L0", &top), 0);
    const drtest::Encoded net = drtest::encode(top, {'\x7e'}, 0, 16);
    ASSERT_EQ(net.rc, 0);
    EXPECT_EQ(net.net, (std::vector<uint8_t>{0x7e}));
    // One level more is refused where the outermost type takes the deepest chain.
    EXPECT_EQ(Outcome(chain(DR_MAX_DEPTH + 1)).said, "3:5: records nest deeper than 32 levels here");
}

}  // namespace
