// plan.h: per-type plans, a precomputed program for encoding and decoding one record type at
// one version, so a call moves bytes instead of reading the stored description member by member.
//
// A plan is built from a verified image only: dr_load_lib (and dr_compile, for an image the
// loader's checks pass) builds the plans for the newest version, into memory owned by the
// library; a call at another version builds its plan
// on first use and publishes it with one atomic store, after which every plan is read-only.
// A plan runs the walk's semantics exactly on the records it accepts and gives up (leaving
// the call to the walk) at anything unusual; see dr/codec/plan_run.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "dr/dr.h"
#include "dr/plan/window.h"

namespace dr::plan {

enum class Op : uint8_t {
    kRun,      // fixed members: pieces [a, a+b), c network bytes, host cursor after at base + d;
               // its windows are run_windows()->runs[run]
    kCounted,  // a scalar array whose count a count member gives
    kString,   // a string
    kNest,     // struct or union elements: a sub-plan per element, with a length field
    kSteps,    // members left out by their version: walk turns only
    kFail,     // a member the walk refuses: the call goes to the walk
    kEnd,      // the element ends
};

// One operation. `steps` is the walk's turns for it (members left out before it included),
// not counting the turns of a nested element's own members.
struct Step {
    Op op;
    uint8_t unit;         // kCounted: 1, 2, 4 or 8
    uint8_t refer;        // width of the count member (1, 2 or 4); 0 = declared count
    uint8_t select;       // kNest of a union: width of the selector (1, 2 or 4); 0 = a struct
    int32_t steps;
    int32_t off;          // host offset in the element; kRun: frames the run descends
    int32_t count;        // declared count
    int32_t refer_off;
    int32_t select_off;
    int32_t a, b, c, d;   // per op, see Op
    int32_t run = -1;     // kRun: its number among the plan's runs
    const struct Plan *child = nullptr;  // kNest: the element type's plan, when it serves every
                                         // version this plan serves; else found by row a
};

// A stretch of host bytes moved as one: copied, or swapped in 2- or 4-byte values.
struct Piece {
    uint8_t swap;  // 0 copy, 2 or 4
    int32_t off;   // host offset in the element
    int32_t len;   // bytes
};

// A plan and its arrays lie in one block of memory (see build()).
// What a plan is, apart from its windows: built aside, then copied into the plan's block.
struct PlanShape {
    const DrMeta *meta;
    int32_t lo, hi;        // versions this plan serves
    int32_t need;          // host bytes from an element's start its fixed members reach
    bool decode;           // a decode may run it: no member is written after it was read
    // What one element can take at most, for the calls that test it once (`bounded` false:
    // no bound is known): walk turns, host bytes from its start, network bytes (length
    // fields included), and frames the walk would push below it.
    bool bounded;
    int64_t turns, host, net;
    int32_t height;
    int32_t runs;          // kRun steps
    std::span<const Step> steps;
    std::span<const Piece> pieces;
    std::span<const int32_t> arms;  // start of each element body: one for a struct, one per union member
};

struct Plan : PlanShape {
    // The element body of union member (or struct) `arm` and its kEnd.
    const Step *body(int32_t arm) const { return steps.data() + arms[arm]; }
    const Step *end(int32_t arm) const {
        return steps.data() + (arm + 1 < static_cast<int32_t>(arms.size()) ? arms[arm + 1] : steps.size()) - 1;
    }
    size_t bytes() const;

    // The windows that move the runs as byte permutations, built on first use (they are a
    // quarter of the work of building a plan, and loading builds many plans never run); null
    // when they cannot be built.
    const WindowSet *run_windows() const {
        const WindowSet *set = windows_.load(std::memory_order_acquire);
        return set != nullptr ? set : build_windows();
    }
    const WindowSet *build_windows() const;
    mutable std::atomic<const WindowSet *> windows_{nullptr};
};

struct PlanFree {
    void operator()(const Plan *p) const;
};
using PlanPtr = std::unique_ptr<const Plan, PlanFree>;

// Host bytes [from, to).
struct Span {
    int64_t from, to;
    bool meets(const Span &o) const { return from < o.to && o.from < to && from < to && o.from < o.to; }
};

// What a member writes into the host record and what it reads there, for the decode test.
struct Access {
    Span writes;
    Span reads[3];  // count member, selector, and a nested element's bytes (read by its members)
};

// The growing arrays of a plan being built, kept between builds so that loading a typelib
// does not allocate them again for every type.
struct Draft {
    std::vector<Step> steps;
    std::vector<Piece> pieces;
    std::vector<int32_t> arms;
    std::vector<Access> accesses;  // of the element body being built
};

// The plans of one loaded image, one row per record type.
class Store {
public:
    explicit Store(const DrLib *lib);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // The row of the type at data-area offset `self_off`, or -1.
    int32_t row(int32_t self_off) const {
        const uint32_t mask = static_cast<uint32_t>(hash_.size()) - 1;
        for (uint32_t h = slot_of(self_off) & mask;; h = (h + 1) & mask) {
            const int32_t r = hash_[h];
            if (r < 0 || rows_[r].meta->self_off == self_off) return r;
        }
    }
    // The plan of type `row` at `version`, built now when no plan serves it; null when the
    // plans kept for the type are full.
    // `depth` is the plans being built around this one: a type that contains itself is not
    // followed past DR_MAX_DEPTH.
    const Plan *plan(int32_t row, int32_t version, int depth = 0) const {
        const Row &r = rows_[row];
        for (const auto &slot : r.plans) {
            const Plan *p = slot.load(std::memory_order_acquire);
            if (p == nullptr) return depth < DR_MAX_DEPTH ? build_into(r, version, depth) : nullptr;
            if (p->lo <= version && version <= p->hi) return p;
        }
        return nullptr;
    }
    size_t bytes() const;

private:
    static constexpr int kPlansPerType = 6;
    struct Row {
        const DrMeta *meta;
        mutable std::atomic<const Plan *> plans[kPlansPerType];
    };
    static uint32_t slot_of(int32_t off) { return static_cast<uint32_t>(off) * 2654435761u >> 7; }
    const Plan *build_into(const Row &r, int32_t version, int depth) const;

    std::unique_ptr<Row[]> rows_;
    int32_t count_ = 0;
    std::vector<int32_t> hash_;
    // While the constructor builds the newest plans: one draft per depth of building.
    mutable std::vector<Draft> drafts_;
};

// Builds the plan of `meta` at `version` (already effective), with `depth` plans being built
// around it, in `draft` (emptied first) or, when null, in arrays of its own.
PlanPtr build(const Store &store, const DrMeta *meta, int32_t version, int depth = 0, Draft *draft = nullptr);

// The plans of a verified image: made when it is loaded or compiled, dropped when it is freed.
// An image the loader's checks did not pass (dr_init_lib's, a damaged one) has none. At most
// kMaxLibs images hold plans at once; others are served by the walk.
inline constexpr int kMaxLibs = 256;
void attach(const DrLib *lib);
void detach(const DrLib *lib);
const Store *store_of(const DrLib *lib);

}  // namespace dr::plan
