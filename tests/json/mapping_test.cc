// The JSON mapping on a small protocol: the form written, the members the reader sets on
// its own, and one refusal of each kind with its path, line and column.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "tests/json/json_support.h"
#include "tests/support/image_builder.h"
#include "tests/support/records.h"

namespace {

using drtest::field;
using drtest::nested;

// Pos {short x, y}; Player {string name[8]; Pos pos; uchar flags}; Body, a union chosen by
// `kind`; Rec with a counted array of players, 8-byte and float members, a char array and
// a member of version 2.
drtest::Image protocol() {
    return drtest::build(drtest::library({
        drtest::record("Pos", 1, {field("x", "short"), field("y", "short")}),
        drtest::record("Player", 2, {field("name", "string", 8), nested("pos", "Pos"), field("flags", "uchar")}),
        drtest::union_of("Body", 3, {field("a", "int").id(1), field("b", "string", 8).id(2), nested("p", "Pos").id(3)}),
        drtest::record("Rec", 4,
                       {field("id", "int"), field("n", "uchar"), nested("players", "Player", 4).refer("n"),
                        field("kind", "uchar"), nested("body", "Body").select("kind"), field("big", "longlong"),
                        field("f", "float"), field("d", "double", 2), field("tag", "char", 6), field("later", "int").version(2)}),
    }));
}

class JsonMapping : public ::testing::Test {
protected:
    drtest::Image img = protocol();
    const DrMeta *rec = img.meta("Rec");
    const DrEntry &member(const char *name) { return img.entry("Rec", name); }
    drtest::HostRecord sample() {
        drtest::HostRecord h(static_cast<size_t>(rec->datasize));
        const int32_t players = member("players").off;
        const int32_t player_size = img.meta("Player")->datasize;
        h.put<int32_t>(member("id").off, 7).put<uint8_t>(member("n").off, 2);
        h.text(players, "ann").put<int16_t>(players + 8, -3).put<int16_t>(players + 10, 4).put<uint8_t>(players + 12, 200);
        h.text(players + player_size, "bo\"b").put<int16_t>(players + player_size + 8, 1);
        h.put<uint8_t>(member("kind").off, 2).text(member("body").off, "hi\n");
        h.put<int64_t>(member("big").off, (int64_t{1} << 60) + 1).put<float>(member("f").off, 0.1f);
        h.put<double>(member("d").off, std::numeric_limits<double>::infinity());
        h.put<double>(member("d").off + 8, -0.0).text(member("tag").off, "ab").put<int32_t>(member("later").off, 9);
        return h;
    }
};

TEST_F(JsonMapping, WritesMembersInOrderWithOnlyTheElementsInUseAndReadsThemBack) {
    drtest::HostRecord h = sample();
    const std::string json = drtest::to_json(rec, h.bytes, 0, 2);
    EXPECT_EQ(json, R"({
  "id": 7,
  "n": 2,
  "players": [
    {
      "name": "ann",
      "pos": {
        "x": -3,
        "y": 4
      },
      "flags": 200
    },
    {
      "name": "bo\"b",
      "pos": {
        "x": 1,
        "y": 0
      },
      "flags": 0
    }
  ],
  "kind": 2,
  "body": {
    "b": "hi\n"
  },
  "big": "1152921504606846977",
  "f": 0.1,
  "d": ["Infinity", -0],
  "tag": "ab",
  "later": 9
})");
    EXPECT_EQ(drtest::to_json(rec, h.bytes, 1, 0).find("later"), std::string::npos);
    const drtest::Read back = drtest::from_json(rec, json, 0, rec->datasize);
    ASSERT_EQ(back.rc, 0) << back.err.message;
    EXPECT_EQ(back.host, h.bytes);
    // For an older peer the member of version 2 is passed over, as the encoder leaves it out.
    const drtest::Read older = drtest::from_json(rec, json, 1, rec->datasize);
    ASSERT_EQ(older.rc, 0) << older.err.message;
    h.put<int32_t>(member("later").off, 0);
    EXPECT_EQ(older.host, h.bytes);
}

TEST_F(JsonMapping, CountAndSelectorMembersLeftOutAreSetFromWhatTheyGovern) {
    const std::string json =
        R"({"players": [{"name": "a"}, {}, {"flags": 1}], "body": {"p": {"y": 5}}, "tag": TAG})";
    auto with_tag = [&](const char *tag) { return std::string(json).replace(json.find("TAG"), 3, tag); };
    const drtest::Read r = drtest::from_json(rec, with_tag("[104, 105]"), 0, rec->datasize);
    ASSERT_EQ(r.rc, 0) << r.err.message;
    drtest::HostRecord h(0);
    h.bytes = r.host;
    EXPECT_EQ(h.get<uint8_t>(member("n").off), 3);
    EXPECT_EQ(h.get<uint8_t>(member("kind").off), 3);
    EXPECT_EQ(h.get<int16_t>(member("body").off + 2), 5);
    EXPECT_EQ(std::string(h.bytes.data() + member("tag").off), "hi");
    EXPECT_EQ(drtest::from_json(rec, with_tag("\"hi\""), 0, rec->datasize).host, r.host);
}

