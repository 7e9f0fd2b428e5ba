// Property: every byte-swap routine this processor runs writes exactly what the scalar one
// writes, for every length up to 300 elements, every misalignment of either buffer and both
// element widths; swapping back restores the source, and no byte around the output moves.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dr/codec/byte_swap.h"

namespace {

TEST(ByteSwap, EveryRoutineAgreesWithScalarAtEveryLengthAndMisalignment) {
    const auto routines = dr::available_swaps();
    ASSERT_STREQ(routines.front().name, "scalar");
    constexpr size_t kGuard = 64;
    std::mt19937 rng(14);
    std::vector<char> host(kGuard + 32 + 4 * 300 + kGuard);
    for (char &c : host) c = static_cast<char>(rng());
    for (const dr::SwapRoutines &r : routines) {
        SCOPED_TRACE(r.name);
        for (size_t unit : {2u, 4u}) {
            const dr::SwapFn fn = unit == 2 ? r.swap16 : r.swap32;
            const dr::SwapFn scalar = unit == 2 ? routines.front().swap16 : routines.front().swap32;
            for (size_t count = 0; count <= 300; ++count) {
                for (size_t src_mis = 0; src_mis < 32; ++src_mis) {
                    const size_t dst_mis = (src_mis * 5 + count) % 32;  // every pairing over the lengths
                    const size_t bytes = count * unit;
                    const char *src = host.data() + kGuard + src_mis;
                    std::vector<char> want(host.size(), '\x5a'), net(host.size(), '\x5a'), back(host.size(), '\x5a');
                    scalar(want.data() + kGuard + dst_mis, src, count);
                    fn(net.data() + kGuard + dst_mis, src, count);
                    ASSERT_EQ(net, want) << "unit " << unit << " count " << count << " misaligned " << src_mis;
                    // Decoding direction: from the network copy into a third buffer.
                    fn(back.data() + kGuard + src_mis, net.data() + kGuard + dst_mis, count);
                    ASSERT_TRUE(std::equal(src, src + bytes, back.data() + kGuard + src_mis))
                        << "unit " << unit << " count " << count;
                    ASSERT_EQ(back[kGuard + src_mis - 1], '\x5a');
                    ASSERT_EQ(back[kGuard + src_mis + bytes], '\x5a');
                }
            }
        }
    }
    // The scalar routine itself: each element's bytes reversed.
    const char in[4] = {1, 2, 3, 4};
    char out[4];
    routines.front().swap32(out, in, 1);
    EXPECT_EQ(std::vector<char>(out, out + 4), (std::vector<char>{4, 3, 2, 1}));
    routines.front().swap16(out, in, 2);
    EXPECT_EQ(std::vector<char>(out, out + 4), (std::vector<char>{2, 1, 4, 3}));
}

}  // namespace
