// image.h: typed views of a typelib image and the reference rules that lead through it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "dr/dr.h"
#include "dr/typelib/type_traits.h"

namespace dr {

inline constexpr int32_t kHeaderSize = 112;
inline constexpr uint16_t kMagic = 0x4455;
inline constexpr uint16_t kBuild = 103;
inline constexpr int32_t kMacroRow = 36;
inline constexpr int32_t kIdRow = 8;
inline constexpr int32_t kNameRow = 36;
inline constexpr int32_t kDirRow = 8;
inline constexpr int32_t kMetaHead = 88;
inline constexpr int32_t kEntrySize = 152;
inline constexpr int kBaseTypeCount = DR_BASE_TYPE_COUNT;

struct IdIndexRow { int32_t id; int32_t index; };
struct NameIndexRow { char name[32]; int32_t index; };
struct DirRow { int32_t offset; int32_t second; };

static_assert(sizeof(IdIndexRow) == kIdRow && sizeof(NameIndexRow) == kNameRow &&
              sizeof(DirRow) == kDirRow);

inline const DrLibHeader *header(const DrLib *lib) {
    return reinterpret_cast<const DrLibHeader *>(lib);
}
inline const char *data_area(const DrLib *lib) {
    return reinterpret_cast<const char *>(lib) + kHeaderSize;
}
template <class Row>
inline const Row *table(const DrLib *lib, int32_t off) {
    return reinterpret_cast<const Row *>(data_area(lib) + off);
}
inline const DrMacro *macros(const DrLib *lib) { return table<DrMacro>(lib, header(lib)->macro_off); }
inline const IdIndexRow *id_index(const DrLib *lib) { return table<IdIndexRow>(lib, header(lib)->id_index_off); }
inline const NameIndexRow *name_index(const DrLib *lib) { return table<NameIndexRow>(lib, header(lib)->name_index_off); }
inline const DirRow *directory(const DrLib *lib) { return table<DirRow>(lib, header(lib)->dir_off); }

inline const DrMeta *meta_at(const DrLib *lib, int32_t off) {
    return reinterpret_cast<const DrMeta *>(data_area(lib) + off);
}
// Directory row `row` (presentation order) as a meta.
inline const DrMeta *meta_of_row(const DrLib *lib, int32_t row) {
    return meta_at(lib, directory(lib)[row].offset);
}
// The image that holds a meta: `self_off` + 112 bytes before it.
inline const DrLib *lib_of(const DrMeta *meta) {
    return reinterpret_cast<const DrLib *>(reinterpret_cast<const char *>(meta) - meta->self_off -
                                           kHeaderSize);
}
// The meta a nested member refers to (the entry's meta_off must not be -1).
inline const DrMeta *child_meta(const DrMeta *meta, const DrEntry &e) {
    return meta_at(lib_of(meta), e.meta_off);
}
// Macro row k of the image that holds `meta`.
inline const DrMacro &macro_of(const DrMeta *meta, int32_t k) { return macros(lib_of(meta))[k]; }

// The text of a fixed-size name or description field up to its NUL, never past the field,
// so a field that lacks its NUL cannot lead a reader out of the record.
template <size_t N>
std::string_view field_text(const char (&field)[N]) {
    const void *nul = std::memchr(field, 0, N);
    return {field, nul ? static_cast<size_t>(static_cast<const char *>(nul) - field) : N};
}

// The halving search shared by every sorted table: `cmp(mid)` compares the key with row
// mid (<0 key smaller, >0 key greater). Returns the row that matched, or -1.
template <class Cmp>
int binary_search_rows(int32_t n, Cmp cmp) {
    int32_t lo = 0, hi = n - 1;
    while (lo <= hi) {
        int32_t mid = lo + (hi - lo) / 2;
        int c = cmp(mid);
        if (c > 0)
            lo = mid + 1;
        else if (c < 0)
            hi = mid - 1;
        else
            return mid;
    }
    return -1;
}

inline int compare_ids(int32_t key, int32_t row) { return key < row ? -1 : key > row ? 1 : 0; }

}  // namespace dr
