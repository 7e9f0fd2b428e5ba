// plan_threads.cc: many threads make the first call for the same older version of a type at
// once, so that they race to build and publish its plan. Built with ThreadSanitizer by the
// test command, so a data race is a report; in every build each thread's encodings and
// decodings must equal the walk's.
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "dr/codec/codec.h"
#include "dr/dr.h"
#include "tests/support/image_builder.h"

namespace {

// A committed host record, as the codec takes it.
std::vector<char> host_record(const std::string &path) {
    const std::vector<uint8_t> bytes = drtest::read_file(path);
    return {bytes.begin(), bytes.end()};
}

constexpr int kThreads = 8;

// Encodes then decodes `host` at `version`, by plan (walk false) or by the walk alone.
std::string round_trip(const DrMeta *meta, std::vector<char> host, int version, bool walk) {
    std::vector<char> net(8192), back(host.size());
    DrBuffer n{net.data(), static_cast<int>(net.size())}, h{host.data(), static_cast<int>(host.size())};
    DrError err;
    const int rc = walk ? dr::host_to_net_by_walk(meta, &n, &h, version, &err) : dr_host_to_net_ex(meta, &n, &h, version, &err);
    DrBuffer in{net.data(), n.len}, b{back.data(), static_cast<int>(back.size())};
    const int back_rc = walk ? dr::net_to_host_by_walk(meta, &b, &in, version, &err)
                             : dr_net_to_host_ex(meta, &b, &in, version, &err);
    return std::to_string(rc) + "/" + std::to_string(back_rc) + ":" + std::string(net.data(), net.data() + n.len) +
           std::string(back.begin(), back.end());
}

}  // namespace

int main() {
    const std::string dir = EXAMPLES_DIR;
    std::vector<std::vector<char>> hosts;
    for (const char *name : {"login", "chat", "roster", "ping"}) hosts.push_back(host_record(dir + "/" + name + ".host"));
    int failures = 0;
    for (int round = 0; round < 6; ++round) {
        DrLib *lib = nullptr;
        const DrMeta *meta = nullptr;
        if (dr_load_lib_file(&lib, (dir + "/proto.tlb").c_str()) != 0 || dr_meta_by_name(lib, "Message", &meta) != 0) {
            std::fprintf(stderr, "cannot load %s/proto.tlb\n", dir.c_str());
            return 1;
        }
        const int version = 1 + round % 2;  // older than the newest, whose plans the load built
        std::vector<std::string> want;
        for (const auto &host : hosts) want.push_back(round_trip(meta, host, version, true));
        std::atomic<int> ready{0};
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                ready.fetch_add(1);
                while (ready.load() < kThreads) {
                }
                for (size_t k = 0; k < hosts.size(); ++k) {
                    const size_t i = (k + static_cast<size_t>(t)) % hosts.size();
                    if (round_trip(meta, hosts[i], version, false) != want[i]) wrong.fetch_add(1);
                }
            });
        for (auto &t : threads) t.join();
        dr_free_lib(lib);
        failures += wrong.load();
    }
    if (failures != 0) {
        std::fprintf(stderr, "%d round trips by plan differ from the walk's\n", failures);
        return 1;
    }
    std::puts("plan threads: every round trip equals the walk's");
    return 0;
}
