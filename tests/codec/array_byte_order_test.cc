// Arrays of 2- and 4-byte elements long enough for the vector copies: every element goes out
// big-endian and comes back in host order, byte for byte, at every length from 1 to 40.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tests/support/image_builder.h"
#include "tests/support/records.h"

namespace {

// The network bytes of one element, most significant first, from its value by arithmetic.
void put_big(std::vector<uint8_t> &out, uint32_t v, int width) {
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

TEST(ArrayByteOrder, LongTwoAndFourByteArraysEncodeBigEndianAndDecodeBack) {
    std::mt19937 rng(20);
    for (int32_t n = 1; n <= 40; ++n) {
        SCOPED_TRACE("elements " + std::to_string(n));
        // A leading byte puts both arrays at odd host and network offsets.
        drtest::Image img = drtest::build(drtest::library({drtest::record(
            "R", 1, {drtest::field("pad", "uchar"), drtest::field("w", "ushort", n), drtest::field("d", "uint", n),
                     drtest::field("f", "float", n)})}));
        const DrMeta *meta = img.meta("R");
        std::vector<char> host(static_cast<size_t>(meta->datasize));
        std::vector<uint8_t> want{static_cast<uint8_t>(host[0] = 0x5c)};
        size_t at = 1;
        for (int width : {2, 4, 4})
            for (int32_t i = 0; i < n; ++i, at += static_cast<size_t>(width)) {
                const uint32_t v = rng();
                if (width == 2) {
                    const auto v16 = static_cast<uint16_t>(v);
                    std::memcpy(&host[at], &v16, 2);
                    put_big(want, v16, 2);
                } else {
                    std::memcpy(&host[at], &v, 4);
                    put_big(want, v, 4);
                }
            }
        const drtest::Encoded enc = drtest::encode(meta, host, 0, 1024);
        ASSERT_EQ(enc.rc, 0);
        ASSERT_EQ(drtest::to_hex(enc.net), drtest::to_hex(want));
        const drtest::Decoded dec = drtest::decode(meta, want, 0, meta->datasize);
        ASSERT_EQ(dec.rc, 0);
        ASSERT_EQ(dec.host, host);
    }
}

}  // namespace
