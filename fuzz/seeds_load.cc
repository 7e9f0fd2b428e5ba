// seeds_load.cc: seed inputs for the loader target: images of several shapes, the sample among them.
#include <cstdint>
#include <vector>

#include "tests/support/random_desc.h"

std::vector<std::vector<uint8_t>> fuzz_seeds() {
    // The worked demo, the lobby sample, and a loadable image whose members overlap, so
    // that a few mutations deepen it until the walk's step budget ends it.
    std::vector<std::vector<uint8_t>> seeds = {drtest::build(drtest::demo_lib()).vec(),
                                               drtest::read_file(EXAMPLES_DIR "/proto.tlb"),
                                               drtest::build(drtest::chain(4, 4, 1, 1)).vec()};
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        drtest::Lib lib = drtest::random_lib(seed);
        lib.macros = {{"MAX", 8}, {"MIN", 1}};
        lib.metas[0].entries[0].target(lib.metas[0].entries.back().name);
        seeds.push_back(drtest::build(lib).vec());
    }
    return seeds;
}
