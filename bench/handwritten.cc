// handwritten.cc: per-record encoders and decoders, as a programmer would write them by
// hand for the network form: big-endian 2- and 4-byte values, 8-byte values as they lie,
// strings with a 32-bit length that counts the NUL, inline element length fields.
#include "bench/handwritten.h"

#include <cstring>

namespace bench::hand {
namespace {

inline uint16_t swap_to_big(uint16_t v) { return __builtin_bswap16(v); }
inline uint32_t swap_to_big(uint32_t v) { return __builtin_bswap32(v); }

class Out {
public:
    Out(char *p, size_t cap) : p_(p), end_(p + cap) {}
    bool room(size_t n) const { return n <= static_cast<size_t>(end_ - p_); }
    void u8(uint8_t v) { *p_++ = static_cast<char>(v); }
    void u16(uint16_t v) {
        v = __builtin_bswap16(v);
        std::memcpy(p_, &v, 2);
        p_ += 2;
    }
    void u32(uint32_t v) {
        v = __builtin_bswap32(v);
        std::memcpy(p_, &v, 4);
        p_ += 4;
    }
    void raw(const void *v, size_t n) {
        std::memcpy(p_, v, n);
        p_ += n;
    }
    template <class T>
    void bits32(T v) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        u32(u);
    }
    // A string of at most cap - 1 characters: false when it has no NUL in its capacity.
    bool str(const char *s, size_t cap) {
        const size_t len = strnlen(s, cap);
        if (len == cap || !room(5 + len)) return false;
        u32(static_cast<uint32_t>(len + 1));
        raw(s, len + 1);
        return true;
    }
    char *pos() const { return p_; }

private:
    char *p_;
    char *end_;
};

class In {
public:
    In(const char *p, size_t len) : p_(p), end_(p + len) {}
    bool has(size_t n) const { return n <= static_cast<size_t>(end_ - p_); }
    uint8_t u8() { return static_cast<uint8_t>(*p_++); }
    uint16_t u16() {
        uint16_t v;
        std::memcpy(&v, p_, 2);
        p_ += 2;
        return __builtin_bswap16(v);
    }
    uint32_t u32() {
        uint32_t v;
        std::memcpy(&v, p_, 4);
        p_ += 4;
        return __builtin_bswap32(v);
    }
    void raw(void *v, size_t n) {
        std::memcpy(v, p_, n);
        p_ += n;
    }
    template <class T>
    T bits32() {
        const uint32_t u = u32();
        T v;
        std::memcpy(&v, &u, 4);
        return v;
    }
    bool str(char *s, size_t cap) {
        if (!has(5)) return false;
        const uint32_t len = u32();
        if (len < 1 || len > cap || !has(len) || p_[len - 1] != 0) return false;
        raw(s, len);
        return true;
    }
    const char *pos() const { return p_; }
    void seek(const char *p) { p_ = p; }
    bool within(const char *p) const { return p <= end_; }

private:
    const char *p_;
    const char *end_;
};

// The fixed part of Small before its name, and the members after it, fit in these bounds.
constexpr size_t kSmallHead = 40;
constexpr size_t kSmallTail = 1 + 4 * 8 + 2 + 8 + 1 + 16 + 4 + 1;

}  // namespace

long encode(const Small &r, char *net, size_t cap) {
    Out o(net, cap);
    if (!o.room(kSmallHead)) return -1;
    o.u16(r.ver);
    o.u16(r.cmd);
    o.u32(r.seq);
    o.u32(r.uin);
    o.u8(r.flags);
    o.u8(r.lvl);
    o.u16(static_cast<uint16_t>(r.hp));
    o.u32(static_cast<uint32_t>(r.time));
    o.bits32(r.ratio);
    o.raw(&r.total, 8);
    o.raw(&r.big, 8);
    if (!o.str(r.name, sizeof r.name) || !o.room(kSmallTail) || r.n > 8) return -1;
    o.u8(r.n);
    for (int k = 0; k < r.n; ++k) o.u32(static_cast<uint32_t>(r.scores[k]));
    o.u16(8);
    o.u32(static_cast<uint32_t>(r.pos.x));
    o.u32(static_cast<uint32_t>(r.pos.y));
    if (r.cmd == 2) {
        o.u8(12);
        for (int k = 0; k < 3; ++k) o.u32(static_cast<uint32_t>(r.body.move[k]));
    } else {
        o.u8(16);
        o.raw(r.body.raw, 16);
    }
    o.u32(r.crc);
    o.u8(static_cast<uint8_t>(r.tail));
    return o.pos() - net;
}

