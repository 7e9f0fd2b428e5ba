// byte_order.h: big-endian network integers and the element copies of the network form.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "dr/codec/byte_swap.h"

namespace dr {

inline void put_be16(char *p, uint16_t v) {
    p[0] = static_cast<char>(v >> 8);
    p[1] = static_cast<char>(v);
}
inline void put_be32(char *p, uint32_t v) {
    p[0] = static_cast<char>(v >> 24);
    p[1] = static_cast<char>(v >> 16);
    p[2] = static_cast<char>(v >> 8);
    p[3] = static_cast<char>(v);
}
inline uint16_t get_be16(const char *p) {
    const auto *b = reinterpret_cast<const unsigned char *>(p);
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
}
inline uint32_t get_be32(const char *p) {
    const auto *b = reinterpret_cast<const unsigned char *>(p);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

// A 16- or 32-bit value between host order and big-endian order (the same swap both ways).
template <class T>
inline T swap_to_big(T v) {
    if constexpr (std::endian::native == std::endian::big) {
        return v;
    } else if constexpr (sizeof(T) == 2) {
        return static_cast<T>(__builtin_bswap16(v));
    } else {
        return static_cast<T>(__builtin_bswap32(v));
    }
}

template <class T>
inline void swap_elements(char *__restrict dst, const char *__restrict src, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        T v;
        std::memcpy(&v, src + i * int64_t{sizeof(T)}, sizeof v);
        v = swap_to_big(v);
        std::memcpy(dst + i * int64_t{sizeof(T)}, &v, sizeof v);
    }
}

// Copies n bytes. The short copies that most records hold (strings, small arrays) go without
// a call: two overlapping loads and stores, both loads first.
inline void copy_bytes(char *dst, const char *src, size_t n) {
    if (n >= 8 && n <= 16) {
        uint64_t head, tail;
        std::memcpy(&head, src, 8);
        std::memcpy(&tail, src + n - 8, 8);
        std::memcpy(dst, &head, 8);
        std::memcpy(dst + n - 8, &tail, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t head, tail;
        std::memcpy(&head, src, 4);
        std::memcpy(&tail, src + n - 4, 4);
        std::memcpy(dst, &head, 4);
        std::memcpy(dst + n - 4, &tail, 4);
    } else if (n < 4) {
        for (size_t i = 0; i < n; ++i) dst[i] = src[i];
    } else {
        std::memcpy(dst, src, n);
    }
}

// From this many elements on, the vector routines (one call through a pointer) are faster.
inline constexpr int64_t kVectorSwapMin = 8;

// Copies `count` elements of `unit` bytes (1, 2, 4 or 8) from `src` to `dst`, swapping 2- and
// 4-byte elements between host and network order; 1- and 8-byte elements travel as they lie.
// Returns false for any other unit.
[[nodiscard]] inline bool copy_elements(char *dst, const char *src, int32_t unit, int64_t count) {
    const size_t n = static_cast<size_t>(unit) * static_cast<size_t>(count);
    switch (unit) {
    case 1:
    case 8:
        copy_bytes(dst, src, n);
        return true;
    case 2:
        if (count >= kVectorSwapMin)
            swap16(dst, src, static_cast<size_t>(count));
        else
            swap_elements<uint16_t>(dst, src, count);
        return true;
    case 4:
        if (count >= kVectorSwapMin)
            swap32(dst, src, static_cast<size_t>(count));
        else
            swap_elements<uint32_t>(dst, src, count);
        return true;
    default:
        return false;
    }
}

}  // namespace dr
