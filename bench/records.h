// records.h: the benchmark records, one definition shared by every codec measured against
// this library: their packed host layouts, their typelib, and their sample values.
//
// small:  18 members: scalars of every width, a string, an array counted by a member, a
//         nested struct with an inline 2-byte length and a union chosen by a selector.
// medium: a header and 50 nested items of 9 members, each with a 2-byte inline length.
// bulk32, bulk16: 64 KiB of 4-byte and of 2-byte integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dr/dr.h"

namespace bench {

#pragma pack(push, 1)
struct Pos {
    int32_t x;
    int32_t y;
};
union Body {  // selected by Small::cmd: 2 = move, anything else = raw (the default member)
    uint8_t raw[16];
    int32_t move[3];
};
struct Small {
    uint16_t ver;
    uint16_t cmd;
    uint32_t seq;
    uint32_t uin;
    uint8_t flags;
    uint8_t lvl;
    int16_t hp;
    int32_t time;
    float ratio;
    double total;
    int64_t big;
    char name[24];
    uint8_t n;           // number of scores in use
    int32_t scores[8];
    Pos pos;             // inline 2-byte length
    Body body;           // inline 1-byte length
    uint32_t crc;
    char tail;
};
struct Item {
    uint32_t id;
    uint32_t owner;
    uint16_t kind;
    uint16_t slot;
    int32_t qty;
    int32_t price;
    float weight;
    int32_t stamp;
    char label[12];
};
inline constexpr int kItems = 50;
struct Medium {
    uint16_t ver;
    uint16_t cmd;
    uint32_t seq;
    uint32_t uin;
    int32_t time;
    char zone[16];
    uint16_t n;          // number of items in use
    uint16_t flags;
    Item items[kItems];  // each with an inline 2-byte length
};
inline constexpr int kBulk32 = 16384;
inline constexpr int kBulk16 = 32768;
struct Bulk32 {
    int32_t values[kBulk32];
};
struct Bulk16 {
    int16_t values[kBulk16];
};
#pragma pack(pop)

static_assert(sizeof(Small) == 126 && sizeof(Item) == 40 && sizeof(Medium) == 2036);
static_assert(sizeof(Bulk32) == 65536 && sizeof(Bulk16) == 65536);

// The typelib of all four records (record types "Small", "Medium", "Bulk32", "Bulk16"),
// compiled from bench/records.xml once; the program ends when it does not compile.
const DrLib *library();

// Sample values: every member set, strings shorter than their capacity, counts below
// their bounds, and the union's non-default member selected.
Small sample_small();
Medium sample_medium();
Bulk32 sample_bulk32();
Bulk16 sample_bulk16();

// A buffer at a fixed offset from a page boundary, so that runs do not differ by where
// the heap happened to place it.
class PageBuffer {
public:
    PageBuffer(size_t size, size_t offset);
    ~PageBuffer();
    PageBuffer(const PageBuffer &) = delete;
    PageBuffer &operator=(const PageBuffer &) = delete;
    char *data() { return data_; }
    const char *data() const { return data_; }
    size_t size() const { return size_; }

private:
    void *block_;
    char *data_;
    size_t size_;
};

}  // namespace bench
