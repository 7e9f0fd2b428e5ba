// error.h: fills a caller's DrError with a code, its one-line text and the offsets.
#pragma once

#include <cstdint>

#include "dr/dr.h"

namespace dr {

// The one-line text of a DrErrorCode ("" for DR_OK).
const char *error_text(int code);

// Sets *err, when err is not null: `code`, `text` (the code's own text when null) cut to
// the field, and the offsets (-1 where they do not apply). Returns 0 for DR_OK, else -1,
// so that a failing call can end with `return set_error(...)`.
int fill_error(DrError *err, int code, const char *text, int64_t net_offset, int64_t host_offset);
[[nodiscard]] inline int set_error(DrError *err, int code, const char *text = nullptr, int64_t net_offset = -1,
                                   int64_t host_offset = -1) {
    if (err == nullptr) return code == DR_OK ? 0 : -1;
    return fill_error(err, code, text, net_offset, host_offset);
}

}  // namespace dr
