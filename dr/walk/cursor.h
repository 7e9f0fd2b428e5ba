// cursor.h: a caller's DrBuffer as a length the walk can trust, and a cursor offset handed
// back as a DrBuffer length.
#pragma once

#include <algorithm>
#include <cstdint>

#include "dr/dr.h"

namespace dr {

// The usable length of a caller's buffer: a negative length or a missing pointer is empty.
inline int64_t usable_length(const DrBuffer *b) { return b->data == nullptr ? 0 : std::max<int32_t>(b->len, 0); }

// A cursor offset as a DrBuffer length, kept inside 0..INT32_MAX.
inline int32_t as_buffer_len(int64_t offset) {
    return static_cast<int32_t>(std::clamp<int64_t>(offset, 0, INT32_MAX));
}

}  // namespace dr
