// build.cc: a type's plan from its description, read the way the walk reads it.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "dr/plan/plan.h"
#include "dr/typelib/image.h"

namespace dr::plan {
namespace {

constexpr int64_t kFar = std::numeric_limits<int64_t>::max() / 4;
// A fixed nested member is laid into its parent's run when its elements add at most this many
// members; a longer array is walked element by element by a kNest.
constexpr int64_t kFlattenMembers = 256;

// The width rule of count and selector members: 2, 4, anything else 1.
uint8_t width_of(int32_t size) { return size == 2 ? 2 : size == 4 ? 4 : 1; }

struct Span {
    int64_t from, to;
    bool meets(const Span &o) const { return from < o.to && o.from < to && from < to && o.from < o.to; }
};

// What a member writes into the host record and what it reads there, for the decode test.
struct Access {
    Span writes;
    Span reads[3];  // count member, selector, and a nested element's bytes (read by its members)
};

class Builder {
public:
    Builder(const Store &store, const DrMeta *meta, int32_t version, Plan &plan)
        : store_(store), top_(meta), v_(version), p_(plan) {}

    void run() {
        p_.meta = top_;
        p_.lo = std::numeric_limits<int32_t>::min();
        p_.hi = std::numeric_limits<int32_t>::max();
        p_.need = 0;
        p_.decode = true;
        // Room for the usual plan at once: a step per member and an end per element body.
        const size_t n = static_cast<size_t>(std::max(top_->count, 1));
        const bool is_struct = top_->is_struct != 0;
        p_.steps.reserve(is_struct ? n + 2 : 3 * n);
        p_.pieces.reserve(n);
        p_.arms.reserve(is_struct ? 1 : n);
        accesses_.reserve(is_struct ? n : 1);
        if (is_struct) {
            body(top_->entries, top_->count);
        } else {
            // A union element takes one member: the one its selector chose, or the first one when
            // the union is the record itself.
            for (int32_t k = 0; k < std::max(top_->count, 1); ++k) body(top_->entries + k, std::min(top_->count, 1));
        }
    }

private:
    void note(int32_t version) {
        if (version <= v_)
            p_.lo = std::max(p_.lo, version);
        else
            p_.hi = std::min(p_.hi, version - 1);
    }

