// replay_main.cc: drives a fuzz target without libFuzzer: seed inputs and a bounded number
// of deterministic mutations of them, so every test run exercises the fuzz targets.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// Seed inputs of the target: well-formed examples to mutate.
std::vector<std::vector<uint8_t>> fuzz_seeds();

// Usage: NAME_replay [ROUNDS] runs the target; NAME_replay --seeds DIR writes the seed
// inputs as files, a starting corpus for the libFuzzer binary.
int main(int argc, char **argv) {
    const std::vector<std::vector<uint8_t>> seeds = fuzz_seeds();
    if (argc > 2 && std::string(argv[1]) == "--seeds") {
        for (size_t i = 0; i < seeds.size(); ++i) {
            const std::string path = std::string(argv[2]) + "/seed" + std::to_string(i);
            if (FILE *fp = std::fopen(path.c_str(), "wb")) {
                std::fwrite(seeds[i].data(), 1, seeds[i].size(), fp);
                std::fclose(fp);
            }
        }
        return 0;
    }
    const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
    std::mt19937 rng(12345);
    static const int32_t interesting[] = {0, 1, -1, 2, 4, 8, 31, 32, 88, 152, 255, 256, 65535, 0x7FFFFFFF,
                                          INT32_MIN, -2, -88, 1 << 20};
    long runs = 0;
    for (const auto &s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size()), ++runs;
    for (long r = 0; r < rounds; ++r) {
        std::vector<uint8_t> in = seeds[rng() % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !in.empty(); ++e) {
            const size_t at = rng() % in.size();
            switch (rng() % 5) {
            case 0: in[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
            case 1: in[at] = static_cast<uint8_t>(rng()); break;
            case 2: {
                const int32_t v = interesting[rng() % (sizeof interesting / sizeof *interesting)];
                for (size_t i = 0; i < 4 && (at & ~size_t{3}) + i < in.size(); ++i)
                    in[(at & ~size_t{3}) + i] = static_cast<uint8_t>(v >> (8 * i));
                break;
            }
            case 3: in.resize(at); break;
            default: in.insert(in.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
            }
        }
        LLVMFuzzerTestOneInput(in.data(), in.size());
        ++runs;
    }
    std::printf("%ld inputs run\n", runs);
    return 0;
}
