// build.cc: a type's plan from its description, read the way the walk reads it.
#include <algorithm>
#include <bit>
#include <iterator>
#include <utility>
#include <cstdint>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <span>

#include "dr/plan/plan.h"
#include "dr/typelib/image.h"

namespace dr::plan {
namespace {

constexpr int64_t kFar = std::numeric_limits<int64_t>::max() / 4;
// A fixed nested member is laid into its parent's run when its elements add at most this many
// members; a longer array is walked element by element by a kNest.
constexpr int64_t kFlattenMembers = 256;
// Runs up to this many bytes move as windows; a longer run is mostly long arrays, which the
// vector swaps move faster, piece by piece, and its windows would cost memory.
constexpr int32_t kWindowBytes = 256;


class Builder {
public:
    Builder(const Store &store, const DrMeta *meta, int32_t version, int depth, PlanShape &plan, Draft &draft)
        : store_(store), top_(meta), v_(version), depth_(depth), p_(plan), d_(draft), accesses_(draft.accesses) {}

    void run() {
        p_.meta = top_;
        p_.lo = std::numeric_limits<int32_t>::min();
        p_.hi = std::numeric_limits<int32_t>::max();
        p_.need = 0;
        p_.decode = true;
        p_.runs = 0;
        // Room for the usual plan at once: a step per member and an end per element body.
        const size_t n = static_cast<size_t>(std::max(top_->count, 1));
        const bool is_struct = top_->is_struct != 0;
        d_.steps.reserve(is_struct ? n + 2 : 3 * n);
        d_.pieces.reserve(n);
        d_.arms.reserve(is_struct ? 1 : n);
        accesses_.reserve(is_struct ? n : 1);
        if (is_struct) {
            body(top_->entries, top_->count);
        } else {
            // A union element takes one member: the one its selector chose, or the first one when
            // the union is the record itself.
            for (int32_t k = 0; k < std::max(top_->count, 1); ++k) body(top_->entries + k, std::min(top_->count, 1));
        }
        for (Step &s : d_.steps)
            if (s.op == Op::kRun) s.run = p_.runs++;
        summarise();
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
        d_.arms.push_back(static_cast<int32_t>(d_.steps.size()));
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
            d_.steps[run_].steps += steps;
        else
            pending_ += steps;
    }
    void push(Step s) {
        s.steps += pending_;
        pending_ = 0;
        d_.steps.push_back(s);
    }
    void close_run() { run_ = -1; }
    void fail() {
        close_run();
        push(Step{Op::kFail, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0});
    }
    Step &open_run() {
        if (run_ < 0) {
            push(Step{Op::kRun, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<int32_t>(d_.pieces.size()), 0, 0, 0});
            run_ = static_cast<int32_t>(d_.steps.size()) - 1;
        }
        return d_.steps[run_];
    }
    void reach(int64_t end) { p_.need = static_cast<int32_t>(std::max<int64_t>(p_.need, end)); }

