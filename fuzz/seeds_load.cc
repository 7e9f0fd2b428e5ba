// seeds_load.cc: seed inputs for the loader target: well-formed images of several shapes.
#include <cstdint>
#include <vector>

#include "tests/support/random_desc.h"

std::vector<std::vector<uint8_t>> fuzz_seeds() {
    std::vector<std::vector<uint8_t>> seeds = {drtest::build(drtest::demo_lib()).vec()};
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        drtest::Lib lib = drtest::random_lib(seed);
        lib.macros = {{"MAX", 8}, {"MIN", 1}};
        lib.metas[0].entries[0].target(lib.metas[0].entries.back().name);
        seeds.push_back(drtest::build(lib).vec());
    }
    return seeds;
}
