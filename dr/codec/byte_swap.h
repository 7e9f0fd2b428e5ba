// byte_swap.h: arrays of 2- and 4-byte values swapped between host and network order by
// the widest vector routine the processor runs, chosen once at run time.
#pragma once

#include <cstddef>
#include <span>

#include "dr/plan/window.h"

namespace dr {

// Swaps the bytes of `count` elements from `src` into `dst`; the two must not overlap.
using SwapFn = void (*)(char *dst, const char *src, size_t count);

struct SwapRoutines {
    const char *name;
    SwapFn swap16;
    SwapFn swap32;
};

// The routines this processor can run, the portable scalar one first and the one that
// swap16 and swap32 use last.
std::span<const SwapRoutines> available_swaps();

void swap16(char *dst, const char *src, size_t count);
void swap32(char *dst, const char *src, size_t count);

// Applies `n` windows from `src` to `dst` in order (later windows may rewrite bytes of earlier
// ones). Null when the processor has no byte shuffle: the caller moves the bytes another way.
using PermuteFn = void (*)(char *dst, const char *src, const plan::Window *windows, size_t n);
PermuteFn permute_routine();

}  // namespace dr
