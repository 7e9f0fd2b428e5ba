// bounds_bench.cc: the longest a walk can take. An image that repeats a subtree 8^12 times
// passes the loader; with the component's buffers (256 KiB host, 256 KiB network) every
// call on it must stop at the step budget, 16 x (host + network) + 64 x members steps.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "tests/support/random_desc.h"

namespace {

constexpr int32_t kComponentBuffer = 262144;

void BM_WorstImageAtComponentBuffers(benchmark::State &state) {
    drtest::Image img = drtest::build(drtest::chain(12, 8, 1, 1));
    const DrMeta *top = img.meta("L0");
    std::vector<char> host(kComponentBuffer), net(kComponentBuffer), text(kComponentBuffer);
    for (auto _ : state) {
        DrBuffer n{net.data(), kComponentBuffer}, h{host.data(), kComponentBuffer};
        int rc = state.range(0) == 0   ? dr_host_to_net(top, &n, &h, 0)
                 : state.range(0) == 1 ? dr_net_to_host(top, &h, &n, 0)
                                       : dr_sprint_data(top, &n, &h, 0);
        if (rc != -1) state.SkipWithError("the walk was not stopped");
        benchmark::DoNotOptimize(rc);
    }
}
BENCHMARK(BM_WorstImageAtComponentBuffers)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
