// random_desc.cc: generates random descriptions and host records.
#include "tests/support/random_desc.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace drtest {
namespace {

const char *const kScalars[] = {"char", "uchar", "short", "ushort", "int", "uint", "long", "ulong",
                                "longlong", "ulonglong", "date", "time", "datetime", "money", "float", "double"};
const char *const kCounters[] = {"uchar", "ushort", "int"};

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    Lib run() {
        Lib lib;
        lib.name = "random";
        metas_.emplace_back();  // the top record takes row 0
        int64_t top_max = 0;
        metas_[0] = make_struct("Top", 0, &top_max);
        lib.metas = std::move(metas_);
        return lib;
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return pick(1, 100) <= percent; }
    std::string fresh(const char *stem) { return stem + std::to_string(serial_++); }

    // Adds the member that will hold a count or selector for a member of `version`, and
    // returns its path: a field of the record, or one time in three a field of a small
    // struct member ("h4.cnt5"), walked before the member it governs and never newer.
    std::string add_counter(std::vector<Entry> &out, const char *stem, int32_t version, int64_t *max) {
        Entry c = field(fresh(stem), kCounters[pick(0, 2)]).version(std::min(version, pick(0, 3)));
        *max += 4;
        if (chance(67)) {
            out.push_back(c);
            return c.name;
        }
        std::vector<Entry> fields;
        if (chance(50)) fields.push_back(field(fresh("v"), kScalars[pick(0, 15)]).version(pick(0, 3)));
        fields.push_back(c);
        if (chance(50)) fields.push_back(field(fresh("v"), kScalars[pick(0, 15)]).version(pick(0, 3)));
        *max += 16;
        const std::string type = fresh("H");
        metas_.push_back(record(type, 0, std::move(fields)));
        metas_.back().id = 1000 + serial_;
        Entry head = nested(fresh("h"), type).version(std::min(version, pick(0, 3)));
        out.push_back(head);
        return head.name + "." + c.name;
    }

    // Adds a nested member of record type `child` (network size at most child_max per
    // element) with a random count, count member and length field.
    void add_nested(std::vector<Entry> &out, const std::string &child, int64_t child_max, bool is_union,
                    int32_t version, int64_t *max) {
        const int32_t count = pick(1, 3);
        Entry e = nested(fresh("n"), child, count).version(version);
        if (is_union) e.select(add_counter(out, "sel", version, max));
        if (count > 1 && chance(50)) e.refer(add_counter(out, "cnt", version, max));
        int32_t width = 0;
        switch (pick(0, 3)) {
        case 0: width = 0; break;
        case 1: width = child_max <= 255 ? 1 : 2; break;
        case 2: width = child_max <= 65535 ? 2 : 4; break;
        default: width = 4; break;
        }
        if (width != 0) e.netlen(-width, width);
        out.push_back(e);
        *max += count * (child_max + width);
    }

    Meta make_struct(const std::string &name, int level, int64_t *max) {
        std::vector<Entry> entries;
        const int n = pick(level == 0 ? 3 : 1, level == 0 ? 6 : 4);
        for (int i = 0; i < n; ++i) {
            const int32_t version = chance(60) ? 0 : pick(1, 3);
            const int kind = level >= 2 ? pick(0, 1) : pick(0, 4);
            if (kind == 0) {
                const int32_t count = chance(70) ? 1 : pick(2, 5);
                Entry e = field(fresh("v"), kScalars[pick(0, 15)], count).version(version);
                if (count > 1 && chance(50)) e.refer(add_counter(entries, "cnt", version, max));
                entries.push_back(e);
                *max += 8 * count;
            } else if (kind == 1) {
                const int32_t count = pick(2, 12);
                entries.push_back(field(fresh("s"), "string", count).version(version));
                *max += 4 + count;
            } else if (kind <= 3) {
                int64_t child_max = 0;
                const std::string child = add_meta(level + 1, false, &child_max);
                add_nested(entries, child, child_max, false, version, max);
            } else {
                int64_t child_max = 0;
                const std::string child = add_meta(level + 1, true, &child_max);
                add_nested(entries, child, child_max, true, version, max);
            }
        }
        return record(name, static_cast<int32_t>(metas_.size()), std::move(entries));
    }

