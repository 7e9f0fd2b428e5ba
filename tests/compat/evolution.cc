// evolution.cc: the mutator of random descriptions and the record comparison of two typelibs.
#include "tests/compat/evolution.h"

#include <algorithm>
#include <map>
#include <random>

#include "dr/dr_json.h"
#include "tests/support/records.h"

namespace drtest {
namespace {

// The wider base type of the same kind of value, or "" when there is none.
std::string wider(const std::string &base) {
    static const std::map<std::string, std::string> next = {
        {"char", "short"},         {"uchar", "ushort"},       {"short", "int"},       {"ushort", "uint"},
        {"int", "longlong"},       {"uint", "ulonglong"},     {"long", "longlong"},   {"ulong", "ulonglong"},
        {"float", "double"},       {"date", "longlong"},      {"time", "longlong"},   {"datetime", "longlong"},
        {"money", "longlong"}};
    const auto it = next.find(base);
    return it == next.end() ? "" : it->second;
}

// Whether any member of m takes its count or selector from member `name`.
bool governs(const Meta &m, const std::string &name) {
    for (const Entry &e : m.entries)
        if (e.refer_to == name || e.select_to == name) return true;
    return false;
}

class Mutator {
public:
    Mutator(const Lib &old, const Image &img, uint32_t seed) : old_(old), img_(img), rng_(seed) {}

