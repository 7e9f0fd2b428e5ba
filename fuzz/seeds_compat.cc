// seeds_compat.cc: seed inputs for the compatibility target: the sample against itself, and
// random descriptions against themselves and against a neighbour with one member changed.
#include <cstdint>
#include <vector>

#include "tests/support/random_desc.h"

namespace {

std::vector<uint8_t> pair_of(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    std::vector<uint8_t> in(4);
    for (int i = 0; i < 4; ++i) in[i] = static_cast<uint8_t>(a.size() >> (8 * i));
    in.insert(in.end(), a.begin(), a.end());
    in.insert(in.end(), b.begin(), b.end());
    return in;
}

}  // namespace

std::vector<std::vector<uint8_t>> fuzz_seeds() {
    const std::vector<uint8_t> proto = drtest::read_file(EXAMPLES_DIR "/proto.tlb");
    std::vector<std::vector<uint8_t>> seeds = {pair_of(proto, proto),
                                               pair_of(drtest::build(drtest::demo_lib()).vec(), proto)};
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        const drtest::Lib old = drtest::random_lib(seed);
        drtest::Lib changed = old;
        drtest::Entry &first = changed.metas[0].entries[0];
        if (first.meta.empty()) first.base = first.base == "double" ? "short" : "double";
        first.raw.version = seed % 4;
        const std::vector<uint8_t> a = drtest::build(old).vec();
        seeds.push_back(pair_of(a, drtest::build(changed).vec()));
        seeds.push_back(pair_of(a, drtest::build(drtest::random_lib(seed + 100)).vec()));
    }
    return seeds;
}