// A count and a selector inside a struct member that the JSON leaves out altogether were
// left 0, so the array and the union were refused.
TEST(JsonNestedCounters, CountAndSelectorInsideAnOmittedStructAreSet) {
    drtest::Image img = drtest::build(drtest::library({
        drtest::record("H", 1, {field("kind", "uchar"), field("n", "ushort")}),
        drtest::union_of("U", 2, {field("a", "int").id(1), field("b", "short").id(2)}),
        drtest::record("R", 3, {nested("h", "H"), nested("u", "U").select("h.kind"), field("xs", "int", 4).refer("h.n")}),
    }));
    const DrMeta *r = img.meta("R");
    const drtest::Read back = drtest::from_json(r, R"({"u":{"b":7},"xs":[5,6]})", 0, r->datasize);
    ASSERT_EQ(back.rc, 0) << back.err.message;
    EXPECT_EQ(drtest::to_json(r, back.host, 0), R"({"h":{"kind":2,"n":2},"u":{"b":7},"xs":[5,6]})");
}

struct Refusal {
    const char *json;
    int version;
    const char *message;  // "line L, column C: path: what"
};

TEST_F(JsonMapping, RefusesEachFaultWithItsPathLineAndColumn) {
    const Refusal cases[] = {
        // the example of a value that is no integer, on the fourth line
        {"{\n  \"players\": [\n    {\"name\": \"a\"},\n    {\"pos\": {\"x\": 3.5}}\n  ], \"n\": 2\n}", 0,
         "line 4, column 19: players[1].pos.x: 3.5 is not an integer of type short"},
        // wrong type, out of range, an unknown member, a member given twice
        {R"({"id": "7"})", 0, "line 1, column 8: id: \"7\" is not a number of type int"},
        {R"({"n": 1, "players": [{"flags": true}]})", 0, "line 1, column 32: players[0].flags: true is not a number of type uchar"},
        {R"({"players": {"name": "a"}})", 0, "line 1, column 13: players: an object is not an array of Player"},
        {R"({"body": [1]})", 0, "line 1, column 10: body: an array is not an object (record type Body)"},
        {R"({"players": [{"pos": {"y": 40000}}]})", 0, "line 1, column 28: players[0].pos.y: 40000 is out of range for type short"},
        {R"({"body": {"a": 0}, "f": 1e39})", 0, "line 1, column 25: f: 1e39 is out of range for type float"},
        {R"({"players": [{"flags": -1}]})", 0, "line 1, column 24: players[0].flags: -1 is out of range for type uchar"},
        {R"({"id": 1, "idd": 2})", 0, "line 1, column 11: 'idd' is not a member of Rec"},
        {R"({"id": 1, "id": 2})", 0, "line 1, column 11: member 'id' is given twice"},
        // too many elements, too long a text, a count member and a selector that disagree
        {R"({"players": [{}, {}, {}, {}, {}]})", 0, "line 1, column 13: players: too many elements: 5, at most 4"},
        {R"({"kind": 1, "tag": "abcdefg"})", 0, "line 1, column 20: tag: too many elements: 7, at most 6"},
        {R"({"players": [{"name": "12345678"}]})", 0,
         "line 1, column 23: players[0].name: a text of 8 bytes does not fit the 8 bytes of the string with its NUL"},
        {R"({"n": 2, "players": [{}]})", 0, "line 1, column 21: players: its count member says 2 elements, the JSON gives 1"},
        {R"({"kind": 2, "body": {"a": 1}})", 0, "line 1, column 22: body: the selector chooses 'b', not 'a'"},
        // union keys
        {R"({"body": {"zz": 1}})", 0, "line 1, column 11: body: 'zz' is not a member of union Body"},
        {R"({"body": {"a": 1, "b": "x"}})", 0, "line 1, column 10: body: a union takes one member, not 2"},
        {R"({"kind": 9, "body": {"a": 1}})", 0, "line 1, column 21: body: the selector 9 chooses no member of union Body"},
        // malformed and truncated text
        {R"({"id" 1})", 0, "line 1, column 7: id: malformed JSON: Missing a colon after a name of object member."},
        {"{\"players\": [{\"name\": \"a\"},\n", 0, "line 2, column 1: players[1]: the text ends early (truncated JSON)"},
        {"[1]", 0, "line 1, column 1: an array is not an object (record type Rec)"},
        {"{\"tag\": \"\\udc20\"}", 0, "line 1, column 9: tag: a \\u escape names a lone UTF-16 surrogate"},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.json);
        const drtest::Read r = drtest::from_json(rec, c.json, c.version, rec->datasize);
        ASSERT_EQ(r.rc, -1);
        EXPECT_STREQ(r.err.message, c.message);
        EXPECT_EQ(r.json_len, r.err.offset);
    }
    // A host buffer too small for the elements given: refused where the walk stops.
    const drtest::Read small = drtest::from_json(rec, R"({"players": [{}, {}]})", 0, member("players").off + 10);
    EXPECT_EQ(small.rc, -1);
    EXPECT_STREQ(small.err.message, ("line 1, column 13: players: does not fit the host buffer of " +
                                     std::to_string(member("players").off + 10) + " bytes").c_str());
}

}  // namespace
