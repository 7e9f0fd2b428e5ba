// seeds_json.cc: seed inputs for the JSON target: the sample's JSON records as Message.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

std::vector<std::vector<uint8_t>> fuzz_seeds() {
    std::vector<std::vector<uint8_t>> seeds;
    for (const char *name : {"login", "chat", "roster", "ping"}) {
        std::ifstream in(std::string(EXAMPLES_DIR) + "/" + name + ".json", std::ios::binary);
        // Message is the last of the sample's ten types, in directory order.
        std::vector<uint8_t> seed = {9, 0, 0};
        seed.insert(seed.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        seeds.push_back(seed);
    }
    // A text that ends inside a UTF-8 sequence, once read past the end of the parser's copy.
    seeds.push_back({9, 0, 0, '"', 0xF0});
    seeds.push_back({9, 0, 0, '{', '"', 'a', '"', ':', '"', 0xE2, 0x82});
    return seeds;
}
