// cursor.h: a caller's DrBuffer as a length the walk can trust, and a cursor offset handed
// back as a DrBuffer length.
#pragma once

#include <algorithm>
#include <cstdint>

#include "dr/dr.h"

namespace dr {

// The usable length of a caller's buffer: a negative length or a missing pointer is empty.
inline int64_t usable_length(const DrBuffer *b) { return b->data == nullptr ? 0 : std::max<int32_t>(b->len, 0); }

// A caller's host buffer, or the first `len` bytes of it that an element may use. span(at, n)
// is the one host bound check: whether n bytes at offset `at` lie inside. It cannot
// overflow, and a negative offset or size never fits.
template <class Byte>
struct Host {
    Byte *data;
    int64_t len;
    [[nodiscard]] bool span(int64_t at, int64_t n) const { return at >= 0 && n >= 0 && at <= len && n <= len - at; }
};

// A cursor offset as a DrBuffer length, kept inside 0..INT32_MAX.
inline int32_t as_buffer_len(int64_t offset) {
    return static_cast<int32_t>(std::clamp<int64_t>(offset, 0, INT32_MAX));
}

}  // namespace dr
