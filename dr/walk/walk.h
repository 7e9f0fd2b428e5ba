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
    const int64_t bytes = width == 2 ? 2 : width == 4 ? 4 : 1;
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

// A single value of 1, 2, 4 or 8 bytes at a declared place, without a count member, that lies
// inside the first `room` bytes of its element: a member the walk takes with no test of its own.
// Only the known scalar codes qualify; any other code takes the member path, which judges it.
inline bool plain_value(const DrEntry &e, uint64_t room) {
    const auto unit = static_cast<uint32_t>(e.unit);
    return static_cast<uint32_t>(e.type_code) - DR_TYPE_CHAR < DR_TYPE_STRING - DR_TYPE_CHAR && e.count == 1 &&
           e.refer_size <= 0 && unit <= 8 && (0x116u >> unit & 1) != 0 &&
           uint64_t{static_cast<uint32_t>(e.off)} + unit <= room;
}

// Calls f.template operator()<N>() with N the unit of a plain value (1, 2, 4 or 8), testing
// the commonest widths first: the one place a plain value's width becomes a constant.
template <class F>
decltype(auto) by_unit(uint32_t unit, F &&f) {
    if (unit == 4) return f.template operator()<4>();
    if (unit == 2) return f.template operator()<2>();
    if (unit == 8) return f.template operator()<8>();
    return f.template operator()<1>();
}

// `room` as plain_value takes it: none when the element reaches outside the host buffer.
inline uint64_t plain_room(int64_t room) { return static_cast<uint64_t>(std::max<int64_t>(room, 0)); }

// Bit k set for each member k < 64 of a frame of type `m` that is a plain value taken at
// `version` in an element of `room` bytes: in a union frame only the chosen member `first`.
template <class W>
uint64_t plain_members(const W &w, const DrMeta *m, int32_t first, int32_t version, int64_t room) {
    // A member may name a union as a struct (or the reverse): the entries end at `count` either way.
    const int32_t last = std::min({m->is_struct != 0 ? m->count : first + 1, m->count, 64});
    const uint64_t limit = plain_room(room);
    uint64_t bits = 0;
    for (int32_t k = first; k < last; ++k) {
        const DrEntry &e = m->entries[k];
        if (plain_value(e, limit) && e.version <= version && !w.skip(e)) bits |= uint64_t{1} << k;
    }
    return bits;
}

template <class R>
DrErrorCode hook_code(R r) {
    if constexpr (std::is_same_v<R, bool>)
        return r ? DR_OK : DR_E_TYPE;  // the walker keeps the reason
    else
        return r;
}

template <class W>
DrErrorCode tell_empty(W &w, const DrEntry &e, bool unresolved) {
    if constexpr (requires { w.empty(e, unresolved); })
        return hook_code(w.empty(e, unresolved));
    else
        return DR_OK;
}

// A single value of N bytes at host offset `at` through the walker's value<N>, or through
// its scalar() where it has none.
template <int32_t N, class W>
DrErrorCode single_value(W &w, const DrEntry &e, int64_t at) {
    if constexpr (requires { w.template value<N>(e, at); })
        return hook_code(w.template value<N>(e, at));
    else
        return hook_code(w.scalar(e, at, 1, N));
}