    Meta make_union(const std::string &name, int level, int64_t *max) {
        const int n = chance(15) ? pick(16, 20) : pick(1, 5);
        std::vector<Entry> entries;
        int32_t id = chance(40) ? -1 : pick(0, 5);
        for (int i = 0; i < n; ++i) {
            const int32_t version = chance(70) ? 0 : pick(1, 3);
            Entry e = level < 2 && chance(25) ? Entry{} : field(fresh("m"), kScalars[pick(0, 15)], pick(1, 3));
            if (e.name.empty()) {
                int64_t child_max = 0;
                const std::string child = add_meta(level + 1, false, &child_max);
                e = nested(fresh("m"), child);
                *max = std::max(*max, child_max);
            } else if (chance(25)) {
                e = field(fresh("m"), "string", pick(2, 10));
            }
            *max = std::max<int64_t>(*max, 8 * 4 + 16);
            entries.push_back(e.id(id).version(version));
            id += pick(1, 3);
        }
        Meta m = union_of(name, static_cast<int32_t>(metas_.size()), std::move(entries));
        return m;
    }

    std::string add_meta(int level, bool is_union, int64_t *max) {
        const std::string name = fresh(is_union ? "U" : "S");
        Meta m = is_union ? make_union(name, level, max) : make_struct(name, level, max);
        m.id = 1000 + serial_;
        metas_.push_back(std::move(m));
        return name;
    }

    std::mt19937 rng_;
    std::vector<Meta> metas_;
    int serial_ = 0;
};

class HostFiller {
public:
    HostFiller(std::vector<char> &host, uint32_t seed) : host_(host), rng_(seed) {}

    void fill(const DrMeta *meta, int64_t base) {
        if (meta->is_struct == 0) {  // a union reached without a selector: its first member
            if (meta->count > 0) fill_member(meta, meta->entries[0], base);
            return;
        }
        for (int32_t k = 0; k < meta->count; ++k) fill_member(meta, meta->entries[k], base);
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    void put_width(int64_t at, int32_t width, int32_t value) {
        if (width == 2) {
            const auto v = static_cast<uint16_t>(value);
            std::memcpy(&host_[at], &v, 2);
        } else if (width == 4) {
            std::memcpy(&host_[at], &value, 4);
        } else {
            host_[at] = static_cast<char>(value);
        }
    }

    void fill_member(const DrMeta *meta, const DrEntry &e, int64_t base) {
        const int64_t at = base + e.off;
        int32_t count = e.count;
        if (e.refer_size > 0) {
            count = pick(0, e.count);
            put_width(base + e.refer_off, e.refer_size, count);
        }
        if (e.type_code == DR_TYPE_STRING) {
            const int len = pick(0, count - 1);
            for (int i = 0; i < len; ++i) host_[at + i] = static_cast<char>(pick(1, 255));
            host_[at + len] = 0;
        } else if (e.type_code != DR_TYPE_UNION && e.type_code != DR_TYPE_STRUCT) {
            for (int64_t i = 0; i < int64_t{e.unit} * count; ++i) host_[at + i] = static_cast<char>(pick(0, 255));
        } else {
            const DrMeta *child = reinterpret_cast<const DrMeta *>(reinterpret_cast<const char *>(meta) -
                                                                   meta->self_off + e.meta_off);
            if (e.type_code == DR_TYPE_UNION) {
                int32_t choice = pick(0, child->count);  // count = an unmatched selector
                const int32_t s = choice < child->count ? child->entries[choice].id : 250;
                put_width(base + e.select_off, e.select_size, s);
                if (choice == child->count && child->count > 0 && child->entries[0].id == -1) choice = 0;
                if (choice < child->count)
                    for (int32_t i = 0; i < count; ++i)
                        fill_member(child, child->entries[choice], at + int64_t{i} * child->datasize);
                return;
            }
            for (int32_t i = 0; i < count; ++i) fill(child, at + int64_t{i} * child->datasize);
        }
    }

    std::vector<char> &host_;
    std::mt19937 rng_;
};

}  // namespace

Lib random_lib(uint32_t seed) { return Generator(seed).run(); }

std::vector<char> random_host(const DrMeta *meta, uint32_t seed) {
    std::vector<char> host(static_cast<size_t>(meta->datasize));
    std::mt19937 noise(seed ^ 0x9E3779B9u);
    for (char &c : host) c = static_cast<char>(noise());
    HostFiller(host, seed).fill(meta, 0);
    return host;
}

Lib chain(int levels, int members, int32_t count, int32_t datasize) {
    Lib lib;
    for (int i = 0; i <= levels; ++i) {
        std::vector<Entry> entries;
        for (int k = 0; k < members && i < levels; ++k)
            entries.push_back(nested("m" + std::to_string(k), "L" + std::to_string(i + 1), count).at(0));
        lib.metas.push_back(record("L" + std::to_string(i), i + 1, entries));
        lib.metas.back().datasize = datasize;
    }
    return lib;
}

}  // namespace drtest
