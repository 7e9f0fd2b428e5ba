// Properties of the JSON mapping over random descriptions and records: nothing the walk
// covers is lost either way, and the writer and reader keep to their buffers.
#include <gtest/gtest.h>

#include "tests/json/json_support.h"
#include "tests/support/random_desc.h"
#include "tests/support/records.h"

namespace {

TEST(JsonProperty, HostToJsonToHostKeepsEveryMemberTakenAndJsonSurvivesTheWire) {
    int members_seen = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        for (int version : {0, 1, 3}) {
            SCOPED_TRACE("version " + std::to_string(version));
            const std::string json = drtest::to_json(top, host, version, static_cast<int>(seed % 3));
            members_seen += json.size() > 2;
            const drtest::Read back = drtest::from_json(top, json, version, top->datasize);
            ASSERT_EQ(back.rc, 0) << back.err.message << "\n" << json;
            EXPECT_EQ(back.json_len, static_cast<int32_t>(json.size()));
            // Every member taken holds the same bytes: both records encode alike.
            const drtest::Encoded want = drtest::encode(top, host, version, 1 << 16);
            ASSERT_EQ(want.rc, 0);
            EXPECT_EQ(drtest::encode(top, back.host, version, 1 << 16).net, want.net) << json;
            // JSON -> host -> network -> host -> JSON gives the JSON back.
            const drtest::Decoded wire = drtest::decode(top, want.net, version, top->datasize);
            ASSERT_EQ(wire.rc, 0);
            EXPECT_EQ(drtest::to_json(top, wire.host, version, static_cast<int>(seed % 3)), json);
        }
    }
    EXPECT_GT(members_seen, 800);
}

TEST(JsonProperty, BuffersAreKeptToTheirCapacity) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        const std::string json = drtest::to_json(top, host, 0, 1);
        const auto len = static_cast<int32_t>(json.size());

        // The writer: a text of L bytes needs L + 2 (each piece is taken when it is shorter
        // than the room left before the kept terminator); a smaller buffer gets a prefix.
        for (int32_t cap = 1; cap <= len + 2; cap += cap < len - 2 ? 1 + cap / 16 : 1) {
            std::vector<char> out(static_cast<size_t>(cap) + 16, '#');
            std::vector<char> in(host);
            DrBuffer o{out.data(), cap};
            DrBuffer h{in.data(), static_cast<int32_t>(in.size())};
            const int rc = dr_sprint_data_json(top, &o, &h, 0, 1);
            ASSERT_EQ(rc, cap == len + 2 ? 0 : -1) << "capacity " << cap;
            // The pieces kept, then what fitted of the refused one, then the terminator.
            ASSERT_EQ(out[static_cast<size_t>(cap) - 1], '\0');
            const std::string text(out.data());
            ASSERT_LE(o.len, static_cast<int32_t>(text.size()));
            ASSERT_EQ(json.compare(0, text.size(), text), 0);
            for (size_t i = static_cast<size_t>(cap); i < out.size(); ++i) ASSERT_EQ(out[i], '#');
        }

        // The reader: a smaller host buffer is refused, or holds the whole record when the
        // members at its end were not needed; every proper prefix of the text is refused at
        // or before its end.
        const std::vector<uint8_t> net = drtest::encode(top, host, 0, 1 << 16).net;
        for (int32_t cap = 0; cap < top->datasize; cap += 5) {
            const drtest::Read r = drtest::from_json(top, json, 0, cap);
            if (r.rc == 0) {
                EXPECT_EQ(drtest::encode(top, r.host, 0, 1 << 16).net, net) << "capacity " << cap;
            }
        }
        // What the reader accepts into a cut buffer, even with every member left out, the
        // writer writes back and the reader reads again to the same bytes (fuzzing found a
        // left-out string whose NUL lay past the buffer).
        for (int32_t cap = 0; cap < top->datasize; ++cap) {
            for (const std::string &text : {std::string("{}"), json}) {
                const drtest::Read r = drtest::from_json(top, text, 0, cap);
                if (r.rc != 0) continue;
                const std::string back = drtest::to_json(top, r.host, 0);
                EXPECT_EQ(drtest::from_json(top, back, 0, cap).host, r.host) << "capacity " << cap;
            }
        }
        for (int32_t cut = 0; cut < len; cut += 1 + cut / 8) {
            const drtest::Read r = drtest::from_json(top, json.substr(0, static_cast<size_t>(cut)), 0, top->datasize);
            ASSERT_EQ(r.rc, -1) << "prefix of " << cut;
            EXPECT_LE(r.json_len, cut);
            EXPECT_NE(std::string(r.err.message).find("line"), std::string::npos);
        }
    }
}

}  // namespace
