// verify.h: the structural check that a loaded image must pass before any operation uses it.
#pragma once

#include <cstdint>

namespace dr {

// Checks that everything an operation follows lies inside the `length` bytes at `image`:
// the header's tables, the index and directory rows, every reachable meta and its
// entries, macro indexes, terminated names, and that no record type contains itself.
// Returns nullptr for a sound image, else a short text naming the first check that failed.
[[nodiscard]] const char *verify_image(const void *image, int64_t length);

}  // namespace dr
