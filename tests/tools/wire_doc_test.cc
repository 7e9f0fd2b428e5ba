// wire_doc_test.cc: the worked example of docs/wire-format.md is what drtool writes: its
// source compiles, its record encodes to the bytes of its table, and the older version to
// the prefix the page names. A peer written from that page then reads our bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "tests/tools/run.h"

namespace {

using drtest::drtool;

std::string between(const std::string &text, const std::string &open, const std::string &close, size_t from) {
    const size_t a = text.find(open, from);
    const size_t b = a == std::string::npos ? a : text.find(close, a + open.size());
    if (b == std::string::npos) return "";
    return text.substr(a + open.size(), b - a - open.size());
}

// The hex column of the example's table, as one line of "xx xx ..." in drtool's dump.
std::vector<std::string> table_bytes(const std::string &section) {
    std::vector<std::string> bytes;
    const std::regex row(R"(\n\| `([0-9a-f ]+)` \|)");
    for (auto it = std::sregex_iterator(section.begin(), section.end(), row); it != std::sregex_iterator(); ++it) {
        std::istringstream in((*it)[1].str());
        for (std::string b; in >> b;) bytes.push_back(b);
    }
    return bytes;
}

// The bytes of drtool's hex dump ("00000000  00 01 ...  |..|"), in order.
std::vector<std::string> dump_bytes(const std::string &dump) {
    std::vector<std::string> bytes;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        const size_t bar = line.find('|');
        if (line.size() < 10 || bar == std::string::npos) continue;
        std::istringstream in(line.substr(10, bar - 10));
        for (std::string b; in >> b;) bytes.push_back(b);
    }
    return bytes;
}

TEST(WireDoc, TheWorkedExampleIsWhatTheEncoderWrites) {
#ifndef DRTOOL_HAS_JSON
    GTEST_SKIP() << "drtool was built without JSON support";
#endif
    const std::string page = drtest::read_text(std::string(EXAMPLES_DIR) + "/../docs/wire-format.md");
    const size_t at = page.find("## A worked example");
    ASSERT_NE(at, std::string::npos);
    const std::string xml = between(page, "```xml\n", "```", at);
    std::string record = between(page, "The record `", "`, sent", at);
    ASSERT_FALSE(xml.empty());
    ASSERT_FALSE(record.empty());
    record = std::regex_replace(record, std::regex("\n"), "");
    const std::vector<std::string> expected = table_bytes(page.substr(at));
    ASSERT_EQ(expected.size(), 47u);

    const std::string dir = drtest::scratch_dir("wire_doc");
    std::ofstream(dir + "/wire.xml") << xml;
    std::ofstream(dir + "/record.json") << record;
    const drtest::Run compiled = drtool({"compile", dir + "/wire.xml", "-o", dir + "/wire.tlb"});
    ASSERT_EQ(compiled.status, 0) << compiled.err;
    const drtest::Run v2 = drtool({"encode", dir + "/wire.tlb", "Sample", dir + "/record.json"});
    ASSERT_EQ(v2.status, 0) << v2.err;
    EXPECT_EQ(dump_bytes(v2.out), expected);
    const drtest::Run v1 = drtool({"encode", dir + "/wire.tlb", "Sample", dir + "/record.json", "-v", "1"});
    ASSERT_EQ(v1.status, 0) << v1.err;
    EXPECT_EQ(dump_bytes(v1.out), std::vector<std::string>(expected.begin(), expected.begin() + 45));
}

}  // namespace