    // One element body: `n` entries from `first` in stored order (a struct), or one union member.
    void body(const DrEntry *first, int32_t n) {
        p_.arms.push_back(static_cast<int32_t>(p_.steps.size()));
        accesses_.clear();
        pending_ = 0;
        run_ = -1;
        for (int32_t k = 0; k < n; ++k) {
            const DrEntry &e = first[k];
            note(e.version);
            if (e.version > v_) {
                charge(1);
                continue;
            }
            member(e);
        }
        if (n == 0) charge(1);  // a type without members: one turn per element
        close_run();
        if (pending_ > 0) push(Step{Op::kSteps, 0, 0, 0, pending_, 0, 0, 0, 0, 0, 0, 0, 0});
        push(Step{Op::kEnd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        if (!decodable()) p_.decode = false;
    }

    // Walk turns of members left out: charged to the open run, or to the next step.
    void charge(int32_t steps) {
        if (run_ >= 0)
            p_.steps[run_].steps += steps;
        else
            pending_ += steps;
    }
    void push(Step s) {
        s.steps += pending_;
        pending_ = 0;
        p_.steps.push_back(s);
    }
    void close_run() { run_ = -1; }
    void fail() {
        close_run();
        push(Step{Op::kFail, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0});
    }
    Step &open_run() {
        if (run_ < 0) {
            push(Step{Op::kRun, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<int32_t>(p_.pieces.size()), 0, 0, 0});
            run_ = static_cast<int32_t>(p_.steps.size()) - 1;
        }
        return p_.steps[run_];
    }
    void reach(int64_t end) { p_.need = static_cast<int32_t>(std::max<int64_t>(p_.need, end)); }

    void member(const DrEntry &e) {
        if (e.off < 0) return fail();
        const int32_t code = e.type_code;
        const int64_t off = e.off;
        const uint8_t refer = e.refer_size > 0 ? width_of(e.refer_size) : 0;
        const Span count_member = refer ? Span{e.refer_off, int64_t{e.refer_off} + refer} : Span{0, 0};
        reach(off);
        if (nested_code(code)) {
            if (e.meta_off == -1) return fail();
            const DrMeta *child = child_meta(top_, e);
            const int64_t bound = refer && e.count == 0 ? kFar : std::max(e.count, 0);
            const int64_t extent = child->datasize > 0 ? std::min(kFar, bound * child->datasize) : 0;
            const Span bytes{off, off + extent};
            const uint8_t select = code == DR_TYPE_UNION ? width_of(e.select_size) : 0;
            const Span selector = select ? Span{e.select_off, int64_t{e.select_off} + select} : Span{0, 0};
            accesses_.push_back(Access{bytes, {count_member, selector, bytes}});
            int64_t laid = 0;
            if (int height = 0; flattenable(e, child, 1, &height, &laid)) {
                Step &r = open_run();
                r.steps += 1;
                r.off = std::max(r.off, height);
                r.d = static_cast<int32_t>(off);
                lay(e, child, off);
                return;
            }
            close_run();
            if ((code == DR_TYPE_UNION) != (child->is_struct == 0)) return fail();
            const int32_t row = store_.row(child->self_off);
            if (row < 0) return fail();
            push(Step{Op::kNest, 0, refer, select, 1, e.off, e.count, e.refer_off, e.select_off, row, e.netlen_size,
                      e.netlen_pos, child->datasize});
            return;
        }
        if (code == DR_TYPE_STRING) {
            close_run();
            // A string whose capacity may be the rest of the host buffer may write over a count
            // member read before it: a decode would not repeat from the same bytes.
            if (refer || e.count <= 0) p_.decode = false;
            accesses_.push_back(Access{{off, off + std::max(e.count, 0)}, {count_member, {0, 0}, {0, 0}}});
            push(Step{Op::kString, 0, refer, 0, 1, e.off, e.count, e.refer_off, 0, 0, 0, 0, 0});
            return;
        }
        if (!known_unit(e.unit)) return fail();
        if (refer) {
            close_run();
            const int64_t bound = e.count > 0 ? int64_t{e.count} * e.unit : kFar;
            accesses_.push_back(Access{{off, off + bound}, {count_member, {0, 0}, {0, 0}}});
            push(Step{Op::kCounted, static_cast<uint8_t>(e.unit), refer, 0, 1, e.off, e.count, e.refer_off, 0, 0, 0, 0,
                      0});
            return;
        }
        if (e.count < 0) return fail();
        const int64_t n = int64_t{e.unit} * e.count;
        accesses_.push_back(Access{{off, off + n}, {}});
        Step &r = open_run();
        r.steps += 1;
        add_piece(r, e.unit, off, n);
        reach(off + n);
    }

    // Whether nested member `e` of type `child` is fixed at this version and may be laid into
    // the run: a struct without count member or length field whose members taken are fixed, and
    // which lays at most kFlattenMembers members in all. *height is the frames the walk would
    // push for it, *members the members it lays.
    bool flattenable(const DrEntry &e, const DrMeta *child, int depth, int *height, int64_t *members) {
        if (e.type_code != DR_TYPE_STRUCT || child->is_struct == 0 || e.refer_size > 0 || e.netlen_size != 0 ||
            e.netlen_pos < 0 || depth >= DR_MAX_DEPTH)
            return false;
        const int64_t count = std::max(e.count, 0);
        if (count > 1 && child->datasize <= 0) return false;
        int inner = 0;
        int64_t each = 0;  // members laid per element
        if (count > 0) {
            for (int32_t k = 0; k < child->count; ++k) {
                const DrEntry &c = child->entries[k];
                note(c.version);
                if (++each * count > kFlattenMembers) return false;
                if (c.version > v_) continue;
                if (c.off < 0 || c.refer_size > 0) return false;
                if (nested_code(c.type_code)) {
                    int h = 0;
                    int64_t m = 0;
                    if (c.meta_off == -1 || !flattenable(c, child_meta(child, c), depth + 1, &h, &m)) return false;
                    inner = std::max(inner, h);
                    if ((each += m) * count > kFlattenMembers) return false;
                } else if (c.type_code == DR_TYPE_STRING || !known_unit(c.unit) || c.count < 0) {
                    return false;
                }
            }
        }
        *height = 1 + inner;
        *members = count * std::max<int64_t>(each, 1);
        return true;
    }

    // Lays the elements of fixed nested member `e` (checked by flattenable) at element offset
    // `at` into the open run, as the walk visits them.
    void lay(const DrEntry &e, const DrMeta *child, int64_t at) {
        Step &r = p_.steps[run_];
        const int64_t count = std::max(e.count, 0);
        reach(at + count * std::max(child->datasize, 0));
        for (int64_t i = 0; i < count; ++i) {
            const int64_t base = at + i * child->datasize;
            if (child->count == 0) r.steps += 1;
            for (int32_t k = 0; k < child->count; ++k) {
                const DrEntry &c = child->entries[k];
                note(c.version);
                p_.steps[run_].steps += 1;
                if (c.version > v_) continue;
                if (nested_code(c.type_code)) {
                    p_.steps[run_].d = static_cast<int32_t>(base + c.off);
                    lay(c, child_meta(child, c), base + c.off);
                } else {
                    add_piece(p_.steps[run_], c.unit, base + c.off, int64_t{c.unit} * c.count);
                }
            }
        }
        if (count > 0) p_.steps[run_].steps += 1;  // the pop
    }

    void add_piece(Step &r, int32_t unit, int64_t off, int64_t n) {
        r.d = static_cast<int32_t>(off + n);
        r.c += static_cast<int32_t>(n);
        if (n == 0) return;
        const uint8_t swap = unit == 2 || unit == 4 ? static_cast<uint8_t>(unit) : 0;
        if (r.b > 0) {
            Piece &last = p_.pieces.back();
            if (last.swap == swap && last.off + last.len == off) {
                last.len += static_cast<int32_t>(n);
                return;
            }
        }
        p_.pieces.push_back(Piece{swap, static_cast<int32_t>(off), static_cast<int32_t>(n)});
        r.b += 1;
    }

    // A decode that gives up part way is repeated by the walk from the start, over the host bytes
    // written so far. That gives the walk's result only when no member writes host bytes that an
    // earlier member (or the same one, before its elements) read: a count member, a selector, or
    // the bytes of a nested element, whose members may read.
    // The count members and selectors must also lie inside the element, apart from its neighbours.
    bool decodable() const {
        for (size_t k = 0; k < accesses_.size(); ++k) {
            const Access &a = accesses_[k];
            for (int i = 0; i < 2; ++i)
                if (a.reads[i].from < a.reads[i].to && (a.reads[i].from < 0 || a.reads[i].to > top_->datasize))
                    return false;
            if (a.writes.meets(a.reads[0]) || a.writes.meets(a.reads[1])) return false;
            for (size_t j = k + 1; j < accesses_.size(); ++j)
                for (const Span &r : a.reads)
                    if (accesses_[j].writes.meets(r)) return false;
        }
        return true;
    }

    const Store &store_;
    const DrMeta *top_;
    int32_t v_;
    Plan &p_;
    int32_t pending_ = 0;
    int32_t run_ = -1;
    std::vector<Access> accesses_;
};

}  // namespace

std::unique_ptr<Plan> build(const Store &store, const DrMeta *meta, int32_t version) {
    auto plan = std::make_unique<Plan>();
    Builder(store, meta, version, *plan).run();
    return plan;
}

size_t Plan::bytes() const {
    return sizeof(Plan) + steps.size() * sizeof(Step) + pieces.size() * sizeof(Piece) + arms.size() * sizeof(int32_t);
}

}  // namespace dr::plan