    void member(const DrEntry &e) {
        if (e.off < 0) return fail();
        const int32_t code = e.type_code;
        const int64_t off = e.off;
        const uint8_t refer = e.refer_size > 0 ? static_cast<uint8_t>(field_width(e.refer_size)) : 0;
        const Span count_member = refer ? Span{e.refer_off, int64_t{e.refer_off} + refer} : Span{0, 0};
        reach(off);
        if (nested_code(code)) {
            if (e.meta_off == -1) return fail();
            const DrMeta *child = child_meta(top_, e);
            const int64_t bound = refer && e.count == 0 ? kFar : std::max(e.count, 0);
            const int64_t extent = child->datasize > 0 ? std::min(kFar, bound * child->datasize) : 0;
            const Span bytes{off, off + extent};
            const uint8_t select = code == DR_TYPE_UNION ? static_cast<uint8_t>(field_width(e.select_size)) : 0;
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
            // The element type's plan, kept when it serves every version this one does.
            if (const Plan *cp = store_.plan(row, v_, depth_ + 1)) {
                p_.lo = std::max(p_.lo, cp->lo);
                p_.hi = std::min(p_.hi, cp->hi);
                d_.steps.back().child = cp;
            }
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
        Step &r = d_.steps[run_];
        const int64_t count = std::max(e.count, 0);
        reach(at + count * std::max(child->datasize, 0));
        for (int64_t i = 0; i < count; ++i) {
            const int64_t base = at + i * child->datasize;
            if (child->count == 0) r.steps += 1;
            for (int32_t k = 0; k < child->count; ++k) {
                const DrEntry &c = child->entries[k];
                note(c.version);
                d_.steps[run_].steps += 1;
                if (c.version > v_) continue;
                if (nested_code(c.type_code)) {
                    d_.steps[run_].d = static_cast<int32_t>(base + c.off);
                    lay(c, child_meta(child, c), base + c.off);
                } else {
                    add_piece(d_.steps[run_], c.unit, base + c.off, int64_t{c.unit} * c.count);
                }
            }
        }
        if (count > 0) d_.steps[run_].steps += 1;  // the pop
    }

    void add_piece(Step &r, int32_t unit, int64_t off, int64_t n) {
        r.d = static_cast<int32_t>(off + n);
        r.c += static_cast<int32_t>(n);
        if (n == 0) return;
        const uint8_t swap = unit == 2 || unit == 4 ? static_cast<uint8_t>(unit) : 0;
        if (r.b > 0) {
            Piece &last = d_.pieces.back();
            if (last.swap == swap && last.off + last.len == off) {
                last.len += static_cast<int32_t>(n);
                return;
            }
        }
        d_.pieces.push_back(Piece{swap, static_cast<int32_t>(off), static_cast<int32_t>(n)});
        r.b += 1;
    }

    // The most one element can take (Plan::bounded and what follows it), from the steps of
    // every element body and the summaries of the element types' plans.
    void summarise() {
        bool bounded = true;
        int64_t turns = 0, host = p_.need, net = 0;
        int32_t height = 0;
        for (size_t arm = 0; arm < d_.arms.size(); ++arm) {
            int64_t t = 0, n = 0;
            for (const Step *s = d_.steps.data() + d_.arms[arm]; s->op != Op::kEnd; ++s) {
                t += s->steps;
                const int64_t count = s->refer != 0 && s->count == 0 ? -1 : std::max(s->count, 0);
                if (count < 0) bounded = false;
                switch (s->op) {
                case Op::kRun:
                    n += s->c;
                    height = std::max(height, s->off);
                    break;
                case Op::kCounted:
                    n += s->unit * count;
                    host = std::max(host, s->off + s->unit * count);
                    break;
                case Op::kString:
                    if (s->count <= 0) bounded = false;
                    n += 4 + int64_t{s->count};
                    host = std::max(host, int64_t{s->off} + s->count);
                    break;
                case Op::kNest: {
                    const Plan *c = s->child;
                    const int64_t size = s->d;
                    if (c == nullptr || !c->bounded || c->host > std::max<int64_t>(size, 0) ||
                        (size <= 0 && count > 1)) {
                        bounded = false;
                        break;
                    }
                    t += count * c->turns + 1;  // and the pop
                    n += count * ((s->c < 0 ? -int64_t{s->c} : 0) + c->net);
                    host = std::max(host, s->off + count * std::max<int64_t>(size, 0));
                    height = std::max(height, 1 + c->height);
                    break;
                }
                case Op::kFail:
                    bounded = false;
                    break;
                default:
                    break;
                }
                if (!bounded) break;
            }
            turns = std::max(turns, t);
            net = std::max(net, n);
        }
        p_.bounded = bounded && turns < kFar && net < kFar && host < kFar;
        p_.turns = turns;
        p_.host = host;
        p_.net = net;
        p_.height = height;
    }

    // A decode that gives up part way is repeated by the walk from the start, over the host bytes
    // written so far. That gives the walk's result only when no member writes host bytes that an
    // earlier member (or the same one, before its elements) read: a count member, a selector, or
    // the bytes of a nested element, whose members may read.
    // The count members and selectors must also lie inside the element, apart from its neighbours.
    bool decodable() const {
        for (size_t k = 0; k < accesses_.size(); ++k) {
            const Access &a = accesses_[k];
            bool reads = false;
            for (const Span &r : a.reads) reads = reads || r.from < r.to;
            if (!reads) continue;  // most members read nothing
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
    int depth_;
    PlanShape &p_;  // its scalars; the arrays grow in d_
    Draft &d_;
    int32_t pending_ = 0;
    int32_t run_ = -1;
    std::vector<Access> &accesses_;
};

// The windows that move run `r` as one permutation each way, when every 16 bytes of it come
// from 16 bytes of the other side. Host windows stay inside the `need` bytes the plan tests
// and network windows inside the run, so no byte is read or written outside them; a decode
// window keeps the old value of the host bytes the run does not write. (Little-endian
// order: 2- and 4-byte values reverse their bytes.)
// A run of fewer than 16 bytes takes one window reaching past its end, which the runner
// uses only where the network buffer holds 16 bytes from the run's start: those past the end
// are read (decode) or kept as they were (encode).
void windows_of_run(const Plan &p, const Step &r, WindowSet &set, RunWindows &rw) {
    const int32_t c = r.c, span = std::max(c, 16);
    if (c == 0 || c > kWindowBytes || p.need < 16) return;
    rw.wide = c < 16;
    int32_t src[kWindowBytes];  // host offset of each network byte of the run
    int32_t j = 0;
    for (const Piece *q = p.pieces.data() + r.a, *last = q + r.b; q != last; ++q) {
        const int32_t flip = q->swap == 0 ? 0 : q->swap - 1;  // byte i of a value comes from byte i ^ flip
        for (int32_t i = 0; i < q->len; ++i) src[j++] = q->off + (i ^ flip);
    }
    struct Byte {
        int32_t first, second;  // host offset, network byte
        bool operator<(const Byte &o) const { return first < o.first || (first == o.first && second < o.second); }
    };
    Byte pairs[kWindowBytes];  // by host offset (left uninitialised: only c are used)
    const std::span<Byte> by_host(pairs, static_cast<size_t>(c));
    // Members usually lie in host order without overlap; then only the bytes within each
    // swapped value are out of order, and the list comes out sorted.
    bool in_order = true;
    for (const Piece *q = p.pieces.data() + r.a + 1, *last = p.pieces.data() + r.a + r.b; q < last; ++q)
        in_order = in_order && q[-1].off + q[-1].len <= q->off;
    if (in_order) {
        int32_t k = 0, net = 0;
        for (const Piece *q = p.pieces.data() + r.a, *last = q + r.b; q != last; net += q->len, ++q) {
            const int32_t flip = q->swap == 0 ? 0 : q->swap - 1;
            for (int32_t i = 0; i < q->len; ++i) pairs[k++] = {q->off + i, net + (i ^ flip)};
        }
    } else {
        for (j = 0; j < c; ++j) pairs[j] = {src[j], j};
        std::sort(by_host.begin(), by_host.end());
    }
    const size_t first = set.windows.size();
    // Encode: network windows [at, at + 16), the last one ending at the run's end.
    bool ok = true;
    for (int32_t w = 0; ok && w < c; w += 16) {
        const int32_t at = std::min(w, span - 16), end = std::min(at + 16, c);
        const auto [lo, hi] = std::minmax_element(src + at, src + end);
        const int32_t from = std::min(*lo, p.need - 16);
        Window win{};
        win.from = from;
        win.to = at;
        for (int i = 0; i < 16; ++i)
            win.order[i] = at + i < c ? static_cast<uint8_t>(src[at + i] - from) : Window::kKeep;
        win.keeps = end - at < 16;
        ok = *hi - *lo < 16;
        set.windows.push_back(win);
    }
    if (!ok) {
        set.windows.resize(first);
        return;
    }
    rw.first[0] = static_cast<int32_t>(first);
    rw.count[0] = static_cast<int32_t>(set.windows.size() - first);
    // Decode: host windows from the lowest host byte not yet written, its network bytes
    // within 16 of each other.
    const size_t second = set.windows.size();
    for (size_t k = 0; ok && k < by_host.size();) {
        const int32_t to = std::min(by_host[k].first, p.need - 16);
        size_t e = k;
        int32_t lo = c, hi = -1;
        for (; e < by_host.size() && by_host[e].first < to + 16; ++e) {
            lo = std::min(lo, by_host[e].second);
            hi = std::max(hi, by_host[e].second);
        }
        const int32_t from = std::min(lo, span - 16);
        Window win{};
        win.from = from;
        win.to = to;
        std::fill(std::begin(win.order), std::end(win.order), Window::kKeep);
        // Bytes below by_host[k] that an earlier window wrote are taken again where they can be.
        for (auto it = std::lower_bound(by_host.begin(), by_host.end(), Byte{to, -1});
             it != by_host.begin() + static_cast<std::ptrdiff_t>(e); ++it)
            if (it->second >= from && it->second < from + 16)
                win.order[it->first - to] = static_cast<uint8_t>(it->second - from);
        win.keeps = std::find(std::begin(win.order), std::end(win.order), Window::kKeep) != std::end(win.order);
        ok = hi - lo < 16;
        set.windows.push_back(win);
        k = e;
    }
    if (!ok) {
        set.windows.resize(second);
        return;
    }
    rw.first[1] = static_cast<int32_t>(second);
    rw.count[1] = static_cast<int32_t>(set.windows.size() - second);
}

}  // namespace

// Builds the windows of every run of `p` on first use; threads that race each build, and the
// first to publish wins.
const WindowSet *Plan::build_windows() const {
    if constexpr (std::endian::native != std::endian::little) return nullptr;
    std::unique_ptr<WindowSet> fresh;
    try {
        fresh = std::make_unique<WindowSet>();
        fresh->runs.resize(static_cast<size_t>(runs));
        for (const Step &s : steps)
            if (s.op == Op::kRun) windows_of_run(*this, s, *fresh, fresh->runs[static_cast<size_t>(s.run)]);
    } catch (const std::bad_alloc &) {
        return nullptr;  // runs move piece by piece
    }
    const WindowSet *seen = nullptr;
    if (windows_.compare_exchange_strong(seen, fresh.get(), std::memory_order_acq_rel, std::memory_order_acquire))
        return fresh.release();
    return seen;
}

PlanPtr build(const Store &store, const DrMeta *meta, int32_t version, int depth, Draft *draft) {
    Draft own;
    Draft &d = draft != nullptr ? *draft : own;
    d.steps.clear();
    d.pieces.clear();
    d.arms.clear();
    PlanShape head{};
    Builder(store, meta, version, depth, head, d).run();
    // One block: the plan, then its steps, pieces and arms.
    const size_t at_steps = sizeof(Plan);
    const size_t at_pieces = at_steps + d.steps.size() * sizeof(Step);
    const size_t at_arms = at_pieces + d.pieces.size() * sizeof(Piece);
    const size_t total = at_arms + d.arms.size() * sizeof(int32_t);
    static_assert(sizeof(Plan) % alignof(Step) == 0 && sizeof(Step) % alignof(Piece) == 0 &&
                  sizeof(Piece) % alignof(int32_t) == 0);
    auto *block = static_cast<std::byte *>(::operator new(total));
    auto place = [&]<class T>(const std::vector<T> &from, size_t at) {
        T *to = reinterpret_cast<T *>(block + at);
        std::uninitialized_copy(from.begin(), from.end(), to);
        return std::span<const T>(to, from.size());
    };
    head.steps = place(d.steps, at_steps);
    head.pieces = place(d.pieces, at_pieces);
    head.arms = place(d.arms, at_arms);
    Plan *plan = new (block) Plan;
    static_cast<PlanShape &>(*plan) = head;
    return PlanPtr(plan);
}

void PlanFree::operator()(const Plan *p) const {
    if (p == nullptr) return;
    delete p->windows_.load(std::memory_order_acquire);
    p->~Plan();
    ::operator delete(const_cast<Plan *>(p));
}

size_t Plan::bytes() const {
    size_t n = sizeof(Plan) + steps.size() * sizeof(Step) + pieces.size() * sizeof(Piece) +
               arms.size() * sizeof(int32_t);
    if (const WindowSet *set = windows_.load(std::memory_order_acquire))
        n += sizeof(WindowSet) + set->windows.size() * sizeof(Window) + set->runs.size() * sizeof(RunWindows);
    return n;
}

}  // namespace dr::plan
