// plan_run.h: runs a type's plan to encode or decode a record.
//
// A plan does what the walk does, in the same order, on the records it accepts. At anything
// else (a bound, a budget, a string, a length field, a member the walk refuses) it gives up
// before writing a byte that the walk would not write, and the caller runs the walk from the
// start, which then reports exactly what it always reports. For a decode the plan builder has
// made sure that no host byte read by a member is written later, so the walk reads the same
// counts and selectors over the bytes the plan left.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "dr/codec/byte_order.h"
#include "dr/codec/net_frames.h"
#include "dr/plan/plan.h"
#include "dr/walk/walk.h"

namespace dr {

struct PlanEnd {
    int64_t cursor;       // network cursor
    int64_t need;         // highest network end tested by a length field
    int64_t host_cursor;  // as the walk reports it
    bool bounded;         // taken without the tests the plan's bounds make needless
};

// Runs plans for the encoder (kToNet) or the decoder; kWrite false sizes an encoding.
template <bool kToNet, bool kWrite = true>
class PlanRun {
public:
    using HostByte = std::conditional_t<kToNet, const char, char>;
    using NetByte = std::conditional_t<kToNet, char, const char>;

    // The walk's step budget (see step_budget) is found from the buffers when it is needed;
    // sizing allows for as many network bytes as the host record holds.
    PlanRun(const plan::Store &store, HostByte *host, int64_t host_len, NetByte *net, int64_t net_len,
            int32_t version, bool explain)
        : store_(store), host_(host), host_len_(host_len), net_(net), net_len_(net_len), v_(version),
          explain_(explain), permute_(permute_routine()) {}

