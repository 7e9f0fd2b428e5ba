// compat.cc: compares two typelibs version by version, as the member walk would see them.
//
// Types are compared in pairs (OLD's meta, NEW's meta): first the pairs of the same name,
// then every pair that a pair's members lead to. Each pair is reached at a set of versions:
// a type's own versions when it is the record encoded, and the versions at which a member of
// a reached pair holds it. Within those versions the members present change only where a
// member's version begins, so each stretch between such versions is compared once.
#include "dr/dr_compat.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "dr/typelib/image.h"

namespace dr {
namespace {

struct Span {
    int32_t lo, hi;  // versions lo..hi, both included
};
using Spans = std::vector<Span>;  // ascending, apart from each other

Spans unite(Spans a, const Spans &b) {
    a.insert(a.end(), b.begin(), b.end());
    std::sort(a.begin(), a.end(), [](const Span &x, const Span &y) { return x.lo < y.lo; });
    Spans out;
    for (const Span &s : a) {
        if (!out.empty() && int64_t{s.lo} <= int64_t{out.back().hi} + 1)
            out.back().hi = std::max(out.back().hi, s.hi);
        else
            out.push_back(s);
    }
    return out;
}

enum class Kind { kScalar, kString, kStruct, kUnion, kLost };

// How the walk treats a member: by its type code, a record only with a meta to descend into.
Kind kind_of(const DrEntry &e) {
    if (e.type_code == DR_TYPE_STRING) return Kind::kString;
    if (e.type_code == DR_TYPE_STRUCT || e.type_code == DR_TYPE_UNION) {
        if (e.meta_off == -1) return Kind::kLost;
        return e.type_code == DR_TYPE_STRUCT ? Kind::kStruct : Kind::kUnion;
    }
    return Kind::kScalar;
}

bool is_record(Kind k) { return k == Kind::kStruct || k == Kind::kUnion; }

// Widths as the walk reads them: a count or selector of 2 or 4 bytes, else 1; a length
// field of 2 or 4 bytes, none, else 1.
int32_t length_width(int32_t w) { return w == 0 ? 0 : field_width(w); }

std::string name_of(const char (&field)[32]) { return std::string(field_text(field)); }

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
    char buf[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

class Checker {
public:
    Checker(const DrLib *old_lib, const DrLib *new_lib, DrCompatSink sink, void *ctx)
        : old_(old_lib), new_(new_lib), sink_(sink), ctx_(ctx) {}

    int run() {
        newest_ = newest(old_);
        const DrLibHeader *h = header(old_);
        for (int32_t row = 0; row < h->meta_count; ++row) pair_top(meta_of_row(old_, row));
        while (!work_.empty()) {
            const size_t p = work_.back();
            work_.pop_back();
            spread(p);
        }
        for (size_t p = 0; p < pairs_.size(); ++p) compare(pairs_[p]);
        return breaks_;
    }

private:
    // A finding waiting for its versions to be merged across the stretches compared.
    struct Pending {
        int is_break;
        DrCompatKind kind;
        std::string member, new_member, text;
        Spans spans;
    };

    struct Pair {
        const DrMeta *o, *n;
        Spans reach;
        std::vector<Pending> found;
        bool top = false;  // matched as a type of OLD by name or id, not only through a member
    };

    // The highest version OLD names anywhere, at least 1.
    static int32_t newest(const DrLib *lib) {
        const DrLibHeader *h = header(lib);
        int32_t top = std::max(h->version, 1);
        for (int32_t row = 0; row < h->meta_count; ++row) {
            const DrMeta *m = meta_of_row(lib, row);
            top = std::max(top, m->version);
            for (int32_t k = 0; k < m->count; ++k) top = std::max(top, m->entries[k].version);
        }
        return top;
    }

    static const DrMeta *by_name(const DrLib *lib, const std::string &name) {
        const DrMeta *m = nullptr;
        dr_meta_by_name(lib, name.c_str(), &m);
        return m;
    }

    void pair_top(const DrMeta *o) {
        const std::string name = name_of(o->name);
        const int32_t lo = std::max(o->version, 1);
        const Spans versions = lo <= newest_ ? Spans{{lo, newest_}} : Spans{};
        const DrMeta *n = by_name(new_, name);
        bool renamed = false;
        if (!n) {
            // Kept under another name when NEW gives its id to a type that OLD does not have.
            dr_meta_by_id(new_, o->id, &n);
            if (n && by_name(old_, name_of(n->name))) n = nullptr;
            renamed = n != nullptr;
        }
        if (!n) {
            std::vector<Pending> gone{{1, DR_COMPAT_TYPE_REMOVED, "", "", "removed: NEW has no type of this name or id", versions}};
            emit(name, "", gone);
            return;
        }
        Pair &p = pairs_[reach(o, n, versions)];
        p.top = true;
        if (renamed)
            p.found.push_back({0, DR_COMPAT_TYPE_RENAMED, "", "", "renamed to " + name_of(n->name) + ", id kept", {}});
        if (o->id != n->id)
            p.found.push_back({0, DR_COMPAT_TYPE_ID, "", "",
                               format("id was %d, now %d: callers that name the type by id must use the new one",
                                      o->id, n->id), {}});
        if (n->version > o->version) {
            const Spans refused = versions.empty() ? Spans{}
                                  : Spans{{versions[0].lo, std::min(newest_, n->version - 1)}};
            if (!refused.empty() && refused[0].lo <= refused[0].hi)
                p.found.push_back({1, DR_COMPAT_TYPE_VERSION, "", "",
                                   format("version was %d, now %d: older requests are refused", o->version, n->version),
                                   refused});
        } else if (n->version < o->version) {
            p.found.push_back({0, DR_COMPAT_TYPE_VERSION, "", "",
                               format("version was %d, now %d: NEW also takes requests that OLD refused", o->version,
                                      n->version), {}});
        }
    }

    // Adds versions at which pair (o, n) is reached; returns the pair's index.
    size_t reach(const DrMeta *o, const DrMeta *n, const Spans &versions) {
        const auto key = std::make_pair(o->self_off, n->self_off);
        auto it = index_.find(key);
        if (it == index_.end()) {
            it = index_.emplace(key, pairs_.size()).first;
            pairs_.push_back({o, n, {}, {}, false});
        }
        Pair &p = pairs_[it->second];
        Spans grown = unite(p.reach, versions);
        if (grown.size() != p.reach.size() || !std::equal(grown.begin(), grown.end(), p.reach.begin(), [](const Span &a, const Span &b) {
                return a.lo == b.lo && a.hi == b.hi;
            })) {
            p.reach = std::move(grown);
            work_.push_back(it->second);
        }
        return it->second;
    }

    // A type's members by what pairs them: the name in a struct, the union id in a union. A
    // key that repeats (an image may hold one) counts its repeats, so that the second "x" (or
    // the second member of id 3) of OLD meets the second of NEW, and each member of an image
    // meets itself.
    struct Keys {
        std::vector<std::string> key;       // per entry
        std::map<std::string, int32_t> at;  // key -> entry
        explicit Keys(const DrMeta *m) {
            std::map<std::string, int> seen;
            for (int32_t k = 0; k < m->count; ++k) {
                const DrEntry &e = m->entries[k];
                const std::string base = m->is_struct ? std::string(field_text(e.name)) : std::to_string(e.id);
                const int repeat = seen[base]++;
                key.push_back(base + (repeat ? '\0' + std::to_string(repeat) : std::string()));
                at.emplace(key.back(), k);
            }
        }
        int32_t find(const std::string &k) const {
            const auto it = at.find(k);
            return it == at.end() ? -1 : it->second;
        }
    };

    // Member pairs of a type pair of the same class, by their keys.
    static std::vector<std::pair<int32_t, int32_t>> matched(const DrMeta *o, const DrMeta *n) {
        std::vector<std::pair<int32_t, int32_t>> out;
        const Keys ok(o), nk(n);
        for (int32_t k = 0; k < o->count; ++k)
            if (const int32_t j = nk.find(ok.key[k]); j >= 0) out.emplace_back(k, j);
        return out;
    }

    static int32_t find_id(const DrMeta *m, int32_t id) {
        for (int32_t j = 0; j < m->count; ++j)
            if (m->entries[j].id == id) return j;
        return -1;
    }

    // Passes a pair's versions on to the record types its members hold: the same comparison
    // as the report's, collecting the pairs of nested types instead of findings.
    void spread(size_t p) {
        Pair scratch{pairs_[p].o, pairs_[p].n, pairs_[p].reach, {}, false};
        collecting_ = true;
        stretches(scratch);
        collecting_ = false;
    }

    void compare(Pair &p) {
        const DrMeta *o = p.o, *n = p.n;
        if ((o->is_struct != 0) != (n->is_struct != 0)) {
            p.found.push_back({1, DR_COMPAT_TYPE_CLASS, "", "",
                               std::string("was a ") + (o->is_struct ? "struct" : "union") + ", now a " +
                                   (n->is_struct ? "struct" : "union"),
                               p.reach});
        } else {
            host_layout(p);
            stretches(p);
        }
        // A type that NEW holds under another name is named with both: "Pos(Spot)".
        const std::string old_name = name_of(o->name), new_name = name_of(n->name);
        emit(old_name == new_name || p.top ? old_name : old_name + "(" + new_name + ")", new_name, p.found);
    }

    // Compares a pair over the versions it is reached at, split wherever a member of either
    // side begins, so that within each stretch the same members are sent.
    void stretches(Pair &p) {
        const DrMeta *o = p.o, *n = p.n;
        if ((o->is_struct != 0) != (n->is_struct != 0)) return;
        std::vector<int32_t> cuts;
        for (int32_t k = 0; k < o->count; ++k) cuts.push_back(o->entries[k].version);
        for (int32_t k = 0; k < n->count; ++k) cuts.push_back(n->entries[k].version);
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        const Spans reach_now = p.reach;
        for (const Span &s : reach_now) {
            int32_t lo = s.lo;
            for (auto c = std::upper_bound(cuts.begin(), cuts.end(), s.lo);; ++c) {
                const int32_t hi = c != cuts.end() && *c <= s.hi ? *c - 1 : s.hi;
                if (o->is_struct)
                    compare_struct(p, {lo, hi});
                else
                    compare_union(p, {lo, hi});
                if (hi == s.hi) break;
                lo = hi + 1;
            }
        }
    }

    // Offsets and sizes only the host sees: worth a note, never a break.
    void host_layout(Pair &p) {
        const DrMeta *o = p.o, *n = p.n;
        std::string moved;
        int shown = 0, more = 0;
        for (const auto &[k, j] : matched(o, n)) {
            if (o->entries[k].off == n->entries[j].off) continue;
            if (shown < 4)
                moved += (shown++ ? ", " : "") + name_of(o->entries[k].name);
            else
                ++more;
        }
        if (more) moved += format(" and %d more", more);
        if (o->datasize == n->datasize && moved.empty()) return;
        std::string text = "host layout changed (";
        if (o->datasize != n->datasize) text += format("size was %d bytes, now %d", o->datasize, n->datasize);
        if (!moved.empty()) text += std::string(o->datasize != n->datasize ? "; " : "") + "offset of " + moved;
        text += "): fine on the wire, needs recompiled clients";
        p.found.push_back({0, DR_COMPAT_HOST_LAYOUT, "", "", text, {}});
    }

    static std::vector<int32_t> present(const DrMeta *m, int32_t version) {
        std::vector<int32_t> out;
        for (int32_t k = 0; k < m->count; ++k)
            if (m->entries[k].version <= version) out.push_back(k);
        return out;
    }

    void add(Pair &p, int is_break, DrCompatKind kind, const DrEntry &e, const DrEntry *f, const std::string &text,
             Span s) {
        if (collecting_) return;
        const std::string member = name_of(e.name), new_member = f ? name_of(f->name) : "";
        for (Pending &q : p.found)
            if (q.kind == kind && q.member == member && q.text == text) {
                q.spans = unite(q.spans, {s});
                return;
            }
        p.found.push_back({is_break, kind, member, new_member, text, is_break ? Spans{s} : Spans{}});
    }

    void compare_struct(Pair &p, Span s) {
        const DrMeta *o = p.o, *n = p.n;
        const Keys on(o), nn(n);
        const std::vector<int32_t> os = present(o, s.lo), ns = present(n, s.lo);
        std::vector<int32_t> gone, fresh, common_o, where;  // where: position in ns of each common member
        std::map<std::string, size_t> at_new;
        for (size_t i = 0; i < ns.size(); ++i) at_new.emplace(nn.key[ns[i]], i);
        for (int32_t k : os) {
            const auto it = at_new.find(on.key[k]);
            if (it == at_new.end()) {
                gone.push_back(k);
            } else {
                common_o.push_back(k);
                where.push_back(static_cast<int32_t>(it->second));
            }
        }
        for (int32_t j : ns) {
            const int32_t k = on.find(nn.key[j]);
            if (k < 0 || o->entries[k].version > s.lo) fresh.push_back(j);
        }
        // One member gone and one new in the same place, of the same form: a rename.
        if (gone.size() == 1 && fresh.size() == 1) {
            const auto at_o = std::find(os.begin(), os.end(), gone[0]) - os.begin();
            const auto at_n = std::find(ns.begin(), ns.end(), fresh[0]) - ns.begin();
            const DrEntry &e = o->entries[gone[0]], &f = n->entries[fresh[0]];
            if (at_o == at_n && nn.find(on.key[gone[0]]) < 0 && on.find(nn.key[fresh[0]]) < 0) {
                Pair scratch{o, n, {}, {}, false};
                compare_member(scratch, e, f, s);
                if (scratch.found.empty())
                    add(p, 0, DR_COMPAT_MEMBER_RENAMED, e, &f,
                        "renamed to " + name_of(f.name) + ": JSON and code name it anew", s);
                else
                    for (const Pending &q : scratch.found) add(p, q.is_break, q.kind, e, &f, q.text, s);
                gone.clear();
                fresh.clear();
            }
        }
        for (int32_t k : gone) {
            const DrEntry &e = o->entries[k];
            const int32_t j = nn.find(on.key[k]);
            add(p, 1, DR_COMPAT_MEMBER_REMOVED, e, j >= 0 ? &n->entries[j] : nullptr,
                j >= 0 ? format("OLD sends it from version %d, NEW only from version %d", e.version,
                                n->entries[j].version)
                       : std::string("removed"),
                s);
        }
        for (int32_t j : fresh) {
            const DrEntry &f = n->entries[j];
            const int32_t k = on.find(nn.key[j]);
            add(p, 1, DR_COMPAT_MEMBER_ADDED, k >= 0 ? o->entries[k] : f, &f,
                k >= 0 ? format("NEW sends it from version %d, OLD only from version %d", f.version, o->entries[k].version)
                       : format("added at version %d, not above OLD's newest version %d", f.version, newest_),
                s);
        }
        // The common members in the longest run that keeps OLD's order stay; the rest moved.
        const std::vector<bool> kept = longest_rising(where);
        for (size_t i = 0; i < common_o.size(); ++i) {
            const DrEntry &e = o->entries[common_o[i]];
            const DrEntry &f = n->entries[ns[where[i]]];
            if (!kept[i]) {
                const auto at_o = std::find(os.begin(), os.end(), common_o[i]) - os.begin();
                add(p, 1, DR_COMPAT_MEMBER_MOVED, e, &f,
                    format("moved from place %d to place %d among the members sent", static_cast<int>(at_o) + 1,
                           where[i] + 1),
                    s);
            } else {
                compare_member(p, e, f, s);
            }
        }
    }

    // Marks the members of a longest strictly rising subsequence of v.
    static std::vector<bool> longest_rising(const std::vector<int32_t> &v) {
        std::vector<size_t> tails, before(v.size(), SIZE_MAX);
        for (size_t i = 0; i < v.size(); ++i) {
            const auto pos = std::lower_bound(tails.begin(), tails.end(), v[i],
                                              [&](size_t t, int32_t x) { return v[t] < x; }) - tails.begin();
            if (pos > 0) before[i] = tails[static_cast<size_t>(pos) - 1];
            if (static_cast<size_t>(pos) == tails.size())
                tails.push_back(i);
            else
                tails[static_cast<size_t>(pos)] = i;
        }
        std::vector<bool> kept(v.size(), false);
        for (size_t i = tails.empty() ? SIZE_MAX : tails.back(); i != SIZE_MAX; i = before[i]) kept[i] = true;
        return kept;
    }

    // The member a selector value chooses at a version, as the walk resolves it; -1 for none.
    static int32_t choose(const DrMeta *m, int32_t selector, bool any_other, int32_t version) {
        int32_t k = any_other ? -1 : find_id(m, selector);
        if (k < 0 && m->count > 0 && m->entries[0].id == -1) k = 0;
        return k >= 0 && m->entries[k].version <= version ? k : -1;
    }

    void compare_union(Pair &p, Span s) {
        const DrMeta *o = p.o, *n = p.n;
        std::vector<int32_t> ids;
        for (int32_t k = 0; k < o->count; ++k) ids.push_back(o->entries[k].id);
        for (int32_t k = 0; k < n->count; ++k) ids.push_back(n->entries[k].id);
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        std::vector<std::pair<int32_t, int32_t>> seen;
        for (size_t i = 0; i <= ids.size(); ++i) {
            const bool other = i == ids.size();  // a value that no member of either side claims
            if (!other && ids[i] == -1) continue;
            const int32_t k = choose(o, other ? 0 : ids[i], other, s.lo);
            const int32_t j = choose(n, other ? 0 : ids[i], other, s.lo);
            if (std::find(seen.begin(), seen.end(), std::make_pair(k, j)) != seen.end()) continue;
            seen.emplace_back(k, j);
            if (k < 0 && j < 0) continue;
            const std::string value = other ? std::string("a selector no member claims") : format("selector %d", ids[i]);
            if (k < 0 || j < 0) {
                const DrEntry &any = k >= 0 ? o->entries[k] : n->entries[j];
                add(p, 1, DR_COMPAT_UNION_ID, any, j >= 0 ? &n->entries[j] : nullptr,
                    k >= 0 ? value + " chose " + name_of(o->entries[k].name) + ", now nothing"
                           : value + " chose nothing, now " + name_of(n->entries[j].name),
                    s);
                continue;
            }
            const DrEntry &e = o->entries[k], &f = n->entries[j];
            if (field_text(e.name) == field_text(f.name)) {
                compare_member(p, e, f, s);
                continue;
            }
            Pair scratch{o, n, {}, {}, false};
            compare_member(scratch, e, f, s);
            if (!scratch.found.empty()) {
                add(p, 1, DR_COMPAT_UNION_ID, e, &f,
                    value + " chose " + name_of(e.name) + ", " + form(o, e) + "; now " + name_of(f.name) + ", " +
                        form(n, f),
                    s);
            } else {
                add(p, 0, DR_COMPAT_MEMBER_RENAMED, e, &f, value + " now chooses " + name_of(f.name) + " (was " +
                                                               name_of(e.name) + "): JSON and code name it anew", s);
            }
        }
    }

    // "float (4 bytes)", "string", "Position"
    static std::string form(const DrMeta *m, const DrEntry &e) {
        switch (kind_of(e)) {
        case Kind::kString: return "string";
        case Kind::kStruct:
        case Kind::kUnion: return name_of(child_meta(m, e)->name);
        case Kind::kLost: return format("record of type code %d without a type", e.type_code);
        case Kind::kScalar: break;
        }
        const DrBaseType *t = dr_type_at(e.type);
        const std::string name = t && t->code == e.type_code ? t->name : format("type code %d", e.type_code);
        return name + " (" + bytes(e.unit) + ")";
    }

    static std::string path_at(const DrMeta *m, const DrEntry &e, int32_t off) {
        char buf[256] = {0};
        dr_sprint_member_path(m, static_cast<int>(&e - m->entries), off, buf, sizeof buf - 1);
        return buf;
    }

    static std::string length_text(const DrEntry &e) {
        const int32_t w = length_width(e.netlen_size);
        if (e.netlen_pos < 0 && w == -e.netlen_pos) return format("a %d-byte length before each element", w);
        if (e.netlen_pos < 0)
            return w ? format("a %d-byte length in %d bytes before each element", w, -e.netlen_pos)
                     : format("%d unwritten bytes before the first element", -e.netlen_pos);
        return w ? format("a %d-byte length at byte %d of the enclosing record", w, e.netlen_pos) : "no length field";
    }

    static std::string bytes(int32_t n) { return format("%d byte%s", n, n == 1 ? "" : "s"); }

    static std::string count_text(const DrMeta *m, const DrEntry &e) {
        if (e.refer_size > 0)
            return "counted by " + path_at(m, e, e.refer_off) + " (" + bytes(field_width(e.refer_size)) + ")";
        return "a fixed count";
    }

    static std::string selector_text(const DrMeta *m, const DrEntry &e) {
        return path_at(m, e, e.select_off) + " (" + bytes(field_width(e.select_size)) + ")";
    }

    // Two members in the same place: the same form on the wire and the same values.
    void compare_member(Pair &p, const DrEntry &e, const DrEntry &f, Span s) {
        const DrMeta *o = p.o, *n = p.n;
        const Kind ke = kind_of(e), kf = kind_of(f);
        const bool same_form = ke == kf && (ke != Kind::kScalar || (e.unit == f.unit && e.type_code == f.type_code)) &&
                               (ke != Kind::kLost || e.type_code == f.type_code);
        if (!same_form) {
            add(p, 1, DR_COMPAT_MEMBER_TYPE, e, &f, "was " + form(o, e) + ", now " + form(n, f), s);
            return;
        }
        if (collecting_ && is_record(ke)) reach(child_meta(o, e), child_meta(n, f), {s});
        const bool counted_o = e.refer_size > 0, counted_n = f.refer_size > 0;
        if (counted_o != counted_n ||
            (counted_o && (field_width(e.refer_size) != field_width(f.refer_size) ||
                           path_at(o, e, e.refer_off) != path_at(n, f, f.refer_off)))) {
            add(p, 1, DR_COMPAT_MEMBER_REFER, e, &f, "was " + count_text(o, e) + ", now " + count_text(n, f), s);
        } else if (e.count != f.count) {
            const char *what = ke == Kind::kString ? "capacity" : counted_o ? "bound" : "count";
            add(p, 1, DR_COMPAT_MEMBER_COUNT, e, &f, format("%s was %d, now %d", what, e.count, f.count), s);
        }
        if (is_record(ke) && (e.netlen_pos != f.netlen_pos || length_width(e.netlen_size) != length_width(f.netlen_size)))
            add(p, 1, DR_COMPAT_MEMBER_LENGTH, e, &f, "was " + length_text(e) + ", now " + length_text(f), s);
        if (ke == Kind::kUnion && (field_width(e.select_size) != field_width(f.select_size) ||
                                   path_at(o, e, e.select_off) != path_at(n, f, f.select_off)))
            add(p, 1, DR_COMPAT_MEMBER_SELECT, e, &f,
                "selector was " + selector_text(o, e) + ", now " + selector_text(n, f),
                s);
    }

    void emit(const std::string &type, const std::string &new_type, const std::vector<Pending> &found) {
        for (const Pending &q : found) {
            DrCompatFinding out{};
            out.is_break = q.is_break;
            out.kind = q.kind;
            const std::string path = q.member.empty() ? type : type + "." + q.member;
            std::snprintf(out.path, sizeof out.path, "%s", path.c_str());
            std::snprintf(out.new_type, sizeof out.new_type, "%s", new_type.c_str());
            std::snprintf(out.new_member, sizeof out.new_member, "%s", q.new_member.c_str());
            std::snprintf(out.text, sizeof out.text, "%s", q.text.c_str());
            if (!q.is_break) {
                if (sink_) sink_(&out, ctx_);
                continue;
            }
            for (const Span &s : q.spans) {
                out.first = s.lo;
                out.last = s.hi;
                ++breaks_;
                if (sink_) sink_(&out, ctx_);
            }
        }
    }

    const DrLib *old_, *new_;
    DrCompatSink sink_;
    void *ctx_;
    int32_t newest_ = 1;
    int breaks_ = 0;
    bool collecting_ = false;  // spreading versions: reach nested pairs, record no findings
    std::vector<Pair> pairs_;
    std::map<std::pair<int32_t, int32_t>, size_t> index_;
    std::vector<size_t> work_;
};

}  // namespace
}  // namespace dr

extern "C" int dr_compat_check(const DrLib *old_lib, const DrLib *new_lib, DrCompatSink sink, void *ctx) {
    if (!old_lib || !new_lib) return -1;
    try {
        return dr::Checker(old_lib, new_lib, sink, ctx).run();
    } catch (const std::bad_alloc &) {
        return -1;
    }
}
