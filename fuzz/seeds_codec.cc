// seeds_codec.cc: seed inputs for the codec target: selector bytes and random host records.
#include <cstdint>
#include <vector>

#include "tests/support/random_desc.h"

std::vector<std::vector<uint8_t>> fuzz_seeds() {
    std::vector<std::vector<uint8_t>> seeds;
    for (uint32_t seed = 1; seed <= 64; seed += 3) {
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const std::vector<char> host = drtest::random_host(img.meta("Top"), seed);
        std::vector<uint8_t> in = {static_cast<uint8_t>(seed - 1), static_cast<uint8_t>(seed % 4), 40};
        in.insert(in.end(), host.begin(), host.end());
        seeds.push_back(in);
    }
    return seeds;
}
