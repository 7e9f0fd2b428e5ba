// fuzz_codec.cc: arbitrary host records and network bytes against random well-formed
// descriptions: encode, decode and render must stay inside their buffers.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "dr/dr_stream.h"
#include "tests/support/random_desc.h"

namespace {

const drtest::Image &image_for(uint32_t seed) {
    static std::map<uint32_t, drtest::Image> cache;
    auto it = cache.find(seed);
    if (it == cache.end()) it = cache.emplace(seed, drtest::build(drtest::random_lib(seed))).first;
    return it->second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const uint32_t seed = 1 + data[0] % 64;
    const int version = data[1] % 4;
    const int32_t small_cap = 1 + data[2];
    const drtest::Image &img = image_for(seed);
    const DrMeta *top = nullptr;
    if (dr_meta_by_name(img.lib(), "Top", &top) != 0) return 0;

    // The input as a host record, copied to exactly its own length.
    std::vector<char> host(data + 3, data + size);
    std::vector<char> net(4096), out(static_cast<size_t>(small_cap));
    DrBuffer n{net.data(), static_cast<int32_t>(net.size())};
    DrBuffer h{host.data(), static_cast<int32_t>(host.size())};
    if (dr_host_to_net(top, &n, &h, version) == 0) {
        std::vector<char> back(host.size());
        DrBuffer b{back.data(), static_cast<int32_t>(back.size())};
        DrBuffer in{net.data(), n.len};
        dr_net_to_host(top, &b, &in, version);
    }
    DrBuffer tiny{net.data(), small_cap};
    h.len = static_cast<int32_t>(host.size());
    dr_host_to_net(top, &tiny, &h, version);

    // The input as network bytes.
    std::vector<char> wire(data + 3, data + size);
    std::vector<char> target(static_cast<size_t>(top->datasize));
    DrBuffer t{target.data(), static_cast<int32_t>(target.size())};
    DrBuffer w{wire.data(), static_cast<int32_t>(wire.size())};
    dr_net_to_host(top, &t, &w, version);

    // The input as the front of a stream: a record measured is one the decoder takes whole from
    // its own bytes, and a cut one asks for more than there is.
    int32_t len = 0;
    const int status = dr_measure_record(top, wire.data(), static_cast<int32_t>(wire.size()), version, &len, nullptr);
    if (status == DR_STREAM_RECORD) {
        std::vector<char> own(wire.begin(), wire.begin() + len), rec(static_cast<size_t>(top->datasize));
        DrBuffer r{rec.data(), static_cast<int32_t>(rec.size())}, o{own.data(), len};
        if (dr_net_to_host(top, &r, &o, version) != 0 || o.len != len) std::abort();
    } else if (status == DR_STREAM_MORE && len <= static_cast<int32_t>(wire.size())) {
        std::abort();
    }

    // Renderings of the host record, into a small buffer and to a stream.
    DrBuffer o{out.data(), small_cap};
    h.len = static_cast<int32_t>(host.size());
    dr_sprint_data(top, &o, &h, version);
    o = {out.data(), small_cap};
    h.len = static_cast<int32_t>(host.size());
    dr_sprint_data_xml(top, &o, &h, version);
    static FILE *sink = std::fopen("/dev/null", "w");
    h.len = static_cast<int32_t>(host.size());
    dr_print_data(top, sink, &h, version);
    h.len = static_cast<int32_t>(host.size());  // each call reports its own cursor
    dr_print_data_xml(top, sink, &h, version);
    return 0;
}
