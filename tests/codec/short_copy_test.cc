// Properties of the call-free short paths for strings: copy_bytes writes exactly memcpy's
// bytes and nothing around them at every length, and string_length finds the first NUL
// wherever it lies, among bytes chosen to upset a word-at-a-time scan (0x01 and 0x80 next
// to a NUL), without reading past the buffer (the buffers are sized exactly, for ASan).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dr/codec/byte_order.h"
#include "dr/walk/walk.h"

namespace {

TEST(ShortCopies, CopyBytesWritesExactlyTheBytesAtEveryLengthAndMisalignment) {
    std::mt19937 rng(41);
    std::vector<char> src(96);
    for (char &c : src) c = static_cast<char>(rng());
    for (size_t n = 0; n <= 80; ++n) {
        for (size_t mis = 0; mis < 8; ++mis) {
            std::vector<char> got(96, '\x5a'), want(96, '\x5a');
            dr::copy_bytes(got.data() + mis, src.data() + 7 - mis, n);
            std::memcpy(want.data() + mis, src.data() + 7 - mis, n);
            ASSERT_EQ(got, want) << "n " << n << " misaligned " << mis;
        }
    }
}

TEST(ShortCopies, StringLengthFindsTheFirstNulWhereverItLies) {
    const char bytes[] = {'\x01', '\x80', '\xff', '\x7f', 'a', '\x01'};
    std::mt19937 rng(42);
    for (int64_t len = 0; len <= 80; ++len) {
        for (int round = 0; round < 40; ++round) {
            std::vector<char> host(static_cast<size_t>(len));
            for (char &c : host) c = bytes[rng() % sizeof bytes];
            // Zero, one or two NULs at random places.
            for (int k = round % 3; k > 0 && len > 0; --k) host[rng() % len] = '\0';
            const dr::Host<const char> h{host.data(), len};
            for (int64_t at = 0; at <= len; ++at) {
                const int64_t rest = len - at;
                for (int64_t capacity : {int64_t{0}, int64_t{1}, int64_t{8}, int64_t{13}, int64_t{16}, int64_t{17},
                                         rest, rest + 5}) {
                    int64_t want = -1;
                    for (int64_t i = 0; i < std::min(capacity, len - at); ++i)
                        if (host[at + i] == '\0') {
                            want = i;
                            break;
                        }
                    ASSERT_EQ(dr::string_length(h, at, capacity), want)
                        << "len " << len << " at " << at << " capacity " << capacity;
                }
            }
        }
    }
}

}  // namespace