long decode(Small &r, const char *net, size_t len) {
    In in(net, len);
    if (!in.has(kSmallHead)) return -1;
    r.ver = in.u16();
    r.cmd = in.u16();
    r.seq = in.u32();
    r.uin = in.u32();
    r.flags = in.u8();
    r.lvl = in.u8();
    r.hp = static_cast<int16_t>(in.u16());
    r.time = static_cast<int32_t>(in.u32());
    r.ratio = in.bits32<float>();
    in.raw(&r.total, 8);
    in.raw(&r.big, 8);
    if (!in.str(r.name, sizeof r.name) || !in.has(1)) return -1;
    r.n = in.u8();
    if (r.n > 8 || !in.has(4u * r.n + 2)) return -1;
    for (int k = 0; k < r.n; ++k) r.scores[k] = static_cast<int32_t>(in.u32());
    // Nested elements: the length field says where the next member begins.
    const char *start = in.pos() + 2;
    const char *next = start + in.u16();
    if (!in.within(next) || !in.has(8)) return -1;
    r.pos.x = static_cast<int32_t>(in.u32());
    r.pos.y = static_cast<int32_t>(in.u32());
    in.seek(next);
    if (!in.has(1)) return -1;
    start = in.pos() + 1;
    next = start + in.u8();
    if (!in.within(next)) return -1;
    if (r.cmd == 2) {
        if (!in.has(12)) return -1;
        for (int k = 0; k < 3; ++k) r.body.move[k] = static_cast<int32_t>(in.u32());
    } else {
        if (!in.has(16)) return -1;
        in.raw(r.body.raw, 16);
    }
    in.seek(next);
    if (!in.has(5)) return -1;
    r.crc = in.u32();
    r.tail = static_cast<char>(in.u8());
    return in.pos() - net;
}

long encode(const Medium &r, char *net, size_t cap) {
    Out o(net, cap);
    if (!o.room(16)) return -1;
    o.u16(r.ver);
    o.u16(r.cmd);
    o.u32(r.seq);
    o.u32(r.uin);
    o.u32(static_cast<uint32_t>(r.time));
    if (!o.str(r.zone, sizeof r.zone) || !o.room(4) || r.n > kItems) return -1;
    o.u16(r.n);
    o.u16(r.flags);
    for (int k = 0; k < r.n; ++k) {
        const Item &it = r.items[k];
        if (!o.room(30)) return -1;
        char *field = o.pos();
        o.u16(0);
        o.u32(it.id);
        o.u32(it.owner);
        o.u16(it.kind);
        o.u16(it.slot);
        o.u32(static_cast<uint32_t>(it.qty));
        o.u32(static_cast<uint32_t>(it.price));
        o.bits32(it.weight);
        o.u32(static_cast<uint32_t>(it.stamp));
        if (!o.str(it.label, sizeof it.label)) return -1;
        const auto length = __builtin_bswap16(static_cast<uint16_t>(o.pos() - field - 2));
        std::memcpy(field, &length, 2);
    }
    return o.pos() - net;
}

long decode(Medium &r, const char *net, size_t len) {
    In in(net, len);
    if (!in.has(16)) return -1;
    r.ver = in.u16();
    r.cmd = in.u16();
    r.seq = in.u32();
    r.uin = in.u32();
    r.time = static_cast<int32_t>(in.u32());
    if (!in.str(r.zone, sizeof r.zone) || !in.has(4)) return -1;
    r.n = in.u16();
    r.flags = in.u16();
    if (r.n > kItems) return -1;
    for (int k = 0; k < r.n; ++k) {
        Item &it = r.items[k];
        if (!in.has(30)) return -1;
        const char *next = in.pos() + 2;
        next += in.u16();
        if (!in.within(next)) return -1;
        it.id = in.u32();
        it.owner = in.u32();
        it.kind = in.u16();
        it.slot = in.u16();
        it.qty = static_cast<int32_t>(in.u32());
        it.price = static_cast<int32_t>(in.u32());
        it.weight = in.bits32<float>();
        it.stamp = static_cast<int32_t>(in.u32());
        if (!in.str(it.label, sizeof it.label)) return -1;
        in.seek(next);
    }
    return in.pos() - net;
}

// The bulk arrays: one swap per element, network bytes read and written unaligned.
namespace {

template <class U, class T, size_t N>
long swap_out(const T (&values)[N], char *net, size_t cap) {
    if (cap < sizeof values) return -1;
    for (size_t k = 0; k < N; ++k) {
        const U v = swap_to_big(static_cast<U>(values[k]));
        std::memcpy(net + sizeof(U) * k, &v, sizeof v);
    }
    return sizeof values;
}

template <class U, class T, size_t N>
long swap_in(T (&values)[N], const char *net, size_t len) {
    if (len < sizeof values) return -1;
    for (size_t k = 0; k < N; ++k) {
        U v;
        std::memcpy(&v, net + sizeof(U) * k, sizeof v);
        values[k] = static_cast<T>(swap_to_big(v));
    }
    return sizeof values;
}

}  // namespace

long encode(const Bulk32 &r, char *net, size_t cap) { return swap_out<uint32_t>(r.values, net, cap); }
long decode(Bulk32 &r, const char *net, size_t len) { return swap_in<uint32_t>(r.values, net, len); }
long encode(const Bulk16 &r, char *net, size_t cap) { return swap_out<uint16_t>(r.values, net, cap); }
long decode(Bulk16 &r, const char *net, size_t len) { return swap_in<uint16_t>(r.values, net, len); }

}  // namespace bench::hand
