// net_frames.h: what the encoder and the decoder share: the one bounds-checked cursor over
// the network buffer, where each element of a nested member and its length field lie, and
// the scalar copy, which differs only in direction.
#pragma once

#include <algorithm>
#include <optional>
#include <type_traits>

#include "dr/codec/byte_order.h"
#include "dr/walk/walk.h"

namespace dr {

// Places an element at network offset `*cursor`, its length field at position `len_pos`: an
// inline field (negative position) is reserved in front of it and the cursor passes it; a
// fixed position lies that many bytes after the enclosing element's start `parent_start`.
inline void place_at(int32_t len_pos, int64_t parent_start, int64_t *cursor, int64_t *len_field,
                     int64_t *net_start) {
    if (len_pos < 0) {
        *len_field = *cursor;
        *cursor -= int64_t{len_pos};
        *net_start = *cursor;
    } else {
        *net_start = *cursor;
        *len_field = parent_start + len_pos;
    }
}

// Places the current element of frames[depth-1] (see place_at).
inline void place_element(DrWalkFrame *frames, int depth, int64_t *cursor) {
    DrWalkFrame &f = frames[depth - 1];
    place_at(f.iLenPos, depth >= 2 ? frames[depth - 2].iNetStart : 0, cursor, &f.iLenField, &f.iNetStart);
}

// Whether n network bytes at `at` lie inside a buffer of `len`: the one place that says "does
// not fit". As unsigned numbers a negative offset or size is too large, so two compares do.
inline bool net_span(int64_t at, int64_t n, int64_t len) {
    return static_cast<uint64_t>(at) <= static_cast<uint64_t>(len) &&
           static_cast<uint64_t>(n) <= static_cast<uint64_t>(len - at);
}

// The walker half shared by the encoder (kToNet) and the decoder. With kToNet and a null
// network pointer it sizes: nothing is written, and the highest network byte asked for is
// kept as the capacity the encoding needs.
template <bool kToNet>
class NetWalker {
public:
    using HostByte = std::conditional_t<kToNet, const char, char>;
    using NetByte = std::conditional_t<kToNet, char, const char>;
    static constexpr bool kCheckDeclaredCount = true;
    static constexpr bool kEncodes = kToNet;

    NetWalker(HostByte *host, int64_t host_len, NetByte *net, int64_t net_len)
        : host_{host, host_len}, net_(net), net_len_(net_len) {}

    int64_t cursor() const { return cursor_; }
    // The network offset of the piece that failed: a length field, else the cursor.
    int64_t fault_offset() const { return fault_at_ >= 0 ? fault_at_ : std::min(cursor_, net_len_); }

    bool skip(const DrEntry &) const { return false; }

    [[nodiscard]] DrErrorCode push(DrWalkFrame *frames, int depth) {
        place_element(frames, depth, &cursor_);
        return DR_OK;
    }

    [[nodiscard]] DrErrorCode scalar(const DrEntry &e, int64_t at, int32_t count, int64_t n) {
        if (!known_unit(e.unit)) return DR_E_TYPE;
        const std::optional<int64_t> pos = take(n);
        if (!pos) return DR_E_NET_END;
        if constexpr (kToNet) {
            if (net_ != nullptr) (void)copy_elements(net_ + *pos, host_.data + at, e.unit, count);
        } else {
            (void)copy_elements(host_.data + at, net_ + *pos, e.unit, count);
        }
        return DR_OK;
    }

protected:
    [[nodiscard]] bool inside(int64_t at, int64_t n) const { return net_span(at, n, net_len_); }
    // inside(), keeping the highest end that fitted: what a sized encoding needs, and for the
    // decoder the furthest byte read.
    [[nodiscard]] bool fits(int64_t at, int64_t n) {
        if (!inside(at, n)) return false;
        need_ = std::max(need_, at + n);
        return true;
    }
    // The next n bytes at the cursor: their offset, with the cursor moved past them, or
    // nothing when they do not fit. need_ is not kept here: the cursor only moves back at an
    // element's end (decoder), which brings need_ up to it first.
    [[nodiscard]] std::optional<int64_t> take(int64_t n) {
        if (!inside(cursor_, n)) return std::nullopt;
        cursor_ += n;
        return cursor_ - n;
    }
    // The width of the top frame's element length field, or 0 (remembering the field as the
    // failing piece) when it does not lie wholly inside the network buffer.
    [[nodiscard]] int32_t length_field(const DrWalkFrame &f) {
        const int32_t width = field_width(f.iLenSize);
        if (fits(f.iLenField, width)) return width;
        fault_at_ = f.iLenField;
        return 0;
    }

    Host<HostByte> host_;
    NetByte *net_;
    int64_t net_len_;
    int64_t cursor_ = 0;
    int64_t need_ = 0;
    int64_t fault_at_ = -1;
};

}  // namespace dr
