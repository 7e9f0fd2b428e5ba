// stream_test.cc: drtool encode --stream and decode --stream on the lobby sample: records back to
// back come back exactly, a stream cut anywhere gives every whole record before the cut and
// then fails naming where, and bad lines or bytes stop the run after the good ones.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/tools/run.h"

namespace {

using drtest::drtool;
using drtest::sample;

size_t lines(const std::string &text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class DrtoolStream : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef DRTOOL_HAS_JSON
        GTEST_SKIP() << "drtool was built without JSON support";
#endif
        dir = drtest::scratch_dir("stream");
        // One JSON record per line: each sample record, decoded to JSON on one line.
        std::string jsonl;
        for (const char *name : {"login", "chat", "roster", "ping"}) {
            const drtest::Run net = drtool({"encode", lib, "Message", sample(std::string(name) + ".json"), "-o",
                                            dir + "/one.net"});
            ASSERT_EQ(net.status, 0) << net.err;
            const drtest::Run line = drtool({"decode", "--stream", "--json", lib, "Message", dir + "/one.net"});
            ASSERT_EQ(line.status, 0) << line.err;
            ASSERT_EQ(lines(line.out), 1u);
            jsonl += line.out;
            ends.push_back((ends.empty() ? 0 : ends.back()) + drtest::read_text(dir + "/one.net").size());
        }
        write(dir + "/records.jsonl", jsonl);
        const drtest::Run s = drtool({"encode", "--stream", lib, "Message", dir + "/records.jsonl"});
        ASSERT_EQ(s.status, 0) << s.err;
        stream = s.out;
        expected_json = jsonl;
    }
    static void write(const std::string &path, const std::string &text) {
        drtest::write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
    }

    const std::string lib = sample("proto.tlb");
    std::string dir, stream, expected_json;
    std::vector<size_t> ends;  // where each record of the stream ends
};

TEST_F(DrtoolStream, RecordsBackToBackComeBackExactly) {
    ASSERT_EQ(stream.size(), ends.back());
    write(dir + "/stream.net", stream);
    const drtest::Run json = drtool({"decode", "--stream", "--json", lib, "Message", dir + "/stream.net"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, expected_json);
    // From a pipe, as text: one line per record.
    const drtest::Run text = drtest::run_program(
        "/bin/sh", {"-c", "cat '" + dir + "/stream.net' | '" DRTOOL_PATH "' decode --stream " + lib + " Message -"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(lines(text.out), 4u);
    EXPECT_EQ(text.out.find("[Message]"), 0u);
}

TEST_F(DrtoolStream, ACutStreamGivesTheWholeRecordsBeforeTheCutThenFails) {
    auto near_an_end = [&](size_t cut) {
        return cut <= 1 || std::any_of(ends.begin(), ends.end(), [&](size_t e) { return cut + 1 >= e && cut <= e + 1; });
    };
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        if (cut % 5 != 0 && !near_an_end(cut)) continue;  // every fifth cut, and both sides of each record's end
        SCOPED_TRACE("cut at " + std::to_string(cut));
        write(dir + "/cut.net", stream.substr(0, cut));
        const drtest::Run r = drtool({"decode", "--stream", "--json", lib, "Message", dir + "/cut.net"});
        const size_t whole = static_cast<size_t>(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
        const size_t start = whole == 0 ? 0 : ends[whole - 1];
        EXPECT_EQ(r.out, expected_json.substr(0, [&] {
                      size_t at = 0;
                      for (size_t k = 0; k < whole; ++k) at = expected_json.find('\n', at) + 1;
                      return at;
                  }()));
        if (cut == start) {
            EXPECT_EQ(r.status, 0) << r.err;
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find("inside record " + std::to_string(whole + 1) + " of Message, at offset " +
                                 std::to_string(start)),
                      std::string::npos)
                << r.err;
        }
    }
}

TEST_F(DrtoolStream, BadBytesOrABadLineStopAfterTheGoodOnes) {
    // The second record's chat text claims 5000 bytes, over its 128.
    std::string bad = stream;
    const size_t text_at = ends[0] + 10 + 4 + 4 + 1 + 4 + 4;
    bad.replace(text_at, 4, std::string("\0\0\x13\x88", 4));
    write(dir + "/bad.net", bad);
    const drtest::Run r = drtool({"decode", "--stream", "--json", lib, "Message", dir + "/bad.net"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.out), 1u);
    EXPECT_NE(r.err.find("record 2 of Message, at offset " + std::to_string(ends[0])), std::string::npos) << r.err;

    write(dir + "/bad.jsonl", expected_json.substr(0, expected_json.find('\n') + 1) + "\n{\"magic\": \"x\"}\n");
    const drtest::Run e = drtool({"encode", "--stream", lib, "Message", dir + "/bad.jsonl"});
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.out, stream.substr(0, ends[0]));  // the first record, written before the bad line
    EXPECT_NE(e.err.find("line 3"), std::string::npos) << e.err;
    EXPECT_EQ(drtool({"decode", "--stream", lib, "Message", dir + "/bad.net", "-o", dir + "/x"}).status, 2);
}

}  // namespace
