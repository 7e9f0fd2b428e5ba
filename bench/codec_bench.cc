// codec_bench.cc: encode and decode throughput of a small mixed record and of a 64 KiB array.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "tests/support/image_builder.h"

namespace {

using drtest::field;
using drtest::nested;
using drtest::record;

// About twenty members: scalars of every width, a string, an array of nested records with
// a count member and inline lengths, and a union chosen by a command id.
drtest::Lib small_lib() {
    return drtest::library({
        record("Msg", 1,
               {field("ver", "ushort"), field("cmd", "ushort"), field("seq", "uint"), field("uin", "uint"),
                field("flags", "uchar"), field("time", "datetime"), field("money", "money"), field("ratio", "float"),
                field("total", "double"), field("big", "longlong"), field("name", "string", 32),
                field("tags", "uchar", 8), field("shorts", "short", 4), field("n", "uchar"),
                nested("items", "Item", 8).refer("n").netlen(-2, 2), nested("body", "Body").select("cmd").netlen(-4, 4),
                field("crc", "uint"), field("tail", "char")}),
        record("Item", 2, {field("id", "int"), field("count", "ushort"), field("price", "money")}),
        drtest::union_of("Body", 3, {field("raw", "uchar", 16).id(-1), field("login", "string", 16).id(1),
                                     field("move", "int", 3).id(2)}),
    });
}

drtest::Lib array_lib() {
    return drtest::library({record("Blob", 1, {field("values", "int", 16384)})});
}

drtest::Image &small_image() {
    static drtest::Image img = drtest::build(small_lib());
    return img;
}

// cmd = 2 selects the int array member, five items, a 13-character name.
std::vector<char> small_host(const DrMeta *meta) {
    std::vector<char> host(static_cast<size_t>(meta->datasize), 1);
    drtest::Image &img = small_image();
    const uint16_t cmd = 2;
    std::memcpy(&host[img.entry("Msg", "cmd").off], &cmd, 2);
    std::strcpy(&host[img.entry("Msg", "name").off], "a player name");
    host[img.entry("Msg", "n").off] = 5;
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

const drtest::Image &array_image() {
    static const drtest::Image img = drtest::build(array_lib());
    return img;
}
const DrMeta *meta_of(const drtest::Image &img, const char *name) {
    const DrMeta *m = nullptr;
    dr_meta_by_name(img.lib(), name, &m);
    return m;
}

void BM_EncodeSmallRecord(benchmark::State &s) {
    const DrMeta *m = meta_of(small_image(), "Msg");
    run_encode(s, m, small_host(m));
}
void BM_DecodeSmallRecord(benchmark::State &s) {
    const DrMeta *m = meta_of(small_image(), "Msg");
    run_decode(s, m, small_host(m));
}
void BM_EncodeIntArray64K(benchmark::State &s) {
    const DrMeta *m = meta_of(array_image(), "Blob");
    run_encode(s, m, std::vector<char>(static_cast<size_t>(m->datasize), 3));
}
void BM_DecodeIntArray64K(benchmark::State &s) {
    const DrMeta *m = meta_of(array_image(), "Blob");
    run_decode(s, m, std::vector<char>(static_cast<size_t>(m->datasize), 3));
}

BENCHMARK(BM_EncodeSmallRecord);
BENCHMARK(BM_DecodeSmallRecord);
BENCHMARK(BM_EncodeIntArray64K);
BENCHMARK(BM_DecodeIntArray64K);

}  // namespace
