// fuzz_oracle.cc: round-trip oracles over the C interface. The input picks a well-formed
// typelib (a random one from the test builder, or the lobby sample) and a version, and the
// rest of it is a host record. Every buffer is a heap block of exactly its stated size, so
// that a byte read or written past the end is an AddressSanitizer report. Checked:
//   - an encode that succeeds decodes, consuming exactly the encoded bytes, and the decoded
//     record encodes to the identical bytes;
//   - the exact network capacity succeeds with the same bytes, one byte less fails;
//   - every truncated prefix of the network form fails to decode;
//   - the text and XML buffer renderers at every capacity give a NUL-terminated prefix of
//     the full text, and succeed from the capacity that holds it.
// Prefixes and capacities are all tried up to 64; above that, 32 per input (sizes_below).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/random_desc.h"

namespace {

[[noreturn]] void violated(const char *what) {
    std::fprintf(stderr, "oracle violated: %s\n", what);
    std::abort();
}
void check(bool ok, const char *what) {
    if (!ok) violated(what);
}

// The record type that input bytes 0 and 1 choose: the lobby sample's Message when byte 0
// is a multiple of 8, else the Top of one of 64 random libraries, each built once.
const DrMeta *pick_meta(uint8_t kind, uint8_t seed_byte) {
    static std::map<uint32_t, drtest::Image> cache;
    const uint32_t key = kind % 8 == 0 ? 0 : 1u + seed_byte % 64u;
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.emplace(key, key == 0 ? drtest::Image(drtest::read_file(EXAMPLES_DIR "/proto.tlb")) : drtest::build(drtest::random_lib(key))).first;
    return it->second.meta(key == 0 ? "Message" : "Top");
}

struct Encoded {
    int rc;
    std::vector<char> net;  // the bytes written
};

// Encodes into a heap buffer of exactly `capacity` bytes.
Encoded encode(const DrMeta *meta, const std::vector<char> &host, int version, int32_t capacity) {
    std::vector<char> in(host), net(static_cast<size_t>(capacity));
    DrBuffer n{net.data(), capacity}, h{in.data(), static_cast<int32_t>(in.size())};
    const int rc = dr_host_to_net(meta, &n, &h, version);
    check(in == host, "the encoder changed the host record");
    check(n.len >= 0 && n.len <= capacity, "network length outside the buffer");
    check(h.len >= 0 && h.len <= static_cast<int32_t>(host.size()), "host length outside the buffer");
    net.resize(static_cast<size_t>(n.len));
    return {rc, net};
}

struct Decoded {
    int rc;
    int32_t consumed;
    std::vector<char> host;
};

// Decodes exactly `len` network bytes held in a heap block of that size into a zeroed host
// buffer of `host_size` bytes.
Decoded decode(const DrMeta *meta, const std::vector<char> &net, size_t len, size_t host_size, int version) {
    std::vector<char> wire(net.begin(), net.begin() + static_cast<long>(len)), host(host_size);
    DrBuffer n{wire.data(), static_cast<int32_t>(len)}, h{host.data(), static_cast<int32_t>(host_size)};
    const int rc = dr_net_to_host(meta, &h, &n, version);
    check(h.len >= 0 && h.len <= static_cast<int32_t>(host_size), "decoded host length outside the buffer");
    return {rc, n.len, host};
}

// The sizes below `limit` to try: all of them when there are at most 64; otherwise the 8
// smallest, the 8 largest and 16 drawn from `seed`, so that each size is met over a run
// while one input stays cheap.
std::vector<int32_t> sizes_below(int32_t limit, uint32_t seed) {
    std::vector<int32_t> out;
    if (limit <= 64) {
        for (int32_t k = 0; k < limit; ++k) out.push_back(k);
        return out;
    }
    for (int32_t k = 0; k < 8; ++k) out.push_back(k), out.push_back(limit - 1 - k);
    for (int k = 0; k < 16; ++k) {
        seed = seed * 1664525u + 1013904223u;
        out.push_back(8 + static_cast<int32_t>((seed >> 8) % static_cast<uint32_t>(limit - 16)));
    }
    return out;
}

using Renderer = int (*)(const DrMeta *, DrBuffer *, DrBuffer *, int);

// Renders into a heap buffer of exactly `capacity` bytes; returns the text before its NUL.
std::string render(Renderer fn, const DrMeta *meta, const std::vector<char> &host, int version, int32_t capacity,
                   int *rc, int32_t *out_len) {
    std::vector<char> in(host), out(static_cast<size_t>(capacity));
    DrBuffer o{out.data(), capacity}, h{in.data(), static_cast<int32_t>(in.size())};
    *rc = fn(meta, &o, &h, version);
    *out_len = o.len;
    check(std::memchr(out.data(), 0, out.size()) != nullptr && out.back() == 0, "rendering not terminated");
    return std::string(out.data());
}

void check_renderer(Renderer fn, const DrMeta *meta, const std::vector<char> &host, int version, uint32_t seed) {
    constexpr int32_t kRoom = 1 << 14;
    int full_rc = 0;
    int32_t full_len = 0;
    const std::string full = render(fn, meta, host, version, kRoom, &full_rc, &full_len);
    if (full.size() + 2 >= static_cast<size_t>(kRoom)) return;  // the text may have been cut
    check(full_len == static_cast<int32_t>(full.size()) || full_rc != 0, "output length differs from the text");
    const auto need = static_cast<int32_t>(full.size()) + 2;
    for (const int32_t below : sizes_below(need, seed)) {
        const int32_t cap = below + 1;
        int rc = 0;
        int32_t len = 0;
        const std::string text = render(fn, meta, host, version, cap, &rc, &len);
        check(text.size() < static_cast<size_t>(cap) && full.compare(0, text.size(), text) == 0,
              "a rendering at a smaller capacity is no prefix of the full text");
        check(len >= 0 && len <= static_cast<int32_t>(text.size()), "output length past the text");
        check(cap < need ? rc == -1 || full.empty() : rc == full_rc, "result at a capacity");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const DrMeta *meta = pick_meta(data[0], data[1]);
    const int version = data[2] % 4;
    const std::vector<char> host(data + 3, data + size);
    uint32_t seed = 2166136261u;  // FNV-1a of the input: which sizes to try
    for (size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 16777619u;

    const Encoded big = encode(meta, host, version, 1 << 14);
    if (big.rc == 0) {
        const auto n = static_cast<int32_t>(big.net.size());
        const Encoded exact = encode(meta, host, version, n);
        check(exact.rc == 0 && exact.net == big.net, "the exact network capacity");
        if (n > 0) check(encode(meta, host, version, n - 1).rc == -1, "one byte below the network form succeeded");

        const Decoded back = decode(meta, big.net, big.net.size(), host.size(), version);
        check(back.rc == 0, "the encoded bytes do not decode");
        check(back.consumed == n, "decoding consumed other than the encoded bytes");
        const Encoded again = encode(meta, back.host, version, n);
        check(again.rc == 0 && again.net == big.net, "re-encoding the decoded record differs");
        for (const int32_t k : sizes_below(n, seed))
            check(decode(meta, big.net, static_cast<size_t>(k), host.size(), version).rc == -1,
                  "a truncated prefix decoded");
    }
    check_renderer(dr_sprint_data, meta, host, version, seed);
    check_renderer(dr_sprint_data_xml, meta, host, version, seed);
    return 0;
}
