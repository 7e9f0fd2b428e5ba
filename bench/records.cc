// records.cc: the benchmark records' typelib and sample values.
#include "bench/records.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace bench {

using drtest::field;
using drtest::nested;
using drtest::record;

// Members in host order: the builder packs them, matching the #pragma pack(1) structs.
drtest::Lib library() {
    return drtest::library({
        record("Small", 1,
               {field("ver", "ushort"), field("cmd", "ushort"), field("seq", "uint"), field("uin", "uint"),
                field("flags", "uchar"), field("lvl", "uchar"), field("hp", "short"), field("time", "datetime"),
                field("ratio", "float"), field("total", "double"), field("big", "longlong"),
                field("name", "string", 24), field("n", "uchar"), field("scores", "int", 8).refer("n"),
                nested("pos", "Pos").netlen(-2, 2), nested("body", "Body").select("cmd").netlen(-1, 1),
                field("crc", "uint"), field("tail", "char")}),
        record("Pos", 2, {field("x", "int"), field("y", "int")}),
        drtest::union_of("Body", 3, {field("raw", "uchar", 16).id(-1), field("move", "int", 3).id(2)}),
        record("Medium", 4,
               {field("ver", "ushort"), field("cmd", "ushort"), field("seq", "uint"), field("uin", "uint"),
                field("time", "datetime"), field("zone", "string", 16), field("n", "ushort"),
                field("flags", "ushort"), nested("items", "Item", kItems).refer("n").netlen(-2, 2)}),
        record("Item", 5,
               {field("id", "uint"), field("owner", "uint"), field("kind", "ushort"), field("slot", "ushort"),
                field("qty", "int"), field("price", "money"), field("weight", "float"),
                field("stamp", "datetime"), field("label", "string", 12)}),
        record("Bulk32", 6, {field("values", "int", kBulk32)}),
        record("Bulk16", 7, {field("values", "short", kBulk16)}),
    });
}

Small sample_small() {
    Small s;
    std::memset(&s, 0, sizeof s);
    s.ver = 3;
    s.cmd = 2;
    s.seq = 123456789;
    s.uin = 4000000001u;
    s.flags = 0x5a;
    s.lvl = 42;
    s.hp = -1234;
    s.time = 1700000000;
    s.ratio = 0.75f;
    s.total = 98765.4321;
    s.big = -1234567890123LL;
    std::strcpy(s.name, "a player name");
    s.n = 5;
    for (int k = 0; k < 8; ++k) s.scores[k] = k < s.n ? (k + 1) * 1000 - 7 : 0;
    s.pos = Pos{-300, 4500};
    s.body.move[0] = 10;
    s.body.move[1] = -20;
    s.body.move[2] = 30;
    s.crc = 0xdeadbeef;
    s.tail = 'z';
    return s;
}

Medium sample_medium() {
    Medium m;
    std::memset(&m, 0, sizeof m);
    m.ver = 3;
    m.cmd = 7;
    m.seq = 987654321;
    m.uin = 3000000003u;
    m.time = 1700000123;
    std::strcpy(m.zone, "eu-west-3");
    m.n = kItems;
    m.flags = 0x0101;
    for (int k = 0; k < kItems; ++k) {
        Item &it = m.items[k];
        it.id = 100000u + static_cast<uint32_t>(k);
        it.owner = 4000000000u - static_cast<uint32_t>(k);
        it.kind = static_cast<uint16_t>(k % 7);
        it.slot = static_cast<uint16_t>(k);
        it.qty = k * 3 - 20;
        it.price = 199 * k;
        it.weight = 0.5f * static_cast<float>(k);
        it.stamp = 1700000000 + k;
        std::snprintf(it.label, sizeof it.label, "item-%02d", k);
    }
    return m;
}

Bulk32 sample_bulk32() {
    Bulk32 b;
    for (int k = 0; k < kBulk32; ++k) b.values[k] = k * 2654435761u;
    return b;
}

Bulk16 sample_bulk16() {
    Bulk16 b;
    for (int k = 0; k < kBulk16; ++k) b.values[k] = static_cast<int16_t>(k * 40503u);
    return b;
}

namespace {
constexpr size_t kPage = 4096;
}

PageBuffer::PageBuffer(size_t size, size_t offset) : size_(size) {
    const size_t bytes = (offset + size + kPage - 1) / kPage * kPage + kPage;
    block_ = std::aligned_alloc(kPage, bytes);
    if (block_ == nullptr) throw std::bad_alloc();
    std::memset(block_, 0, bytes);
    data_ = static_cast<char *>(block_) + offset;
}

PageBuffer::~PageBuffer() { std::free(block_); }

}  // namespace bench
