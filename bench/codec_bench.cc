// codec_bench.cc: encode and decode throughput of a small mixed record and of a 64 KiB array.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "dr/dr_compile.h"

namespace {

// The image of codec_bench.xml, compiled once.
const DrLib *bench_lib() {
    static DrLib *lib = [] {
        DrLib *out = nullptr;
        DrCompileError err;
        if (dr_compile_file(&out, BENCH_DIR "/codec_bench.xml", &err) != 0)
            std::fprintf(stderr, "codec_bench.xml:%d:%d: %s\n", err.line, err.column, err.message);
        return out;
    }();
    return lib;
}

const DrMeta *meta_of(const char *name) {
    const DrMeta *m = nullptr;
    if (bench_lib() != nullptr) dr_meta_by_name(bench_lib(), name, &m);
    return m;
}

// The host offset of a member of `meta`, found by name.
int32_t offset_of(const DrMeta *meta, const char *member) {
    for (int32_t k = 0; k < meta->count; ++k)
        if (std::strcmp(meta->entries[k].name, member) == 0) return meta->entries[k].off;
    return 0;
}

// cmd = 2 selects the int array member, five items, a 13-character name.
std::vector<char> small_host(const DrMeta *meta) {
    std::vector<char> host(static_cast<size_t>(meta->datasize), 1);
    const uint16_t cmd = 2;
    std::memcpy(&host[offset_of(meta, "cmd")], &cmd, 2);
    std::strcpy(&host[offset_of(meta, "name")], "a player name");
    host[offset_of(meta, "n")] = 5;
    return host;
}

void run_encode(benchmark::State &state, const DrMeta *meta, std::vector<char> host) {
    std::vector<char> net(1 << 20);
    int32_t written = 0;
    for (auto _ : state) {
        DrBuffer n{net.data(), static_cast<int32_t>(net.size())};
        DrBuffer h{host.data(), static_cast<int32_t>(host.size())};
        if (dr_host_to_net(meta, &n, &h, 0) != 0) state.SkipWithError("encode failed");
        written = n.len;
        benchmark::DoNotOptimize(net.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * written);
}

void run_decode(benchmark::State &state, const DrMeta *meta, std::vector<char> host) {
    std::vector<char> net(1 << 20);
    DrBuffer n{net.data(), static_cast<int32_t>(net.size())};
    DrBuffer h{host.data(), static_cast<int32_t>(host.size())};
    if (dr_host_to_net(meta, &n, &h, 0) != 0) state.SkipWithError("encode failed");
    const int32_t len = n.len;
    std::vector<char> out(host.size());
    for (auto _ : state) {
        DrBuffer o{out.data(), static_cast<int32_t>(out.size())};
        DrBuffer in{net.data(), len};
        if (dr_net_to_host(meta, &o, &in, 0) != 0) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * len);
}

void BM_EncodeSmallRecord(benchmark::State &s) {
    const DrMeta *m = meta_of("Msg");
    run_encode(s, m, small_host(m));
}
void BM_DecodeSmallRecord(benchmark::State &s) {
    const DrMeta *m = meta_of("Msg");
    run_decode(s, m, small_host(m));
}
void BM_EncodeIntArray64K(benchmark::State &s) {
    const DrMeta *m = meta_of("Blob");
    run_encode(s, m, std::vector<char>(static_cast<size_t>(m->datasize), 3));
}
void BM_DecodeIntArray64K(benchmark::State &s) {
    const DrMeta *m = meta_of("Blob");
    run_decode(s, m, std::vector<char>(static_cast<size_t>(m->datasize), 3));
}

// One feature over a one-byte record: `a` is 2 (the union's int array, the array's first two
// elements), the string holds 13 characters.
void BM_EncodeFeature(benchmark::State &s, const char *name) {
    const DrMeta *m = meta_of(name);
    std::vector<char> host(static_cast<size_t>(m->datasize), 1);
    host[0] = 2;
    if (std::strcmp(name, "PlusString") == 0) std::memcpy(&host[1], "a player name", 14);
    run_encode(s, m, host);
}

BENCHMARK(BM_EncodeSmallRecord);
BENCHMARK(BM_DecodeSmallRecord);
BENCHMARK(BM_EncodeIntArray64K);
BENCHMARK(BM_DecodeIntArray64K);
BENCHMARK_CAPTURE(BM_EncodeFeature, one_byte, "OneByte");
BENCHMARK_CAPTURE(BM_EncodeFeature, plus_int, "PlusInt");
BENCHMARK_CAPTURE(BM_EncodeFeature, plus_nested_with_length, "PlusNested");
BENCHMARK_CAPTURE(BM_EncodeFeature, plus_union_with_length, "PlusUnion");
BENCHMARK_CAPTURE(BM_EncodeFeature, plus_string, "PlusString");
BENCHMARK_CAPTURE(BM_EncodeFeature, plus_array, "PlusArray");

}  // namespace