    // True with *end set when the record was taken; false when the walk must take it.
    // A record whose plan bounds what it can take, in buffers that hold that much and a budget
    // that allows for it, runs without the tests that those bounds make needless.
    bool run(const plan::Plan *top, PlanEnd *end) {
        if (!usable(top)) return false;
        // Any budget allows at least kStepsPerByte turns per host byte.
        if (top->bounded && top->turns < kStepsPerByte * (host_len_ + 1) && top->height < DR_MAX_DEPTH &&
            host_len_ >= top->host && (!kToNet || net_len_ >= top->net))
            return go<false>(top, end);
        if (host_len_ < top->need) return false;
        budget_ = step_budget(top->meta, host_len_, kWrite ? net_len_ : host_len_);
        return go<true>(top, end);
    }

private:
    template <bool kChecked>
    bool go(const plan::Plan *top, PlanEnd *end) {
        Frame frames[DR_MAX_DEPTH];
        Frame *f = frames;
        *f = Frame{top, windows(top), top->body(0), top->end(0), nullptr, 0, host_len_, 0, 0, 1, 0, 0,
                   top->meta->datasize};
        int depth = 1;
        int64_t cursor = 0, need = 0, host_cursor = 0, used = 0;
        // Threaded dispatch: each step ends with its own jump to the next step's code, so the
        // processor predicts each jump from the step it leaves (one shared switch jump is
        // predicted far worse on the short, varied step lists of small records).
        static const void *const kCode[] = {&&op_run, &&op_counted, &&op_string, &&op_nest,
                                            &&op_steps, &&op_fail, &&op_end};
        static_assert(sizeof kCode / sizeof *kCode == static_cast<size_t>(plan::Op::kEnd) + 1);
        const plan::Step *pc = f->body, *sp = nullptr;
#define DR_NEXT()                                             \
    do {                                                      \
        sp = pc++;                                            \
        if constexpr (kChecked) {                             \
            used += sp->steps;                                \
            if (used > budget_) return false;                 \
        }                                                     \
        goto *kCode[static_cast<uint8_t>(sp->op)];            \
    } while (0)
        DR_NEXT();
        op_run: {
            const plan::Step &s = *sp;
            if (kChecked && (depth + s.off > DR_MAX_DEPTH || s.c > net_len_ - cursor)) return false;
            if (!kChecked && !kToNet && s.c > net_len_ - cursor) return false;
            if constexpr (kWrite) {
                constexpr int dir = kToNet ? 0 : 1;
                const plan::RunWindows *rw = f->windows != nullptr ? &f->windows->runs[s.run] : nullptr;
                if (rw != nullptr && rw->count[dir] > 0 && (!rw->wide || net_len_ - cursor >= 16)) {
                    const plan::Window *w = f->windows->windows.data() + rw->first[dir];
                    if constexpr (kToNet)
                        permute_(net_ + cursor, host_ + f->base, w, static_cast<size_t>(rw->count[dir]));
                    else
                        permute_(host_ + f->base, net_ + cursor, w, static_cast<size_t>(rw->count[dir]));
                } else {
                    pieces(f->plan, s, f->base, cursor);
                }
            }
            cursor += s.c;
            host_cursor = f->base + s.d;
            DR_NEXT();
        }
        op_counted: {
            const plan::Step &s = *sp;
            const int64_t at = f->base + s.off;
            int32_t count = s.count;
            if (!counted(s, f->base, &count)) return false;
            const int64_t n = int64_t{s.unit} * count;
            if (kChecked && n > f->element_end - at) return false;
            if ((kChecked || !kToNet) && n > net_len_ - cursor) return false;
            if (kWrite) {
                if constexpr (kToNet)
                    (void)copy_elements(net_ + cursor, host_ + at, s.unit, count);
                else
                    (void)copy_elements(host_ + at, net_ + cursor, s.unit, count);
            }
            cursor += n;
            host_cursor = at + n;
            DR_NEXT();
        }
        op_string: {
            const plan::Step &s = *sp;
            const int64_t at = f->base + s.off;
            int32_t count = s.count;
            if ((kChecked && at > host_len_) || !counted(s, f->base, &count)) return false;
            // The encoder takes the rest of the host buffer for a declared count of 0, the
            // decoder for a count in use of 0.
            const int64_t capacity = (kToNet ? s.count == 0 : count == 0) ? host_len_ - at : count;
            if (!string(at, capacity, &cursor)) return false;
            host_cursor = std::min(at + capacity, host_len_);
            DR_NEXT();
        }
        op_nest: {
            const plan::Step &s = *sp;
            const int64_t at = f->base + s.off;
            int32_t count = s.count;
            if (kChecked && (depth == DR_MAX_DEPTH || at > host_len_)) return false;
            if (!counted(s, f->base, &count)) return false;
            host_cursor = at;
            if (count <= 0) DR_NEXT();
            const int64_t size = s.d;
            if (kChecked && (size <= 0 ? count > 1 : count * size > f->element_end - at)) return false;
            const plan::Plan *child = s.child != nullptr ? s.child : store_.plan(s.a, v_);
            if (child == nullptr || !usable(child)) return false;
            if (kChecked && child->need > std::max<int64_t>(size, 0)) return false;
            int32_t arm = 0;
            if (s.select != 0) {
                int32_t selector = 0;
                if (!read_width_rule(Host<const char>{host_, host_len_}, f->base + s.select_off, s.select,
                                     &selector))
                    return false;
                arm = resolve_union(child->meta, selector, v_);
                if (arm < 0) {  // the rest of this element is left out
                    pc = f->end;
                    DR_NEXT();
                }
            }
            Frame &c = frames[depth++];
            c = Frame{child, windows(child), child->body(arm), child->end(arm), pc, at, at + size, 0, 0, count, s.b,
                      s.c, static_cast<int32_t>(size)};
            place(c, f->net_start, &cursor);
            f = &c;
            pc = c.body;
            DR_NEXT();
        }
        op_steps:
            DR_NEXT();
        op_fail:
            return false;
        op_end: {
            if (kChecked && used >= budget_) return false;
            --f->remaining;
            f->base += f->size;
            if (f->len_size != 0) {
                if (!element_done(*f, &cursor, &need)) return false;
                if (f->remaining > 0) place(*f, frames[depth - 2].net_start, &cursor);
            }
            if (f->remaining > 0) {
                f->element_end = f->base + f->size;
                pc = f->body;
                DR_NEXT();
            }
            ++used;  // the pop's turn
            if (--depth == 0) {
                if (cursor > net_len_) return false;  // an inline length field reserved past the end
                *end = PlanEnd{cursor, need, host_cursor, !kChecked};
                return true;
            }
            pc = f->resume;
            f = &frames[depth - 1];
            DR_NEXT();
        }
    }
#undef DR_NEXT

    struct Frame {
        const plan::Plan *plan;
        const plan::WindowSet *windows;  // null: runs move piece by piece
        const plan::Step *body, *end, *resume;
        int64_t base, element_end;  // the element's host bytes
        int64_t net_start, len_field;
        int32_t remaining, len_size, len_pos, size;
    };

    bool usable(const plan::Plan *p) const { return kToNet || p->decode; }
    const plan::WindowSet *windows(const plan::Plan *p) const {
        return kWrite && permute_ != nullptr ? p->run_windows() : nullptr;
    }

