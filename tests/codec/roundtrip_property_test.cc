// Property: for random descriptions and records, decoding an encoding gives back every
// member taken, at any requested version, and no call leaves its buffers.
#include <gtest/gtest.h>

#include "tests/support/random_desc.h"
#include "tests/support/records.h"

namespace {

TEST(RoundTripProperty, DecodeOfEncodeKeepsEveryMemberTaken) {
    int encoded_something = 0;
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        for (int version : {0, 1, 2, 3}) {
            SCOPED_TRACE("version " + std::to_string(version));
            const drtest::Encoded enc = drtest::encode(top, host, version, 1 << 16);
            ASSERT_EQ(enc.rc, 0);
            encoded_something += enc.net_len > 0;
            // Decode twice into differently filled buffers: the bytes the decoder wrote are
            // those equal in both, and they must hold the original record.
            const drtest::Decoded a = drtest::decode(top, enc.net, version, top->datasize, '\0');
            const drtest::Decoded b = drtest::decode(top, enc.net, version, top->datasize, '\xFF');
            ASSERT_EQ(a.rc, 0);
            ASSERT_EQ(b.rc, 0);
            EXPECT_EQ(a.net_len, enc.net_len);
            EXPECT_EQ(a.host_len, enc.host_len);
            for (size_t i = 0; i < host.size(); ++i) {
                if (a.host[i] == b.host[i]) {
                    ASSERT_EQ(a.host[i], host[i]) << "host byte " << i;
                }
            }
            // Every member taken was written: each decoded record encodes to the same bytes.
            EXPECT_EQ(drtest::encode(top, a.host, version, 1 << 16).net, enc.net);
            EXPECT_EQ(drtest::encode(top, b.host, version, 1 << 16).net, enc.net);
        }
    }
    EXPECT_GT(encoded_something, 1000);
}

TEST(RoundTripProperty, EveryShorterBufferFailsInsideItsBounds) {
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        const drtest::Encoded full = drtest::encode(top, host, 0, 1 << 16);
        ASSERT_EQ(full.rc, 0);
        for (int32_t cap = 0; cap < full.net_len; ++cap) {
            const drtest::Encoded cut = drtest::encode(top, host, 0, cap);
            ASSERT_EQ(cut.rc, -1) << "capacity " << cap;
            // What was written is a prefix of the full encoding, but for the inline length
            // fields of elements left unfinished, which keep the buffer's zero fill.
            ASSERT_LE(cut.net_len, cap);
            for (int32_t i = 0; i < cut.net_len; ++i)
                ASSERT_TRUE(cut.net[i] == full.net[i] || cut.net[i] == 0) << "capacity " << cap << ", byte " << i;
        }
        EXPECT_EQ(drtest::encode(top, host, 0, full.net_len).rc, 0);
        // Truncated network input: every prefix fails or decodes within its bytes.
        for (int32_t len = 0; len < full.net_len; ++len) {
            const std::vector<uint8_t> prefix(full.net.begin(), full.net.begin() + len);
            const drtest::Decoded d = drtest::decode(top, prefix, 0, top->datasize);
            if (d.rc == 0) {
                EXPECT_LE(d.net_len, len);
            }
        }
        // And a host record cut short is never read past its end.
        for (size_t len = 0; len < host.size(); len += 3) {
            const std::vector<char> shorter(host.begin(), host.begin() + static_cast<long>(len));
            drtest::encode(top, shorter, 0, 1 << 16);
        }
    }
}

}  // namespace
