// plan_calls.cc: a fixed number of encode or decode calls of a benchmark record, by the plan
// (the public call) or by the walk alone, for instruction counts:
//   valgrind --tool=callgrind --toggle-collect='dr_host_to_net*' --toggle-collect='dr_net_to_host*'
//     --toggle-collect='dr::*_by_walk*' dr_plan_calls small encode plan 1000
// Instructions per call = the collected total / the number of calls.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/records.h"
#include "dr/codec/codec.h"

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s small|medium encode|decode plan|walk CALLS\n", argv[0]);
        return 2;
    }
    const std::string record = argv[1], op = argv[2];
    const bool walk = std::strcmp(argv[3], "walk") == 0;
    const int calls = std::atoi(argv[4]);
    const DrMeta *meta = nullptr;
    if (dr_meta_by_name(bench::library(), record == "small" ? "Small" : "Medium", &meta) != 0) return 1;
    std::vector<char> host;
    if (record == "small") {
        const bench::Small s = bench::sample_small();
        host.assign(reinterpret_cast<const char *>(&s), reinterpret_cast<const char *>(&s) + sizeof s);
    } else {
        const bench::Medium m = bench::sample_medium();
        host.assign(reinterpret_cast<const char *>(&m), reinterpret_cast<const char *>(&m) + sizeof m);
    }
    std::vector<char> net(1 << 16), back(host.size());
    DrBuffer n{net.data(), static_cast<int32_t>(net.size())}, h{host.data(), static_cast<int32_t>(host.size())};
    if (dr::host_to_net_by_walk(meta, &n, &h, 0, nullptr) != 0) return 1;
    const int32_t len = n.len;
    int failed = 0;
    for (int i = 0; i < calls; ++i) {
        if (op == "encode") {
            DrBuffer nn{net.data(), static_cast<int32_t>(net.size())}, hh{host.data(), static_cast<int32_t>(host.size())};
            failed += walk ? dr::host_to_net_by_walk(meta, &nn, &hh, 0, nullptr) : dr_host_to_net(meta, &nn, &hh, 0);
        } else {
            DrBuffer nn{net.data(), len}, hh{back.data(), static_cast<int32_t>(back.size())};
            failed += walk ? dr::net_to_host_by_walk(meta, &hh, &nn, 0, nullptr) : dr_net_to_host(meta, &hh, &nn, 0);
        }
    }
    std::printf("%d calls, %d failed\n", calls, -failed);
    return failed != 0;
}
