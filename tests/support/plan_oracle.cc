// plan_oracle.cc: see plan_oracle.h.
#include "tests/support/plan_oracle.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>

#include "dr/codec/buffers.h"
#include "dr/codec/codec.h"

namespace drtest {
namespace {

constexpr size_t kGuard = 16;

struct Outcome {
    int rc;
    int32_t net_len, host_len;
    std::vector<char> net, host;  // the whole buffers, guard bytes included
    DrError err;
};

std::string differ(const char *op, const Outcome &plan, const Outcome &walk) {
    char text[512];
    auto show = [&](const char *what, long long a, long long b) {
        std::snprintf(text, sizeof text, "%s: %s %lld by plan, %lld by walk", op, what, a, b);
        return std::string(text);
    };
    if (plan.rc != walk.rc) return show("result", plan.rc, walk.rc);
    if (plan.net_len != walk.net_len) return show("network length", plan.net_len, walk.net_len);
    if (plan.host_len != walk.host_len) return show("host length", plan.host_len, walk.host_len);
    for (size_t i = 0; i < plan.net.size(); ++i)
        if (plan.net[i] != walk.net[i]) return show("network byte differs at", static_cast<long long>(i) - kGuard, 0);
    for (size_t i = 0; i < plan.host.size(); ++i)
        if (plan.host[i] != walk.host[i]) return show("host byte differs at", static_cast<long long>(i) - kGuard, 0);
    if (plan.err.code != walk.err.code) return show("error code", plan.err.code, walk.err.code);
    if (plan.err.net_offset != walk.err.net_offset) return show("error network offset", plan.err.net_offset, walk.err.net_offset);
    if (plan.err.host_offset != walk.err.host_offset)
        return show("error host offset", plan.err.host_offset, walk.err.host_offset);
    if (std::strcmp(plan.err.text, walk.err.text) != 0)
        return std::string(op) + ": error text \"" + plan.err.text + "\" by plan, \"" + walk.err.text + "\" by walk";
    return {};
}

// A buffer of `n` bytes filled with `fill` between guard bytes, and the copy of `from` at its start.
std::vector<char> guarded(size_t n, char fill, const std::vector<char> *from = nullptr) {
    std::vector<char> b(n + 2 * kGuard, fill);
    for (size_t i = 0; i < kGuard; ++i) b[i] = b[b.size() - 1 - i] = static_cast<char>(0xC3);
    if (from && !from->empty()) std::memcpy(b.data() + kGuard, from->data(), std::min(n, from->size()));
    return b;
}

}  // namespace

void damage_image(Image &img, uint32_t seed, int fields) {
    std::mt19937 rng(seed);
    const DrLibHeader &h = img.header();
    const auto *dir = reinterpret_cast<const int32_t *>(img.data_area() + h.dir_off);
    for (int k = 0; k < fields && h.meta_count > 0; ++k) {
        auto *meta = reinterpret_cast<DrMeta *>(img.data_area() + dir[2 * (rng() % h.meta_count)]);
        if (meta->count <= 0) continue;
        DrEntry &e = meta->entries[rng() % meta->count];
        int32_t *field[] = {&e.id, &e.version, &e.off, &e.count, &e.unit, &e.type_code, &e.netlen_pos,
                            &e.netlen_size, &e.refer_off, &e.refer_size, &e.select_off, &e.select_size};
        const int32_t value = rng() % 3 == 0 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % 48) - 8;
        *field[rng() % std::size(field)] = value;
    }
}

LoadedLib load_image_bytes(const uint8_t *bytes, size_t size) {
    std::FILE *fp = std::tmpfile();
    if (fp == nullptr) return nullptr;
    DrLib *lib = nullptr;
    if (std::fwrite(bytes, 1, size, fp) != size || dr_load_lib(&lib, fp) != 0) lib = nullptr;
    std::fclose(fp);
    return LoadedLib(lib);
}

std::string compare_encode(const DrMeta *meta, const std::vector<char> &host, int version, int32_t capacity,
                           bool sizing, PlanTally *tally) {
    Outcome o[2];
    for (int by_walk = 0; by_walk < 2; ++by_walk) {
        Outcome &r = o[by_walk];
        r.host = guarded(host.size(), 0, &host);
        r.net = guarded(static_cast<size_t>(std::max(capacity, 0)), static_cast<char>(0x5A));
        DrBuffer n{sizing ? nullptr : r.net.data() + kGuard, capacity};
        DrBuffer h{r.host.data() + kGuard, static_cast<int32_t>(host.size())};
        std::memset(&r.err, 0x11, sizeof r.err);
        r.err.text[sizeof r.err.text - 1] = 0;
        r.rc = by_walk ? dr::host_to_net_by_walk(meta, &n, &h, version, &r.err)
                       : dr_host_to_net_ex(meta, &n, &h, version, &r.err);
        r.net_len = n.len;
        r.host_len = h.len;
    }
    tally->calls += 1;
    tally->failures += o[1].rc != 0;
    {
        std::vector<char> in(host), out(static_cast<size_t>(std::max(capacity, 0)));
        DrBuffer n{sizing ? nullptr : out.data(), capacity}, h{in.data(), static_cast<int32_t>(in.size())};
        const int32_t v = dr::effective_version(version);
        dr::PlanEnd end;
        if (meta->version <= v && h.data != nullptr && (sizing || n.data != nullptr)) {
            const int64_t net_len = sizing ? INT32_MAX : dr::usable_length(&n);
            if (dr::run_plan<true>(meta, h.data, dr::usable_length(&h), n.data, net_len, v, sizing, true, &end)) {
                tally->by_plan += 1;
                tally->bounded += end.bounded;
            }
        }
    }
    return differ(sizing ? "sizing" : "encode", o[0], o[1]);
}

std::string compare_decode(const DrMeta *meta, const std::vector<char> &net, int version, int32_t capacity,
                           char fill, bool explain, PlanTally *tally) {
    Outcome o[2];
    for (int by_walk = 0; by_walk < 2; ++by_walk) {
        Outcome &r = o[by_walk];
        r.net = guarded(net.size(), 0, &net);
        r.host = guarded(static_cast<size_t>(std::max(capacity, 0)), fill);
        DrBuffer n{r.net.data() + kGuard, static_cast<int32_t>(net.size())};
        DrBuffer h{r.host.data() + kGuard, capacity};
        std::memset(&r.err, 0x11, sizeof r.err);
        r.err.text[sizeof r.err.text - 1] = 0;
        DrError *err = explain ? &r.err : nullptr;
        r.rc = by_walk ? dr::net_to_host_by_walk(meta, &h, &n, version, err)
             : explain ? dr_net_to_host_ex(meta, &h, &n, version, err)
                       : dr_net_to_host(meta, &h, &n, version);
        r.net_len = n.len;
        r.host_len = h.len;
    }
    tally->calls += 1;
    tally->failures += o[1].rc != 0;
    {
        std::vector<char> in(net), out(static_cast<size_t>(std::max(capacity, 0)), fill);
        DrBuffer n{in.data(), static_cast<int32_t>(in.size())}, h{out.data(), capacity};
        const int32_t v = dr::effective_version(version);
        dr::PlanEnd end;
        if (meta->version <= v && h.data != nullptr && n.data != nullptr)
            if (dr::run_plan<false>(meta, h.data, dr::usable_length(&h), n.data, dr::usable_length(&n), v, false,
                                    explain, &end)) {
                tally->by_plan += 1;
                tally->bounded += end.bounded;
            }
    }
    return differ(explain ? "decode_ex" : "decode", o[0], o[1]);
}

}  // namespace drtest
