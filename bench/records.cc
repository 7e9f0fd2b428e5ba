// records.cc: the benchmark records' typelib and sample values.
#include "bench/records.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dr/dr_compile.h"

namespace bench {

// Compiled, then saved and loaded as a user's program loads a typelib file, so that the codec
// runs with the plans the loader builds.
const DrLib *library() {
    static const DrLib *lib = [] {
        DrLib *out = nullptr;
        DrCompileError err;
        if (dr_compile_file(&out, BENCH_DIR "/records.xml", &err) != 0) {
            std::fprintf(stderr, "records.xml:%d:%d: %s\n", err.line, err.column, err.message);
            std::exit(1);
        }
        DrLib *loaded = nullptr;
        std::FILE *fp = std::tmpfile();
        if (fp == nullptr || dr_save_lib(out, fp) != 0 || dr_load_lib(&loaded, fp) != 0) {
            std::fprintf(stderr, "records.xml: the compiled typelib does not load\n");
            std::exit(1);
        }
        std::fclose(fp);
        dr_free_lib(out);
        return loaded;
    }();
    return lib;
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
