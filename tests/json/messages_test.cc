// The JSON reader's refusals read well at any depth, and a byte-order mark before the text
// is passed over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/json/json_support.h"
#include "tests/support/image_builder.h"

namespace {

using drtest::field;
using drtest::nested;

// Levels L0 .. L{depth-1}, each with one member of 31-character name holding the next level;
// the last holds the int `x`.
drtest::Image chain(int depth) {
    std::vector<drtest::Meta> types;
    for (int i = depth - 1; i >= 0; --i) {
        const std::string name = "L" + std::to_string(i);
        if (i == depth - 1) {
            types.push_back(drtest::record(name, 100 + i, {field("x", "int")}));
        } else {
            std::string member = "level_" + std::to_string(i) + "_";
            member.resize(31, 'm');
            types.push_back(drtest::record(name, 100 + i, {nested(member, "L" + std::to_string(i + 1))}));
        }
    }
    return drtest::build(drtest::library(types));
}

TEST(JsonMessages, ADeepPathIsShortenedInTheMiddleAndTheReasonStaysWhole) {
    const int depth = DR_MAX_DEPTH;
    drtest::Image img = chain(depth);
    const DrMeta *top = img.meta("L0");
    std::string json, full_path;
    for (int i = 0; i < depth - 1; ++i) {
        const std::string member = img.meta(("L" + std::to_string(i)).c_str())->entries[0].name;
        json += "{\"" + member + "\":";
        full_path += member + ".";
    }
    json += "{\"x\":\"seven\"}" + std::string(depth - 1, '}');
    full_path += "x";
    ASSERT_GT(full_path.size(), sizeof(DrJsonError{}.message));

    const drtest::Read r = drtest::from_json(top, json, 0, top->datasize);
    ASSERT_EQ(r.rc, -1);
    const std::string message = r.err.message, path = r.err.path;
    const std::string start = "line 1, column " + std::to_string(json.find("\"seven\"") + 1) +
                              ": \"seven\" is not a number of type int (at level_0_";
    EXPECT_EQ(message.rfind(start, 0), 0u) << message;
    EXPECT_EQ(message.substr(message.size() - 3), ".x)") << message;
    EXPECT_NE(message.find("..."), std::string::npos) << message;
    EXPECT_LT(message.size(), sizeof r.err.message - 1) << "the message was cut";
    // The stored path keeps both ends too, within its field.
    EXPECT_LE(path.size(), sizeof r.err.path - 1);
    EXPECT_EQ(path.substr(0, 11), full_path.substr(0, 11));
    EXPECT_EQ(path.substr(path.size() - 40), full_path.substr(full_path.size() - 40));
    EXPECT_NE(path.find("..."), std::string::npos) << path;
}

TEST(JsonMessages, AByteOrderMarkIsPassedOverAndOffsetsCountFromTheBuffer) {
    drtest::Image img = drtest::build(drtest::library({drtest::record("R", 1, {field("a", "int"), field("b", "short")})}));
    const DrMeta *r = img.meta("R");
    const std::string bom = "\xEF\xBB\xBF";
    for (const std::string &text : {std::string(R"({"a": 5, "b": -2})"), std::string("\n{\"a\":5,\n\"b\":-2}\n")}) {
        const drtest::Read plain = drtest::from_json(r, text, 0, r->datasize);
        const drtest::Read marked = drtest::from_json(r, bom + text, 0, r->datasize);
        ASSERT_EQ(plain.rc, 0);
        ASSERT_EQ(marked.rc, 0) << marked.err.message;
        EXPECT_EQ(marked.host, plain.host);
        EXPECT_EQ(marked.json_len, plain.json_len + 3);
    }
    // A fault: the offset counts the mark, the column does not (editors do not show it).
    const drtest::Read bad = drtest::from_json(r, bom + R"({"a": 5, "b": 70000})", 0, r->datasize);
    ASSERT_EQ(bad.rc, -1);
    EXPECT_EQ(bad.err.offset, 3 + 14);
    EXPECT_EQ(bad.json_len, bad.err.offset);
    EXPECT_STREQ(bad.err.message, "line 1, column 15: 70000 is out of range for type short (at b)");
    // Only a whole mark at the very start is one.
    EXPECT_EQ(drtest::from_json(r, " " + bom + R"({"a": 5})", 0, r->datasize).rc, -1);
    EXPECT_EQ(drtest::from_json(r, "\xEF\xBB{}", 0, r->datasize).rc, -1);
}

}  // namespace
