// stream_bench.cc: what measuring a record in a stream costs: the record whole, and the same
// record arriving in 1,000 pieces to a DrStreamReader asked after every piece. Two layouts: an
// array whose elements carry no length (each cut is found where the walk stops) and one whose
// elements carry a 2-byte length (the reader asks for the element's end at once).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "dr/dr_stream.h"
#include "tests/support/image_builder.h"

namespace {

constexpr int32_t kElements = 400;

struct Case {
    drtest::Image img;
    const DrMeta *meta;
    std::vector<char> net;
};

// Big { ushort n; Elem e[n]; }  Elem { int a; string s[16]; short b; }: 400 elements, about 8 KB.
Case make(int32_t netlen_size) {
    drtest::Lib lib = drtest::library(
        {drtest::record("Big", 1,
                        {drtest::field("n", "ushort"),
                         drtest::nested("e", "Elem", kElements).refer("n").netlen(netlen_size ? -2 : 0, netlen_size)}),
         drtest::record("Elem", 2, {drtest::field("a", "int"), drtest::field("s", "string", 16), drtest::field("b", "short")})});
    Case c{drtest::build(lib), nullptr, {}};
    c.meta = c.img.meta("Big");
    std::vector<char> host(static_cast<size_t>(c.meta->datasize), 0);
    const uint16_t n = kElements;
    std::memcpy(host.data(), &n, 2);
    const DrMeta *elem = c.img.meta("Elem");
    for (int32_t k = 0; k < kElements; ++k) std::strcpy(host.data() + 2 + k * elem->datasize + 4, "hello, stream");
    DrBuffer h{host.data(), static_cast<int32_t>(host.size())}, net{nullptr, 0};
    if (dr_host_to_net_ex(c.meta, &net, &h, 0, nullptr) != 0) std::abort();
    c.net.resize(static_cast<size_t>(net.len));
    net = {c.net.data(), net.len};
    h.len = static_cast<int32_t>(host.size());
    if (dr_host_to_net(c.meta, &net, &h, 0) != 0) std::abort();
    return c;
}

void BM_MeasureWhole(benchmark::State &state) {
    const Case c = make(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        int32_t len;
        benchmark::DoNotOptimize(dr_measure_record(c.meta, c.net.data(), static_cast<int32_t>(c.net.size()), 0, &len,
                                                   nullptr));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.net.size()));
    state.counters["record_bytes"] = static_cast<double>(c.net.size());
}

void BM_MeasureInThousandPieces(benchmark::State &state) {
    Case c = make(static_cast<int32_t>(state.range(0)));
    const size_t size = c.net.size();
    std::vector<char> scratch(static_cast<size_t>(c.meta->datasize));
    int32_t walks = 0;
    for (auto _ : state) {
        DrStreamReader r;
        (void)dr_stream_reader_init(&r, c.meta, 0, scratch.data(), static_cast<int32_t>(scratch.size()));
        int status = DR_STREAM_MORE;
        int32_t len = 0;
        for (int piece = 1; piece <= 1000 && status == DR_STREAM_MORE; ++piece)
            status = dr_stream_reader_measure(&r, c.net.data(), static_cast<int32_t>(size * piece / 1000), &len, nullptr);
        if (status != DR_STREAM_RECORD || static_cast<size_t>(len) != size) state.SkipWithError("not measured whole");
        walks = r.walks;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
    state.counters["walks"] = walks;
}

BENCHMARK(BM_MeasureWhole)->Arg(0)->Arg(2);
BENCHMARK(BM_MeasureInThousandPieces)->Arg(0)->Arg(2);

}  // namespace
