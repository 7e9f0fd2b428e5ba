// random_cases.cc: writes random typelibs and streams of their records for the dissector test:
// OUTDIR/lib<N>.tlb, OUTDIR/rec<N>.bin (records back to back, at the newest version) and
// OUTDIR/rec<N>.len (each record's length, one per line). Only records that decode back to
// their own bytes are written.
#include <cstdio>
#include <string>
#include <vector>

#include "dr/dr.h"
#include "tests/support/random_desc.h"

namespace {

bool write_bytes(const std::string &path, const void *data, size_t n) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (fp == nullptr) return false;
    const bool ok = std::fwrite(data, 1, n, fp) == n;
    return std::fclose(fp) == 0 && ok;
}

std::vector<char> encode(const DrMeta *top, std::vector<char> &host) {
    DrBuffer net{nullptr, 0}, h{host.data(), static_cast<int32_t>(host.size())};
    if (dr_host_to_net_ex(top, &net, &h, 0, nullptr) != 0) return {};
    std::vector<char> out(static_cast<size_t>(net.len) + 1);
    net = {out.data(), net.len};
    h.len = static_cast<int32_t>(host.size());
    if (dr_host_to_net(top, &net, &h, 0) != 0) return {};
    out.resize(static_cast<size_t>(net.len));
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUTDIR DESCRIPTIONS RECORDS\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const int descriptions = std::stoi(argv[2]), records = std::stoi(argv[3]);
    for (int seed = 1; seed <= descriptions; ++seed) {
        drtest::Image img = drtest::build(drtest::random_lib(static_cast<uint32_t>(seed)));
        const DrMeta *top = img.meta("Top");
        std::vector<char> stream;
        std::string lengths;
        for (int r = 0; r < records; ++r) {
            std::vector<char> host = drtest::random_host(top, static_cast<uint32_t>(seed * 1000 + r));
            const std::vector<char> net = encode(top, host);
            if (net.empty()) continue;
            std::vector<char> back(host.size(), 0);
            DrBuffer h{back.data(), static_cast<int32_t>(back.size())};
            DrBuffer n{const_cast<char *>(net.data()), static_cast<int32_t>(net.size())};
            if (dr_net_to_host(top, &h, &n, 0) != 0 || n.len != static_cast<int32_t>(net.size()) ||
                encode(top, back) != net)
                continue;
            stream.insert(stream.end(), net.begin(), net.end());
            lengths += std::to_string(net.size()) + "\n";
        }
        const std::string stem = dir + "/" + std::to_string(seed);
        if (!write_bytes(dir + "/lib" + std::to_string(seed) + ".tlb", img.bytes(), img.size()) ||
            !write_bytes(dir + "/rec" + std::to_string(seed) + ".bin", stream.data(), stream.size()) ||
            !write_bytes(dir + "/rec" + std::to_string(seed) + ".len", lengths.data(), lengths.size())) {
            std::fprintf(stderr, "cannot write under %s\n", dir.c_str());
            return 1;
        }
    }
    return 0;
}
