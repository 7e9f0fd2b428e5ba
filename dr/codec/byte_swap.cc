// byte_swap.cc: vector byte swapping on x86 (AVX2 or SSSE3 byte shuffles, SSE2 word
// shuffles and shifts), scalar everywhere else. A vector routine ends with one more full
// vector overlapping the one before: it rewrites bytes already written with the same
// values (source and destination never overlap), so no scalar tail is needed.
#include "dr/codec/byte_swap.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "dr/codec/byte_order.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define DR_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace dr {
namespace {

void scalar16(char *dst, const char *src, size_t count) {
    swap_elements<uint16_t>(dst, src, static_cast<int64_t>(count));
}
void scalar32(char *dst, const char *src, size_t count) {
    swap_elements<uint32_t>(dst, src, static_cast<int64_t>(count));
}

#ifdef DR_X86_VECTORS

// Defines `name` swapping `unit`-byte elements through `width`-byte vectors, two per turn,
// the last vector overlapping the one before; below one vector `small` does the work.
// (A macro, not a template taking the vector operations: each routine's body must be
// compiled for its own instruction set so that the operations inline.)
#define DR_DEFINE_SWAP(name, isa, unit, width, load, store, swap, small)                   \
    [[gnu::target(isa)]] void name(char *dst, const char *src, size_t count) {            \
        const size_t bytes = count * (unit);                                              \
        if (bytes < (width)) return small(dst, src, count);                               \
        size_t i = 0;                                                                     \
        for (; i + 2 * (width) <= bytes; i += 2 * (width)) {                              \
            store(dst + i, swap(load(src + i)));                                          \
            store(dst + i + (width), swap(load(src + i + (width))));                      \
        }                                                                                 \
        if (i + (width) <= bytes) {                                                       \
            store(dst + i, swap(load(src + i)));                                          \
            i += (width);                                                                 \
        }                                                                                 \
        if (i < bytes) store(dst + bytes - (width), swap(load(src + bytes - (width))));   \
    }

[[gnu::target("sse2")]] inline __m128i load16(const char *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
[[gnu::target("sse2")]] inline void store16(char *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }
[[gnu::target("sse2")]] inline __m128i sse2_swap16(__m128i v) {
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}
[[gnu::target("sse2")]] inline __m128i sse2_swap32(__m128i v) {
    return sse2_swap16(_mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xb1), 0xb1));  // words swapped first
}
[[gnu::target("ssse3")]] inline __m128i ssse3_swap16(__m128i v) {
    return _mm_shuffle_epi8(v, _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
}
[[gnu::target("ssse3")]] inline __m128i ssse3_swap32(__m128i v) {
    return _mm_shuffle_epi8(v, _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
}
[[gnu::target("avx2")]] inline __m256i load32(const char *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
[[gnu::target("avx2")]] inline void store32(char *p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}
[[gnu::target("avx2")]] inline __m256i avx2_swap16(__m256i v) {
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3,
                                                   2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
}
[[gnu::target("avx2")]] inline __m256i avx2_swap32(__m256i v) {
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1,
                                                   0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
}

[[gnu::target("ssse3")]] void ssse3_permute(char *dst, const char *src, const plan::Window *w, size_t n) {
    for (const plan::Window *end = w + n; w != end; ++w) {
        const __m128i order = load16(reinterpret_cast<const char *>(w->order));
        __m128i v = _mm_shuffle_epi8(load16(src + w->from), order);  // kKeep bytes come out 0
        if (w->keeps) v = _mm_or_si128(v, _mm_and_si128(load16(dst + w->to), _mm_cmplt_epi8(order, _mm_setzero_si128())));
        store16(dst + w->to, v);
    }
}

DR_DEFINE_SWAP(sse2_16, "sse2", 2, 16, load16, store16, sse2_swap16, scalar16)
DR_DEFINE_SWAP(sse2_32, "sse2", 4, 16, load16, store16, sse2_swap32, scalar32)
DR_DEFINE_SWAP(ssse3_16, "ssse3", 2, 16, load16, store16, ssse3_swap16, scalar16)
DR_DEFINE_SWAP(ssse3_32, "ssse3", 4, 16, load16, store16, ssse3_swap32, scalar32)
DR_DEFINE_SWAP(avx2_16, "avx2", 2, 32, load32, store32, avx2_swap16, ssse3_16)
DR_DEFINE_SWAP(avx2_32, "avx2", 4, 32, load32, store32, avx2_swap32, ssse3_32)
#undef DR_DEFINE_SWAP

#endif  // DR_X86_VECTORS

struct Available {
    SwapRoutines list[4];
    size_t n = 0;
};

Available detect() {
    Available a;
    a.list[a.n++] = {"scalar", scalar16, scalar32};
#ifdef DR_X86_VECTORS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2")) a.list[a.n++] = {"sse2", sse2_16, sse2_32};
    if (__builtin_cpu_supports("ssse3")) a.list[a.n++] = {"ssse3", ssse3_16, ssse3_32};
    if (__builtin_cpu_supports("avx2")) a.list[a.n++] = {"avx2", avx2_16, avx2_32};
#endif
    return a;
}

// The first call through each pointer picks the routine and stores it for later calls.
void first16(char *dst, const char *src, size_t count);
void first32(char *dst, const char *src, size_t count);
std::atomic<SwapFn> chosen16{first16};
std::atomic<SwapFn> chosen32{first32};

void first16(char *dst, const char *src, size_t count) {
    const SwapFn fn = available_swaps().back().swap16;
    chosen16.store(fn, std::memory_order_relaxed);
    fn(dst, src, count);
}
void first32(char *dst, const char *src, size_t count) {
    const SwapFn fn = available_swaps().back().swap32;
    chosen32.store(fn, std::memory_order_relaxed);
    fn(dst, src, count);
}

}  // namespace

PermuteFn permute_routine() {
#ifdef DR_X86_VECTORS  // x86 is little-endian: the windows are built for that order
    static const PermuteFn fn = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") ? ssse3_permute : nullptr;
    }();
    return fn;
#else
    return nullptr;
#endif
}

std::span<const SwapRoutines> available_swaps() {
    static const Available a = detect();
    return {a.list, a.n};
}

void swap16(char *dst, const char *src, size_t count) { chosen16.load(std::memory_order_relaxed)(dst, src, count); }
void swap32(char *dst, const char *src, size_t count) { chosen32.load(std::memory_order_relaxed)(dst, src, count); }

}  // namespace dr
