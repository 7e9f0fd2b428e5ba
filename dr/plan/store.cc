// store.cc: the plans of each loaded image, and the table that finds them from an image.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "dr/plan/plan.h"
#include "dr/typelib/image.h"

namespace dr::plan {

Store::Store(const DrLib *lib) {
    // Every type the directory names and every type a member refers to, each once, by offset.
    std::vector<int32_t> offs, fresh;
    offs.reserve(static_cast<size_t>(std::max(header(lib)->meta_count, 0)));
    for (int32_t i = 0; i < header(lib)->meta_count; ++i) fresh.push_back(directory(lib)[i].offset);
    for (;;) {
        std::sort(fresh.begin(), fresh.end());
        fresh.erase(std::unique(fresh.begin(), fresh.end()), fresh.end());
        const size_t old = offs.size();
        offs.insert(offs.end(), fresh.begin(), fresh.end());
        std::inplace_merge(offs.begin(), offs.begin() + static_cast<std::ptrdiff_t>(old), offs.end());
        std::vector<int32_t> found;  // types the fresh ones refer to that are not known yet
        for (const int32_t off : fresh) {
            const DrMeta *m = meta_at(lib, off);
            for (int32_t k = 0; k < m->count; ++k)
                if (const int32_t child = m->entries[k].meta_off;
                    child != -1 && !std::binary_search(offs.begin(), offs.end(), child))
                    found.push_back(child);
        }
        if (found.empty()) break;
        fresh = std::move(found);
    }
    count_ = static_cast<int32_t>(offs.size());
    rows_ = std::make_unique<Row[]>(offs.size());
    size_t buckets = 2;
    while (buckets < offs.size() * 2) buckets *= 2;
    hash_.assign(buckets, -1);
    for (int32_t r = 0; r < count_; ++r) {
        rows_[r].meta = meta_at(lib, offs[r]);
        for (auto &slot : rows_[r].plans) slot.store(nullptr, std::memory_order_relaxed);
        uint32_t h = slot_of(offs[r]) & static_cast<uint32_t>(buckets - 1);
        while (hash_[h] >= 0) h = (h + 1) & static_cast<uint32_t>(buckets - 1);
        hash_[h] = r;
    }
    // The newest version's plans now; any other version's when a call first asks for it.
    drafts_.resize(DR_MAX_DEPTH);
    for (int32_t r = 0; r < count_; ++r) (void)plan(r, std::numeric_limits<int32_t>::max());
    drafts_ = {};
}

Store::~Store() {
    for (int32_t r = 0; r < count_; ++r)
        for (auto &slot : rows_[r].plans) PlanFree{}(slot.load(std::memory_order_acquire));
}

// Builds the plan and publishes it in the first free slot. Threads that race for the same
// slot each build; the first to publish wins and the others take its plan when it serves them.
const Plan *Store::build_into(const Row &r, int32_t version, int depth) const {
    PlanPtr fresh;
    try {
        fresh = build(*this, r.meta, version, depth,
                      static_cast<size_t>(depth) < drafts_.size() ? &drafts_[static_cast<size_t>(depth)] : nullptr);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    for (auto &slot : r.plans) {
        const Plan *seen = nullptr;
        if (slot.compare_exchange_strong(seen, fresh.get(), std::memory_order_acq_rel, std::memory_order_acquire))
            return fresh.release();
        if (seen->lo <= version && version <= seen->hi) return seen;
    }
    return nullptr;
}

size_t Store::bytes() const {
    size_t n = sizeof(Store) + sizeof(Row) * static_cast<size_t>(count_) + hash_.size() * sizeof(int32_t);
    for (int32_t r = 0; r < count_; ++r)
        for (auto &slot : rows_[r].plans)
            if (const Plan *p = slot.load(std::memory_order_acquire)) n += p->bytes();
    return n;
}

namespace {

// The images that hold plans, by open addressing. A freed image leaves a tombstone, so a search
// ends only at a slot never used. Readers take no lock; attach and detach take a spin lock.
struct Slot {
    std::atomic<const DrLib *> lib{nullptr};
    std::atomic<Store *> store{nullptr};
};
Slot g_slots[kMaxLibs];
std::atomic_flag g_writing = ATOMIC_FLAG_INIT;
const DrLib *const kTombstone = reinterpret_cast<const DrLib *>(&g_writing);

uint32_t slot_of(const DrLib *lib) {
    const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(lib));
    return static_cast<uint32_t>((bits >> 4) * 0x9E3779B97F4A7C15u >> 40) % kMaxLibs;
}

struct Writing {
    Writing() {
        while (g_writing.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~Writing() { g_writing.clear(std::memory_order_release); }
};

}  // namespace

void attach(const DrLib *lib) {
    Store *store = nullptr;
    try {
        store = new Store(lib);
    } catch (const std::bad_alloc &) {
        return;  // the walk serves the image
    }
    Writing lock;
    for (uint32_t i = 0, h = slot_of(lib); i < kMaxLibs; ++i, h = (h + 1) % kMaxLibs) {
        const DrLib *held = g_slots[h].lib.load(std::memory_order_relaxed);
        if (held == nullptr || held == kTombstone) {
            g_slots[h].store.store(store, std::memory_order_relaxed);
            g_slots[h].lib.store(lib, std::memory_order_release);
            return;
        }
    }
    delete store;
}

void detach(const DrLib *lib) {
    if (lib == nullptr) return;
    Store *store = nullptr;
    {
        Writing lock;
        for (uint32_t i = 0, h = slot_of(lib); i < kMaxLibs; ++i, h = (h + 1) % kMaxLibs) {
            const DrLib *held = g_slots[h].lib.load(std::memory_order_relaxed);
            if (held == nullptr) break;
            if (held == lib) {
                g_slots[h].lib.store(kTombstone, std::memory_order_release);
                store = g_slots[h].store.exchange(nullptr, std::memory_order_acq_rel);
                break;
            }
        }
    }
    delete store;
}

const Store *store_of(const DrLib *lib) {
    for (uint32_t i = 0, h = slot_of(lib); i < kMaxLibs; ++i, h = (h + 1) % kMaxLibs) {
        const DrLib *held = g_slots[h].lib.load(std::memory_order_acquire);
        if (held == lib) return g_slots[h].store.load(std::memory_order_acquire);
        if (held == nullptr) return nullptr;
    }
    return nullptr;
}

}  // namespace dr::plan
