// seeds_plan.cc: seed inputs for the plan target: random host records of random typelibs
// from the test builder, clean and damaged, and the lobby sample's host records.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/random_desc.h"

std::vector<std::vector<uint8_t>> fuzz_seeds() {
    std::vector<std::vector<uint8_t>> seeds;
    for (uint8_t s = 0; s < 32; ++s) {
        const drtest::Image img = drtest::build(drtest::random_lib(1u + s));
        const std::vector<char> host = drtest::random_host(const_cast<drtest::Image &>(img).meta("Top"), s);
        // kind 1 + 8 * damage: random_lib(1 + s) with 0 to 3 damaged fields
        std::vector<uint8_t> in = {static_cast<uint8_t>(1 + 8 * (s % 4)), s, static_cast<uint8_t>(s % 5),
                                   static_cast<uint8_t>(s * 7)};
        in.insert(in.end(), host.begin(), host.end());
        seeds.push_back(in);
    }
    for (const char *name : {"login", "chat", "roster", "ping"}) {
        std::vector<uint8_t> in = {0, 0, 0, 64};  // kind 0: the lobby sample's Message
        const std::vector<uint8_t> host = drtest::read_file(std::string(EXAMPLES_DIR "/") + name + ".host");
        in.insert(in.end(), host.begin(), host.end());
        seeds.push_back(in);
    }
    return seeds;
}