    Evolution run(Change c) {
        ev_.lib = old_;
        switch (c) {
        case Change::kWiden: widen(); break;
        case Change::kMove: move(); break;
        case Change::kReuseId: reuse_id(); break;
        case Change::kBound: bound(); break;
        case Change::kAddUnversioned: add(false); break;
        case Change::kAddNewer: add(true); break;
        case Change::kHostLayout: host_layout(); break;
        }
        return std::move(ev_);
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    // Every (meta, entry) index pair that passes `fits`; one of them at random, or false.
    template <class Fits>
    bool choose(Fits fits, size_t &mi, size_t &ei) {
        std::vector<std::pair<size_t, size_t>> all;
        for (size_t m = 0; m < ev_.lib.metas.size(); ++m)
            for (size_t e = 0; e < ev_.lib.metas[m].entries.size(); ++e)
                if (fits(ev_.lib.metas[m], e)) all.emplace_back(m, e);
        if (all.empty()) return false;
        std::tie(mi, ei) = all[static_cast<size_t>(pick(0, static_cast<int>(all.size()) - 1))];
        return true;
    }

    void mark(size_t mi, const std::string &member) {
        ev_.applied = true;
        ev_.meta = ev_.lib.metas[mi].name;
        ev_.member = member;
    }

    void widen() {
        size_t mi, ei;
        if (!choose([](const Meta &m, size_t e) {
                const Entry &x = m.entries[e];
                return x.meta.empty() && !wider(x.base).empty() && !governs(m, x.name);
            }, mi, ei))
            return;
        Entry &e = ev_.lib.metas[mi].entries[ei];
        e.base = wider(e.base);
        mark(mi, e.name);
    }

    void move() {
        size_t mi, ei;
        if (!choose([](const Meta &m, size_t e) {
                if (!m.is_struct || e + 1 >= m.entries.size()) return false;
                const Entry &a = m.entries[e], &b = m.entries[e + 1];
                return b.refer_to != a.name && b.select_to != a.name;  // a count stays before its user
            }, mi, ei))
            return;
        std::vector<Entry> &es = ev_.lib.metas[mi].entries;
        std::swap(es[ei], es[ei + 1]);
        mark(mi, es[ei].name);
    }

    void reuse_id() {
        size_t mi, ei;
        if (!choose([](const Meta &m, size_t) { return !m.is_struct; }, mi, ei)) return;
        Entry &e = ev_.lib.metas[mi].entries[ei];
        Entry other = field("reused" + std::to_string(ei), e.base == "double" ? "int" : "double").id(e.raw.id)
                          .version(e.raw.version);
        e = other;
        mark(mi, e.name);
    }

    void bound() {
        size_t mi, ei;
        if (!choose([](const Meta &m, size_t e) { return m.entries[e].raw.count > 1; }, mi, ei)) return;
        Entry &e = ev_.lib.metas[mi].entries[ei];
        e.raw.count += pick(0, 1) ? 2 : -1;
        mark(mi, e.name);
    }

    void add(bool newer) {
        const int32_t version = newer ? newest_version(old_) + pick(1, 2) : pick(0, newest_version(old_));
        size_t mi, ei;
        // Any place in a struct; the end of a union that has no default member (a new id would
        // take selector values from the default at every version).
        if (!choose([&](const Meta &m, size_t e) {
                return m.is_struct || (newer && e == 0 && !m.entries.empty() && m.entries[0].raw.id != -1);
            }, mi, ei))
            return;
        Meta &m = ev_.lib.metas[mi];
        Entry e = field("added", pick(0, 1) ? "int" : "short").version(version);
        if (m.is_struct) {
            m.entries.insert(m.entries.begin() + static_cast<long>(pick(0, static_cast<int>(m.entries.size()))), e);
        } else {
            e.id(m.entries.back().raw.id + 1);
            m.entries.push_back(e);
        }
        mark(mi, e.name);
    }

    // Members from a random one on start 4 bytes later in the host record, which grows by 8.
    void host_layout() {
        size_t mi = static_cast<size_t>(pick(0, static_cast<int>(ev_.lib.metas.size()) - 1));
        Meta &m = ev_.lib.metas[mi];
        const DrMeta *built = const_cast<Image &>(img_).meta(m.name);
        if (m.is_struct && !m.entries.empty()) {
            const size_t from = static_cast<size_t>(pick(0, static_cast<int>(m.entries.size()) - 1));
            for (size_t k = from; k < m.entries.size(); ++k) m.entries[k].at(built->entries[k].off + 4);
        }
        m.datasize = built->datasize + 8;
        mark(mi, "");
    }

    const Lib &old_;
    const Image &img_;
    std::mt19937 rng_;
    Evolution ev_;
};

std::string json_of(const DrMeta *meta, const std::vector<char> &host, int version, bool *ok) {
    std::vector<char> in(host), out(1 << 15);
    DrBuffer o{out.data(), static_cast<int32_t>(out.size())};
    DrBuffer h{in.data(), static_cast<int32_t>(in.size())};
    *ok = dr_sprint_data_json(meta, &o, &h, version, 0) == 0;
    return std::string(out.data(), static_cast<size_t>(o.len));
}

}  // namespace

const char *change_name(Change c) {
    switch (c) {
    case Change::kWiden: return "widen a scalar";
    case Change::kMove: return "move a member";
    case Change::kReuseId: return "reuse a union id";
    case Change::kBound: return "change a count or bound";
    case Change::kAddUnversioned: return "add at a known version";
    case Change::kAddNewer: return "add at a newer version";
    case Change::kHostLayout: return "change the host layout";
    }
    return "";
}

bool is_safe(Change c) { return c == Change::kAddNewer || c == Change::kHostLayout; }

DrCompatKind expected_kind(Change c) {
    switch (c) {
    case Change::kWiden: return DR_COMPAT_MEMBER_TYPE;
    case Change::kMove: return DR_COMPAT_MEMBER_MOVED;
    case Change::kReuseId: return DR_COMPAT_UNION_ID;
    case Change::kBound: return DR_COMPAT_MEMBER_COUNT;
    case Change::kAddUnversioned: return DR_COMPAT_MEMBER_ADDED;
    case Change::kAddNewer:
    case Change::kHostLayout: break;
    }
    return DR_COMPAT_HOST_LAYOUT;
}

Evolution evolve(const Lib &old, const Image &old_img, Change c, uint32_t seed) {
    return Mutator(old, old_img, seed).run(c);
}

int32_t newest_version(const Lib &lib) {
    int32_t top = std::max(lib.version, 1);
    for (const Meta &m : lib.metas) {
        top = std::max(top, m.version);
        for (const Entry &e : m.entries) top = std::max(top, e.raw.version);
    }
    return top;
}

std::string differ_on(const DrMeta *from, const DrMeta *to, const std::vector<char> &host, int version,
                      std::string *json_out) {
    const Encoded sent = encode(from, host, version, 1 << 14);
    bool ok = false;
    const std::string json = json_of(from, host, version, &ok);
    if (sent.rc != 0 || !ok) return "skip";
    if (json_out) *json_out = json;
    // The same values in the other side's host form, through JSON, which maps members by name.
    std::vector<char> text(json.begin(), json.end()), mapped(static_cast<size_t>(to->datasize));
    DrBuffer h{mapped.data(), to->datasize};
    DrBuffer j{text.data(), static_cast<int32_t>(text.size())};
    DrJsonError err{};
    if (dr_json_to_host(to, &h, &j, version, &err) != 0) return std::string("the other side refuses the values: ") + err.message;
    const Encoded again = encode(to, mapped, version, 1 << 14);
    if (again.rc != 0) return "the other side cannot encode the same values";
    if (again.net != sent.net) return "the network bytes differ";
    const Decoded mine = decode(from, sent.net, version, from->datasize);
    const Decoded theirs = decode(to, sent.net, version, to->datasize);
    if (mine.rc != theirs.rc) return "only one side reads the bytes back";
    bool ok_mine = false, ok_theirs = false;
    if (json_of(from, mine.host, version, &ok_mine) != json_of(to, theirs.host, version, &ok_theirs) ||
        ok_mine != ok_theirs)
        return "the bytes read back to different values";
    return "";
}

}  // namespace drtest
