// fuzz_json.cc: arbitrary bytes read as a JSON record of one of the sample's types. The
// reader must keep to its buffers, and a record it accepts must come back the same when
// written as JSON and read again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dr/dr_json.h"
#include "dr/typelib/image.h"

namespace {

DrLib *sample_lib() {
    static DrLib *lib = [] {
        DrLib *l = nullptr;
        if (dr_load_lib_file(&l, EXAMPLES_DIR "/proto.tlb") != 0) {
            std::fprintf(stderr, "cannot load %s\n", EXAMPLES_DIR "/proto.tlb");
            std::abort();
        }
        return l;
    }();
    return lib;
}

}  // namespace

// Input: a type row, a version, a host capacity cut, then the JSON text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    DrLib *lib = sample_lib();
    const DrMeta *meta = dr::meta_of_row(lib, data[0] % dr::header(lib)->meta_count);
    const int version = data[1] % 4;
    // Mostly the whole record; sometimes a buffer cut short.
    const int32_t capacity = data[2] < 200 ? meta->datasize : meta->datasize * (data[2] - 200) / 56;
    std::vector<char> text(data + 3, data + size);
    std::vector<char> host(static_cast<size_t>(capacity));
    DrBuffer h{host.data(), capacity};
    DrBuffer j{text.data(), static_cast<int32_t>(text.size())};
    DrJsonError err;
    if (dr_json_to_host(meta, &h, &j, version, &err) != 0) return 0;

    std::vector<char> json(1 << 16);
    DrBuffer out{json.data(), static_cast<int32_t>(json.size())};
    h.len = capacity;
    if (dr_sprint_data_json(meta, &out, &h, version, data[2] % 3) != 0) std::abort();
    std::vector<char> again(static_cast<size_t>(capacity));
    DrBuffer a{again.data(), capacity};
    DrBuffer k{json.data(), out.len};
    if (dr_json_to_host(meta, &a, &k, version, &err) != 0 || again != host) std::abort();
    return 0;
}
