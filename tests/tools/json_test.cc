// json_test.cc: drtool's JSON side on the lobby sample: the committed JSON records encode as
// their host records do, JSON comes back off the wire, and a fault names where it is.
#include <gtest/gtest.h>

#include "tests/support/image_builder.h"
#include "tests/tools/run.h"

namespace {

using drtest::drtool;
using drtest::sample;

const char *const kRecords[] = {"login", "chat", "roster", "ping"};

class DrtoolJson : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef DRTOOL_HAS_JSON
        GTEST_SKIP() << "drtool was built without JSON support";
#endif
    }
    const std::string lib = sample("proto.tlb");
};

TEST_F(DrtoolJson, JsonRecordsEncodeAsTheirHostRecordsAndComeBackOffTheWire) {
    const std::string dir = drtest::scratch_dir("json_records");
    for (const char *name : kRecords) {
        SCOPED_TRACE(name);
        const std::string json = sample(std::string(name) + ".json"), net = dir + "/" + name + ".net";
        const drtest::Run from_json = drtool({"encode", lib, "Message", json, "-o", net});
        ASSERT_EQ(from_json.status, 0) << from_json.err;
        const drtest::Run from_host = drtool({"encode", lib, "Message", sample(std::string(name) + ".host")});
        EXPECT_EQ(drtool({"encode", lib, "Message", json}).out, from_host.out);
        // Decoded to JSON, then encoded again: the same message.
        const drtest::Run back = drtool({"decode", lib, "Message", net, "--json", "-o", dir + "/back.json"});
        ASSERT_EQ(back.status, 0) << back.err;
        EXPECT_EQ(drtool({"encode", lib, "Message", dir + "/back.json"}).out, from_host.out);
        // Written out in full, the JSON is the host record's, byte for byte.
        EXPECT_EQ(drtool({"print", lib, "Message", sample(std::string(name) + ".host"), "--json"}).out,
                  drtest::read_text(dir + "/back.json"));
        ASSERT_EQ(drtool({"host", lib, "Message", dir + "/back.json", "-o", dir + "/back.host"}).status, 0);
        EXPECT_EQ(drtest::read_file(dir + "/back.host"), drtest::read_file(sample(std::string(name) + ".host")));
    }
}

TEST_F(DrtoolJson, FaultsNameTheFileThePathTheLineAndTheColumn) {
    const std::string dir = drtest::scratch_dir("json_faults");
    const std::string bad = dir + "/bad.txt";
    drtest::write_bytes(bad, {'{', '\n', ' ', '"', 's', 'e', 'q', '"', ':', ' ', '-', '1', '}'});
    // Not named .json, but it looks like JSON.
    const drtest::Run r = drtool({"encode", lib, "Message", bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "drtool: " + bad + ": line 2, column 9: -1 is out of range for type uint (at seq)\n");
    EXPECT_EQ(drtool({"host", lib, "Message", bad}).err, r.err);
    // --json takes a host record as JSON, and says what is wrong with it.
    const drtest::Run forced = drtool({"encode", lib, "Message", sample("login.host"), "--json"});
    EXPECT_EQ(forced.status, 1);
    EXPECT_NE(forced.err.find("login.host: line 1, column 1: malformed JSON"), std::string::npos) << forced.err;
}

}  // namespace
