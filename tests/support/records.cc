// records.cc: guarded codec calls and hex helpers for tests.
#include "tests/support/records.h"

#include <gtest/gtest.h>

#include <cctype>

namespace drtest {
namespace {

constexpr size_t kGuard = 64;
constexpr char kGuardByte = '\x5A';

// A buffer with guard bytes before and after the usable area; read-only input is copied
// to exactly its own length so that any read past it lands in a guard (and ASan's redzone).
struct Guarded {
    std::vector<char> all;
    explicit Guarded(size_t n, char fill) : all(n + 2 * kGuard, kGuardByte) {
        std::fill(all.begin() + kGuard, all.end() - kGuard, fill);
    }
    char *data() { return all.data() + kGuard; }
    bool guards_intact() const {
        for (size_t i = 0; i < kGuard; ++i)
            if (all[i] != kGuardByte || all[all.size() - 1 - i] != kGuardByte) return false;
        return true;
    }
};

}  // namespace

std::vector<uint8_t> hex(const std::string &text) {
    std::vector<uint8_t> out;
    int hi = -1;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi << 4 | v));
            hi = -1;
        }
    }
    return out;
}

std::string to_hex(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

Encoded encode(const DrMeta *meta, const std::vector<char> &host, int version, int32_t capacity) {
    std::vector<char> in(host);  // exactly host.size() bytes: reads past it are ASan errors
    Guarded out(static_cast<size_t>(capacity), '\0');
    DrBuffer net{out.data(), capacity};
    DrBuffer h{in.data(), static_cast<int32_t>(in.size())};
    Encoded r;
    r.rc = dr_host_to_net(meta, &net, &h, version);
    EXPECT_TRUE(out.guards_intact()) << "encoder wrote outside the network buffer";
    EXPECT_EQ(in, host) << "encoder changed the host record";
    r.net_len = net.len;
    r.host_len = h.len;
    EXPECT_GE(net.len, 0);
    EXPECT_LE(net.len, capacity);
    const int32_t shown = std::clamp(net.len, 0, capacity);
    r.net.assign(reinterpret_cast<uint8_t *>(out.data()), reinterpret_cast<uint8_t *>(out.data()) + shown);
    return r;
}

Decoded decode(const DrMeta *meta, const std::vector<uint8_t> &net, int version, int32_t capacity, char fill) {
    std::vector<uint8_t> in(net);
    Guarded out(static_cast<size_t>(capacity), fill);
    DrBuffer h{out.data(), capacity};
    DrBuffer n{reinterpret_cast<char *>(in.data()), static_cast<int32_t>(in.size())};
    Decoded r;
    r.rc = dr_net_to_host(meta, &h, &n, version);
    EXPECT_TRUE(out.guards_intact()) << "decoder wrote outside the host buffer";
    EXPECT_EQ(in, net) << "decoder changed the network bytes";
    r.host.assign(out.data(), out.data() + capacity);
    r.host_len = h.len;
    r.net_len = n.len;
    return r;
}

}  // namespace drtest