    // The count in use: the declared one, or the count member's by the width rule.
    bool counted(const plan::Step &s, int64_t base, int32_t *count) const {
        if (s.refer == 0) return true;
        if (!read_width_rule(Host<const char>{host_, host_len_}, base + s.refer_off, s.refer, count)) return false;
        return *count >= 0 && (s.count == 0 || *count <= s.count);
    }

    // Where an element and its length field lie, as the walk places them.
    static void place(Frame &f, int64_t parent_start, int64_t *cursor) {
        place_at(f.len_pos, parent_start, cursor, &f.len_field, &f.net_start);
    }

    bool inside(int64_t at, int64_t n) const { return net_span(at, n, net_len_); }

    void pieces(const plan::Plan *p, const plan::Step &s, int64_t base, int64_t cursor) const {
        HostByte *host = host_ + base;
        NetByte *net = net_ + cursor;
        for (const plan::Piece *q = p->pieces.data() + s.a, *last = q + s.b; q != last; ++q) {
            const size_t n = static_cast<size_t>(q->len);
            if constexpr (kToNet)
                move(net, host + q->off, q->swap, n);
            else
                move(host + q->off, net, q->swap, n);
            net += n;
        }
    }
    static void move(char *to, const char *from, uint8_t swap, size_t n) {
        if (swap == 0)
            copy_bytes(to, from, n);
        else if (swap == 4)
            n == 4 ? swap_elements<uint32_t>(to, from, 1) : (void)copy_elements(to, from, 4, static_cast<int64_t>(n / 4));
        else
            n == 2 ? swap_elements<uint16_t>(to, from, 1) : (void)copy_elements(to, from, 2, static_cast<int64_t>(n / 2));
    }

    // A string of `capacity` bytes at host offset `at`, as the encoder or the decoder takes it.
    bool string(int64_t at, int64_t capacity, int64_t *cursor) {
        if constexpr (kToNet) {
            const int64_t chars = string_length(Host<const char>{host_, host_len_}, at, capacity);
            if (chars < 0 || !inside(*cursor, 5 + chars)) return false;
            if (kWrite) {
                put_be32(net_ + *cursor, static_cast<uint32_t>(chars + 1));
                copy_bytes(net_ + *cursor + 4, host_ + at, static_cast<size_t>(chars + 1));
            }
            *cursor += 5 + chars;
        } else {
            if (!inside(*cursor, 5)) return false;
            const int64_t length = static_cast<int32_t>(get_be32(net_ + *cursor));
            if (length < 1 || !inside(*cursor, 4 + length) || length > capacity || length > host_len_ - at ||
                net_[*cursor + 4 + length - 1] != 0)
                return false;
            copy_bytes(host_ + at, net_ + *cursor + 4, static_cast<size_t>(length));
            *cursor += 4 + length;
        }
        return true;
    }

    bool element_done(const Frame &f, int64_t *cursor, int64_t *need) {
        const int32_t width = field_width(f.len_size);
        if constexpr (kToNet) {
            if (*cursor > net_len_ || !inside(f.len_field, width)) return false;
            *need = std::max({*need, *cursor, f.len_field + width});
            if (kWrite) {
                const auto length = static_cast<uint32_t>(*cursor - f.net_start);
                char *field = net_ + f.len_field;
                if (width == 4)
                    put_be32(field, length);
                else if (width == 2)
                    put_be16(field, static_cast<uint16_t>(length));
                else
                    *field = static_cast<char>(length);
            }
        } else {
            if (!inside(f.len_field, width)) return false;
            const char *field = net_ + f.len_field;
            const uint32_t length = width == 4 ? get_be32(field)
                                  : width == 2 ? get_be16(field)
                                               : static_cast<unsigned char>(*field);
            if (!inside(f.net_start, length)) return false;
            const int64_t end = f.net_start + length;
            // A length that disagrees with the members is explained by the walk.
            if (explain_ && *cursor != end) return false;
            *need = std::max({*need, f.len_field + width, *cursor, end});
            *cursor = end;
        }
        return true;
    }

    const plan::Store &store_;
    HostByte *host_;
    int64_t host_len_;
    NetByte *net_;
    int64_t net_len_;
    int32_t v_;
    int64_t budget_ = 0;
    bool explain_;
    PermuteFn permute_;  // null: runs move piece by piece
};

}  // namespace dr
