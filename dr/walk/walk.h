// walk.h: the one member walk shared by the encoder, the decoder and both renderers.
//
// The walk visits a record's members iteratively over DR_MAX_DEPTH frames: struct members
// in stored order, one union member chosen by a selector, array counts from count members,
// members newer than the requested version left out. A walker supplies only what it does
// at a scalar, at a string, when a nested frame is pushed and when an element has ended.
//
// All positions are byte offsets from the start of the caller's buffers, never pointers,
// so a damaged description can at worst produce an offset that a bounds check refuses.
#pragma once

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "dr/typelib/image.h"
#include "dr/walk/cursor.h"

namespace dr {

// One frame of the walk. The format's walk names the three positions pHostBase, pNetStart
// and pLenField; here they are byte offsets into the caller's buffers, never pointers.
struct DrWalkFrame {
    const DrMeta *pMeta;  // the record type walked by this frame
    int32_t iLenSize;     // width of each element's length field; 0 = none (always in frame 0)
    int32_t iIndex;       // entry being processed; in a union frame the selected member
    int32_t iRemaining;   // elements still to walk
    int64_t iHostBase;    // host offset of the current element
    int64_t iNetStart;    // network offset where the current element's own bytes begin
    int64_t iLenField;    // network offset of the current element's length field
    int32_t iLenPos;      // netlen_pos of the member that opened the frame
};

inline constexpr int32_t kNewest = std::numeric_limits<int32_t>::max();

// A requested version of 0 stands for the newest.
inline int32_t effective_version(int32_t version) { return version == 0 ? kNewest : version; }

// Reads a count or selector member by the width rule: 2 unsigned 16-bit, 4 signed
// 32-bit, anything else one unsigned byte. False when it lies outside the host buffer.
[[nodiscard]] inline bool read_width_rule(Host<const char> host, int64_t at, int32_t width, int32_t *value) {
    const int64_t bytes = field_width(width);
    if (!host.span(at, bytes)) return false;
    if (bytes == 2) {
        uint16_t v;
        std::memcpy(&v, host.data + at, 2);
        *value = v;
    } else if (bytes == 4) {
        std::memcpy(value, host.data + at, 4);
    } else {
        *value = static_cast<unsigned char>(host.data[at]);
    }
    return true;
}

// The union member that selector `s` chooses at `version`, or -1 when unresolved:
// a direct hit at s - first id, else a linear search below 16 members and a halving
// search from 16 on, else the default member (first id -1); a member newer than the
// version is never chosen.
inline int32_t resolve_union(const DrMeta *u, int32_t s, int32_t version) {
    const int32_t n = u->count;
    if (n <= 0) return -1;
    const DrEntry *entries = u->entries;
    int32_t found = -1;
    const int64_t d = int64_t{s} - entries[0].id;
    if (d >= 0 && d < n && entries[d].id == s) {
        found = static_cast<int32_t>(d);
    } else if (n < 16) {
        for (int32_t k = 0; k < n && found < 0; ++k)
            if (entries[k].id == s) found = k;
    } else {
        found = binary_search_rows(n, [&](int32_t mid) { return compare_ids(s, entries[mid].id); });
    }
    if (found < 0 && entries[0].id == -1) found = 0;
    if (found >= 0 && entries[found].version > version) return -1;
    return found;
}

// How a walk ended: whether it completed (code DR_OK), why it stopped, where the host
// cursor stood, the record type of the frame on top when it stopped, and how many steps
// it took.
struct WalkEnd {
    bool ok;
    int64_t host_cursor;
    const DrMeta *top;
    DrErrorCode code;
    int64_t steps;
};

// Every walk ends within kStepsPerByte steps (turns of its loop) per byte of the host
// record and the network bytes, plus kStepsPerMember per member the image can hold (its
// size / 152). Loading keeps members inside their parents and the walk keeps counted
// elements inside the enclosing element, but members that overlap, or nested types of no
// host size, can still repeat a subtree without consuming bytes; the budget stops such a
// walk with a failure. A record laid out as its description says takes a few steps per host
// byte and per member, far below the budget.
inline constexpr int64_t kStepsPerByte = 16;
inline constexpr int64_t kStepsPerMember = 64;

inline int64_t step_budget(const DrMeta *meta, int64_t host_len, int64_t net_len) {
    const int64_t members = std::max<int32_t>(header(lib_of(meta))->size, 0) / kEntrySize;
    return kStepsPerByte * (host_len + net_len + 1) + kStepsPerMember * members;
}

// What a hook answers: DR_OK, or the DrErrorCode that stops the walk; a walker that keeps its
// own reasons may answer true or false instead (false stops the walk).
template <class R>
concept HookResult = std::same_as<R, DrErrorCode> || std::same_as<R, bool>;

template <class R>
DrErrorCode hook_code(R r) {
    if constexpr (std::is_same_v<R, bool>)
        return r ? DR_OK : DR_E_TYPE;  // the walker keeps the reason
    else
        return r;
}

// What a walker supplies to the walk:
//   skip(e)                      leave the taken member e out (no cursor move)
//   scalar(e, at, count, n)      the values of e at host offset `at`: count of them, n = unit x count
//   string(e, at, capacity)      the string of e at `at`, of `capacity` bytes at most
//   push(frames, depth)          frames[depth-1] was just pushed
//   element_done(frames, depth)  an element of the top frame ended
// and optionally
//   empty(e, unresolved)         a struct or union member yields no element: its count is 0,
//                                or (unresolved) its selector chooses no member
// Two rules differ between walkers and are compile-time properties of W:
//   kCheckDeclaredCount   a referred count above a nonzero declared count fails (codec)
//   kRestFromCountInUse   a string whose count in use is 0, not its declared count, takes
//                         the rest of the host buffer (decoder)
template <class W>
concept Walker = requires(W &w, const DrEntry &e, int64_t at, int32_t count, DrWalkFrame *frames, int depth) {
    { w.skip(e) } -> std::same_as<bool>;
    { w.scalar(e, at, count, at) } -> HookResult;
    { w.string(e, at, at) } -> HookResult;
    { w.push(frames, depth) } -> HookResult;
    { w.element_done(frames, depth) } -> HookResult;
    typename std::bool_constant<W::kCheckDeclaredCount>;
    typename std::bool_constant<W::kRestFromCountInUse>;
} && (!requires(W &w, const DrEntry &e) { w.empty(e, true); } ||
      requires(W &w, const DrEntry &e) { { w.empty(e, true) } -> HookResult; });

template <Walker W>
DrErrorCode tell_empty(W &w, const DrEntry &e, bool unresolved) {
    if constexpr (requires { w.empty(e, unresolved); })
        return hook_code(w.empty(e, unresolved));
    else
        return DR_OK;
}

// Moves frame f to its next member; true when that ends its element: a union's one member, or
// the last member of a struct, which then starts again at its first.
inline bool next_member(DrWalkFrame &f) {
    if (f.pMeta->is_struct == 0) return true;
    if (++f.iIndex < f.pMeta->count) return false;
    f.iIndex = 0;
    return true;
}

// The count of member e of the element at host offset `base`: its declared count, or the one its
// count member holds (read by the width rule), which must not be negative and, for a walker
// with kCheckDeclaredCount, not above a nonzero declared count.
template <Walker W>
DrErrorCode count_in_use(Host<const char> whole, int64_t base, const DrEntry &e, int32_t *count) {
    if (e.refer_size <= 0) return DR_OK;
    if (!read_width_rule(whole, base + e.refer_off, e.refer_size, count)) return DR_E_HOST_END;
    if (*count < 0) return DR_E_COUNT;
    if (W::kCheckDeclaredCount && e.count != 0 && *count > e.count) return DR_E_COUNT;
    return DR_OK;
}

// Takes the string, or the `count` values, of member e at host offset `at` inside `element`, and
// moves the host cursor past them.
template <Walker W>
DrErrorCode take_values(W &w, const DrEntry &e, int64_t at, int32_t count, Host<const char> element,
                        int64_t host_len, int64_t *host_cursor) {
    if (count < 0) return DR_E_COUNT;
    if (e.type_code == DR_TYPE_STRING) {
        const bool rest = W::kRestFromCountInUse ? count == 0 : e.count == 0;
        const int64_t capacity = rest ? host_len - at : count;
        if (const DrErrorCode code = hook_code(w.string(e, at, capacity))) return code;
        *host_cursor = std::min(at + capacity, host_len);
        return DR_OK;
    }
    // Values lie `unit` bytes apart; without a positive unit an array would repeat one value as
    // many times as a count member says.
    const int64_t n = int64_t{e.unit} * count;
    if (e.unit < 0 || (e.unit == 0 && count > 1)) return DR_E_TYPE;
    if (!element.span(at, n)) return DR_E_HOST_END;
    if (const DrErrorCode code = hook_code(w.scalar(e, at, count, n))) return code;
    *host_cursor = at + n;
    return DR_OK;
}

// The member where each element of nested member e (of type `child`, in the element at host
// offset `base`) starts: 0 for a struct, for a union the member its selector chooses, or -1
// when it chooses none. False when the selector lies outside the host buffer.
inline bool first_member(Host<const char> whole, int64_t base, const DrEntry &e, const DrMeta *child,
                         int32_t version, int32_t *start) {
    if (e.type_code != DR_TYPE_UNION) return true;
    int32_t selector = 0;
    if (!read_width_rule(whole, base + e.select_off, e.select_size, &selector)) return false;
    *start = resolve_union(child, selector, version);
    return true;
}

// Walks the record of type `meta` held at `host` (host_len readable bytes) for `version`
// (already effective), calling the walker's hooks. `net_len` is the network bytes (or output
// capacity) that the step budget allows for. A turn of the loop takes one member of the top
// frame, or ends an element of a type without members, or ends the top frame's element (and
// pops the frame after its last); all but the element end cost a step.
template <Walker W>
WalkEnd walk(W &w, const DrMeta *meta, const char *host, int64_t host_len, int32_t version, int64_t net_len = 0) {
    DrWalkFrame frames[DR_MAX_DEPTH];
    frames[0] = DrWalkFrame{meta, 0, 0, 1, 0, 0, 0, 0};
    int depth = 1;
    int64_t host_cursor = 0;
    const int64_t budget = step_budget(meta, host_len, net_len);
    int64_t left = budget;  // steps still allowed
    const Host<const char> whole{host, host_len};
    auto fail = [&](DrErrorCode code) {
        return WalkEnd{false, host_cursor, frames[depth - 1].pMeta, code, budget - left};
    };
    bool element_over = false;  // the top frame's current element has ended
    for (;;) {
        DrWalkFrame &f = frames[depth - 1];
        const DrMeta *const m = f.pMeta;
        if (element_over) {  // settle it; after the frame's last element, pop the frame
            --f.iRemaining;
            f.iHostBase += m->datasize;
            if (left == 0) return fail(DR_E_STEPS);
            if (const DrErrorCode code = hook_code(w.element_done(frames, depth))) return fail(code);
            if ((element_over = f.iRemaining <= 0)) {
                --left;  // the pop's turn
                if (--depth == 0) return WalkEnd{true, host_cursor, meta, DR_OK, budget - left};
                element_over = next_member(frames[depth - 1]);  // which may end the parent's element too
            }
            continue;
        }
        if (left == 0) return fail(DR_E_STEPS);
        --left;
        if (f.iIndex >= m->count) {  // a type without members ends each element at once
            element_over = true;
            continue;
        }
        const DrEntry &e = m->entries[f.iIndex];
        if (e.version > version || w.skip(e)) {
            element_over = next_member(f);
            continue;
        }
        // A taken member lies inside the host buffer even when it has no bytes, so the host
        // cursor never passes the buffer's end.
        const int64_t at = f.iHostBase + e.off;
        if (!whole.span(at, 0)) return fail(DR_E_HOST_END);
        host_cursor = at;
        // Counted elements lie inside the enclosing element: a nested element's own bytes, or
        // for the top-level record the whole host buffer.
        const Host<const char> element{host, depth == 1 ? host_len : std::min(host_len, f.iHostBase + m->datasize)};
        int32_t count = e.count;
        if (const DrErrorCode code = count_in_use<W>(whole, f.iHostBase, e, &count)) return fail(code);
        if (e.type_code == DR_TYPE_UNION || e.type_code == DR_TYPE_STRUCT) {
            if (depth == DR_MAX_DEPTH) return fail(DR_E_DEPTH);
            if (e.meta_off == -1) return fail(DR_E_TYPE);
            if (count <= 0) {
                if (const DrErrorCode code = tell_empty(w, e, false)) return fail(code);
                element_over = next_member(f);
                continue;
            }
            const DrMeta *child = child_meta(m, e);
            // An array of a type with no host size cannot advance. Inside a nested element all
            // elements must fit it; in the top-level record each must start inside the buffer.
            const int64_t span = int64_t{depth == 1 ? count - 1 : count} * child->datasize;
            if (child->datasize <= 0 ? count > 1 : !element.span(at, span)) return fail(DR_E_HOST_END);
            int32_t start = 0;
            if (!first_member(whole, f.iHostBase, e, child, version, &start)) return fail(DR_E_HOST_END);
            if (start < 0) {
                if (const DrErrorCode code = tell_empty(w, e, true)) return fail(code);
                // The rest of this element is left out; a following element of the same frame
                // starts afresh from its type's first member.
                if (m->is_struct != 0) f.iIndex = 0;
                element_over = true;
                continue;
            }
            frames[depth++] = DrWalkFrame{child, e.netlen_size, start, count, at, 0, 0, e.netlen_pos};
            if (const DrErrorCode code = hook_code(w.push(frames, depth))) return fail(code);
            continue;
        }
        if (const DrErrorCode code = take_values(w, e, at, count, element, host_len, &host_cursor)) return fail(code);
        element_over = next_member(f);
    }
}

// The index of the first NUL among the 8 bytes at `p`, or 8 when there is none. With the
// first byte lowest, (x - 0x01..) & ~x & 0x80.. flags every NUL; a borrow can flag only bytes
// after a real NUL, so the lowest flag is exact.
inline int64_t first_nul(const char *p) {
    uint64_t x;
    std::memcpy(&x, p, 8);
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
    const uint64_t flags = (x - 0x0101010101010101u) & ~x & 0x8080808080808080u;
    return flags == 0 ? 8 : std::countr_zero(flags) / 8;
}

// The text of a string member: the bytes at `at` up to the first NUL within `capacity`
// and the host buffer. Returns the number of characters, or -1 when no NUL is there.
inline int64_t string_length(Host<const char> host, int64_t at, int64_t capacity) {
    if (!host.span(at, 0) || capacity <= 0) return -1;
    const int64_t limit = std::min(capacity, host.len - at);
    if (limit == 0) return -1;
    if (limit >= 8 && limit <= 64) {  // most strings: word by word, the last word overlapping, no call
        const char *p = host.data + at;
        int64_t i = 0;
        for (; i + 8 < limit; i += 8)
            if (const int64_t k = first_nul(p + i); k < 8) return i + k;
        const int64_t k = first_nul(p + limit - 8);
        return k < 8 ? limit - 8 + k : -1;
    }
    const void *nul = std::memchr(host.data + at, 0, static_cast<size_t>(limit));
    return nul ? static_cast<const char *>(nul) - (host.data + at) : -1;
}

}  // namespace dr
