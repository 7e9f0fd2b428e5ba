// seeds_oracle.cc: seed inputs for the oracle target: random host records of random
// typelibs from the test builder, and the lobby sample's host records.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/random_desc.h"

std::vector<std::vector<uint8_t>> fuzz_seeds() {
    std::vector<std::vector<uint8_t>> seeds;
    for (uint8_t s = 0; s < 32; ++s) {
        const drtest::Image img = drtest::build(drtest::random_lib(1u + s));
        const std::vector<char> host = drtest::random_host(const_cast<drtest::Image &>(img).meta("Top"), s);
        std::vector<uint8_t> in = {1, s, static_cast<uint8_t>(s % 4)};  // kind 1: random_lib(1 + s)
        in.insert(in.end(), host.begin(), host.end());
        seeds.push_back(in);
    }
    for (const char *name : {"login", "chat", "roster", "ping"}) {
        std::vector<uint8_t> in = {0, 0, 0};  // kind 0: the lobby sample's Message
        const std::vector<uint8_t> host = drtest::read_file(std::string(EXAMPLES_DIR "/") + name + ".host");
        in.insert(in.end(), host.begin(), host.end());
        seeds.push_back(in);
    }
    return seeds;
}