// Walks the record of type `meta` held at `host` (host_len readable bytes) for `version`
// (already effective). The walker W provides:
//   bool skip(const DrEntry &)                      leave a taken member out (no cursor move)
//   scalar(const DrEntry &, int64_t at, int32_t count, int64_t n)   n = unit x count
//   string(const DrEntry &, int64_t at, int64_t capacity)
//   push(DrWalkFrame *frames, int depth)            frames[depth-1] was just pushed
//   element_done(DrWalkFrame *frames, int depth)    an element of the top frame ended
// and may provide value<N>(const DrEntry &, int64_t at) for a single value of N = 1, 2, 4
// or 8 bytes that lies inside the host buffer (else scalar(e, at, 1, N) is called), and,
// to take runs of plain values with one test, both of
//   bool reserve(int64_t n)          whether n more network bytes fit at the cursor
//   values(const DrEntry *first, const DrEntry *end, int64_t base)   the plain members
//                                    [first, end) of the element at `base`, after a reserve
//                                    of 8 bytes for each
// It may also provide
//   empty(const DrEntry &, bool unresolved)         a struct or union member yields no
//                                                   element: its count is 0, or (unresolved)
//                                                   its selector chooses no member
// Each of these returns DR_OK, or the DrErrorCode that stops the walk; a walker that keeps
// its own reasons may answer true or false instead. Two rules differ between walkers and
// are properties of W:
//   kCheckDeclaredCount   a referred count above a nonzero declared count fails (codec)
//   kRestFromCountInUse   a string whose count in use is 0, not its declared count, takes
//                         the rest of the host buffer (decoder)
// `net_len` is the network bytes (or output capacity) that the step budget allows for.
//
// The top frame lives in locals while the walk goes through its members; frames[] is
// brought up to date on push and pop and before a hook that is handed the frames. Which of
// a frame's members are plain values is found once per frame: a run of them in an element
// that lies inside the host buffer costs one network test and one budget test.
template <class W>
WalkEnd walk(W &w, const DrMeta *meta, const char *host, int64_t host_len, int32_t version, int64_t net_len = 0) {
    DrWalkFrame frames[DR_MAX_DEPTH];
    frames[0] = DrWalkFrame{meta, 0, 0, 1, 0, 0, 0, 0};
    int depth = 1;
    int64_t host_cursor = 0;
    const int64_t budget = step_budget(meta, host_len, net_len);
    int64_t left = budget;  // steps still allowed
    const Host<const char> whole{host, host_len};
    constexpr bool kRuns = requires(int64_t n) { w.reserve(n); };
    uint64_t plain_of[DR_MAX_DEPTH];  // plain_members of each frame

    // The top frame: its type, what is read of it once per frame, and its position.
    const DrMeta *m = meta;
    const DrEntry *entries = nullptr;
    int32_t members = 0, datasize = 0;
    bool is_struct = false;
    int32_t index = 0, remaining = 1;
    int64_t base = 0;
    // Host bytes from `base` that the members of the current element may occupy: a nested
    // element's own bytes, or for the top-level record the whole host buffer. Negative when
    // the element reaches outside; then every taken member fails its test below.
    int64_t room = 0;
    uint64_t plain = 0;  // the top frame's plain members, or none when its element reaches outside

    auto load = [&] {
        const DrWalkFrame &f = frames[depth - 1];
        m = f.pMeta;
        entries = m->entries;
        members = m->count;
        datasize = m->datasize;
        is_struct = m->is_struct != 0;
        index = f.iIndex;
        remaining = f.iRemaining;
        base = f.iHostBase;
    };
    auto store = [&] {
        DrWalkFrame &f = frames[depth - 1];
        f.iIndex = index;
        f.iRemaining = remaining;
        f.iHostBase = base;
    };
    auto place = [&] {
        room = (depth == 1 ? host_len : std::min(host_len, base + datasize)) - base;
        plain = depth == 1 || room == datasize ? plain_of[depth - 1] : 0;
    };
    // Moves the top frame `n` members on; true when that ends its element (a union's one
    // member, or the last member of a struct, which then starts again at its first).
    auto next_member = [&](int32_t n) {
        if (is_struct && (index += n) < members) return false;
        if (is_struct) index = 0;
        return true;
    };
    auto fail = [&](DrErrorCode code) {
        return WalkEnd{false, host_cursor, frames[depth - 1].pMeta, code, budget - left};
    };
    load();
    plain_of[0] = kRuns ? plain_members(w, meta, 0, version, host_len) : 0;
    place();

    // One turn per member, per element of a type without members, and per pop; the element
    // ends of one turn are settled (element_done) at the start of the next.
    for (;;) {
        bool element_over = false;
        while (!element_over) {
            if constexpr (kRuns) {
                if (index < 64 && (plain >> index & 1) != 0) {
                    const int run = std::countr_one(plain >> index);
                    if (run <= left && w.reserve(int64_t{8} * run)) {
                        left -= run;
                        const DrEntry *const last = entries + index + run - 1;
                        w.values(entries + index, last + 1, base);
                        host_cursor = base + last->off + last->unit;
                        element_over = next_member(run);
                        continue;
                    }
                }
            }
            if (left == 0) return fail(DR_E_STEPS);
            --left;
            if (index >= members) {  // a type without members ends each element at once
                element_over = true;
                break;
            }
            const DrEntry &e = entries[index];
            if (e.version > version || w.skip(e)) {
                element_over = next_member(1);
                continue;
            }
            // A single value of 1, 2, 4 or 8 bytes at a declared place (no count member): when it
            // lies inside the element's room it needs none of the tests below, only the walker's.
            // The plain members that follow are taken in the same way without leaving this loop;
            // each still costs a step.
            if (const uint64_t limit = plain_room(room); plain_value(e, limit)) {
                const DrEntry *p = &e;
                for (;;) {
                    const auto unit = static_cast<uint32_t>(p->unit);
                    const int64_t at = base + p->off;
                    host_cursor = at;
                    const DrErrorCode code = by_unit(unit, [&]<int32_t N>() { return single_value<N>(w, *p, at); });
                    if (code != DR_OK) return fail(code);
                    host_cursor = at + unit;
                    if ((element_over = next_member(1)) || left == 0) break;
                    p = entries + index;
                    if (!plain_value(*p, limit) || p->version > version || w.skip(*p)) break;
                    --left;
                }
                continue;
            }
            // A taken member lies inside the host buffer even when it has no bytes, so the host
            // cursor never passes the buffer's end.
            const int64_t at = base + e.off;
            if (!whole.span(at, 0)) return fail(DR_E_HOST_END);
            host_cursor = at;
            // Counted elements lie inside the enclosing element: a nested element's own bytes, or
            // for the top-level record the whole host buffer.
            const Host<const char> element{host, base + room};

            int32_t count = e.count;
            if (e.refer_size > 0) {
                if (!read_width_rule(whole, base + e.refer_off, e.refer_size, &count))
                    return fail(DR_E_HOST_END);
                if (count < 0) return fail(DR_E_COUNT);
                if (W::kCheckDeclaredCount && e.count != 0 && count > e.count) return fail(DR_E_COUNT);
            }

            if (e.type_code == DR_TYPE_UNION || e.type_code == DR_TYPE_STRUCT) {
                if (depth == DR_MAX_DEPTH) return fail(DR_E_DEPTH);
                if (e.meta_off == -1) return fail(DR_E_TYPE);
                if (count > 0) {
                    const DrMeta *child = child_meta(m, e);
                    // An array of a type with no host size cannot advance. Inside a nested element
                    // all elements must fit it; in the top-level record each must start inside the
                    // buffer.
                    const int64_t span = int64_t{depth == 1 ? count - 1 : count} * child->datasize;
                    if (child->datasize <= 0 ? count > 1 : !element.span(at, span)) return fail(DR_E_HOST_END);
                    int32_t start = 0;
                    if (e.type_code == DR_TYPE_UNION) {
                        int32_t selector = 0;
                        if (!read_width_rule(whole, base + e.select_off, e.select_size, &selector))
                            return fail(DR_E_HOST_END);
                        start = resolve_union(child, selector, version);
                        if (start < 0) {
                            if (const DrErrorCode code = tell_empty(w, e, true)) return fail(code);
                            // The rest of this element is left out; a following element of the same
                            // frame starts afresh from its type's first member.
                            if (is_struct) index = 0;
                            element_over = true;
                            break;
                        }
                    }
                    store();
                    frames[depth] = DrWalkFrame{child, e.netlen_size, start, count, at, 0, 0, e.netlen_pos};
                    plain_of[depth] = kRuns && count > 1 ? plain_members(w, child, start, version, child->datasize) : 0;
                    ++depth;
                    if (const DrErrorCode code = hook_code(w.push(frames, depth))) return fail(code);
                    load();
                    place();
                    continue;
                }
                if (const DrErrorCode code = tell_empty(w, e, false)) return fail(code);
            } else {
                if (count < 0) return fail(DR_E_COUNT);
                if (e.type_code == DR_TYPE_STRING) {
                    const bool rest = W::kRestFromCountInUse ? count == 0 : e.count == 0;
                    const int64_t capacity = rest ? host_len - at : count;
                    if (const DrErrorCode code = hook_code(w.string(e, at, capacity))) return fail(code);
                    host_cursor = std::min(at + capacity, host_len);
                } else {
                    // Values lie `unit` bytes apart; without a positive unit an array would repeat
                    // one value as many times as a count member says.
                    const int64_t n = int64_t{e.unit} * count;
                    if (e.unit < 0 || (e.unit == 0 && count > 1)) return fail(DR_E_TYPE);
                    if (!element.span(at, n)) return fail(DR_E_HOST_END);
                    if (const DrErrorCode code = hook_code(w.scalar(e, at, count, n))) return fail(code);
                    host_cursor = at + n;
                }
            }
            element_over = next_member(1);
        }

        // The current element of the top frame has ended; so, in turn, may its parents'.
        for (;;) {
            --remaining;
            base += datasize;
            if (left == 0) return fail(DR_E_STEPS);
            store();
            if (const DrErrorCode code = hook_code(w.element_done(frames, depth))) return fail(code);
            if (remaining > 0) break;
            --left;  // the pop's turn
            if (--depth == 0) return WalkEnd{true, host_cursor, meta, DR_OK, budget - left};
            load();
            if (!next_member(1)) break;
        }
        place();
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
