// fuzz_plan.cc: the plans against the walk. The input picks a loaded typelib (one of 64
// random ones from the test builder, clean or with a few description fields damaged, or the
// lobby sample), a version and a network capacity; the rest is a host record and, as it
// stands, network bytes. Encoding (at the chosen capacity, at the encoding's own length and
// one byte less), sizing and decoding (of the input and of the encoding, into host buffers of
// two sizes) must give the same result, lengths, buffer bytes and DrError by plan as by the
// walk alone (tests/support/plan_oracle.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/support/plan_oracle.h"
#include "tests/support/random_desc.h"

namespace {

// The record type that input bytes 0 and 1 choose, loaded once per choice; null when the
// loader refuses a damaged description.
const DrMeta *pick_meta(uint8_t kind, uint8_t seed_byte) {
    static std::map<uint32_t, std::pair<drtest::LoadedLib, const DrMeta *>> cache;
    const uint32_t damage = kind % 8 == 0 ? 0 : kind / 8 % 4;
    const uint32_t key = kind % 8 == 0 ? 0 : (1u + seed_byte % 64u) * 4 + damage;
    auto it = cache.find(key);
    if (it == cache.end()) {
        drtest::Image img = key == 0 ? drtest::Image(drtest::read_file(EXAMPLES_DIR "/proto.tlb"))
                                     : drtest::build(drtest::random_lib(key / 4));
        if (damage != 0) drtest::damage_image(img, key, static_cast<int>(damage));
        drtest::LoadedLib lib = drtest::load_image_bytes(img.bytes(), img.size());
        const DrMeta *meta = nullptr;
        if (lib && dr_meta_by_name(lib.get(), key == 0 ? "Message" : "Top", &meta) != 0) meta = nullptr;
        it = cache.emplace(key, std::make_pair(std::move(lib), meta)).first;
    }
    return it->second.second;
}

void check(const std::string &difference) {
    if (difference.empty()) return;
    std::fprintf(stderr, "plan and walk differ: %s\n", difference.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    const DrMeta *meta = pick_meta(data[0], data[1]);
    if (meta == nullptr) return 0;
    const int version = data[2] % 5;
    const int32_t capacity = data[3] * 4;
    const std::vector<char> input(data + 4, data + size);
    std::vector<char> host = input;
    host.resize(static_cast<size_t>(std::max(meta->datasize, 0)));
    drtest::PlanTally tally;

    std::vector<char> net(1 << 16), in(host);
    DrBuffer n{net.data(), static_cast<int32_t>(net.size())}, h{in.data(), static_cast<int32_t>(in.size())};
    (void)dr_host_to_net(meta, &n, &h, version);
    net.resize(static_cast<size_t>(n.len));
    for (int32_t cap : {capacity, n.len, n.len - 1})
        check(drtest::compare_encode(meta, host, version, cap, false, &tally));
    check(drtest::compare_encode(meta, input, version, capacity, false, &tally));
    check(drtest::compare_encode(meta, host, version, 0, true, &tally));
    for (const std::vector<char> *wire : {&input, const_cast<const std::vector<char> *>(&net)})
        for (int32_t cap : {static_cast<int32_t>(host.size()), capacity})
            for (bool explain : {false, true})
                check(drtest::compare_decode(meta, *wire, version, cap, explain ? '\0' : '\x5A', explain, &tally));
    return 0;
}
