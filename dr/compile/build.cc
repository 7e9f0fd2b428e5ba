// build.cc: resolves a parsed source (macros, type references, member paths), lays out every
// record as the packed C layout of the generated header, and writes the typelib image.
#include "dr/compile/build.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <set>

#include "dr/describe/header_names.h"
#include "dr/text/text.h"
#include "dr/typelib/image.h"

namespace dr::compile {
namespace {

constexpr size_t kTextMax = 31;            // names and descriptions live in 32-byte fields
constexpr int64_t kRowLimit = 1 << 20;     // reserved table rows, so a typo cannot ask for gigabytes
constexpr int kUnionRow = 0, kStructRow = 1;

// A number as stored and the macro row it was written as (-1 for a literal).
struct Number {
    int32_t value;
    int32_t macro;
};

std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// A decimal number of 32 bits; nullopt for text that is not a decimal number at all, and an
// error for one that 32 bits cannot hold.
std::optional<int32_t> parse_decimal(std::string_view text, Pos pos, const char *what) {
    int32_t v = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (!text.empty() && ptr == end && ec == std::errc::result_out_of_range)
        throw Error(pos, std::string(what) + " " + quoted(text) + " is out of range: a number from " +
                             std::to_string(INT32_MIN) + " to " + std::to_string(INT32_MAX));
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return v;
}

std::string upper(std::string s) {
    for (char &c : s) c = ascii_upper(c);
    return s;
}

bool is_integer_code(int32_t code) {
    return (code >= DR_TYPE_CHAR && code <= DR_TYPE_UINT) || (code >= DR_TYPE_DATE && code <= DR_TYPE_MONEY);
}

void put_text(char (&field)[32], const std::string &s) { std::memcpy(field, s.data(), std::min(s.size(), kTextMax)); }

struct Type {
    const TypeSource *src;
    std::string name;
    Number id{-1, -1}, version{0, -1};
    int32_t is_struct = 1, sizewidth = 0, sizetype = 0, idxtype = 0;
    int32_t offset = 0;       // data-area offset of its DrMeta
    int32_t datasize = 0;
    int levels = 1;           // records on the longest chain from this type down, itself included
    std::vector<DrEntry> entries;
    std::vector<int> child;   // per item: the record type it holds, or -1
    enum { kNew, kOpen, kDone } state = kNew;
    size_t next = 0;          // the first item whose type is not yet known laid out
};

class Builder {
public:
    explicit Builder(const LibSource &src) : src_(src) {}

    std::vector<uint8_t> run() {
        header_fields();
        macro_table();
        types();
        for (size_t t = 0; t < types_.size(); ++t) lay_out_from(static_cast<int>(t));
        return image();
    }

private:
    std::string text(const Text &t, Pos pos, const char *what, bool required) const {
        if (!t) {
            if (required) throw Error(pos, std::string("missing attribute '") + what + "'");
            return {};
        }
        if (t->size() > kTextMax)
            throw Error(pos, std::string(what) + " " + quoted(*t) + " is longer than 31 bytes");
        if (required && t->empty()) throw Error(pos, std::string("empty ") + what);
        return *t;
    }

    int32_t literal(const Text &t, Pos pos, const char *what, int32_t fallback) const {
        if (!t) return fallback;
        const std::optional<int32_t> v = parse_decimal(*t, pos, what);
        if (!v) throw Error(pos, std::string(what) + " " + quoted(*t) + " is not a whole number");
        return *v;
    }

    // A number, or the name of a macro whose value it takes.
    Number number(const Text &t, Pos pos, const char *what, Number fallback) const {
        if (!t) return fallback;
        if (const std::optional<int32_t> v = parse_decimal(*t, pos, what)) return {*v, -1};
        const auto it = macro_rows_.find(*t);
        if (it == macro_rows_.end())
            throw Error(pos, std::string(what) + " " + quoted(*t) + " is neither a number nor a known macro");
        return {macros_[it->second]->second, it->second};
    }

    // Names go into the generated header, so each must be a C identifier there.
    static void declare(const std::string &name, Pos pos, const char *what) {
        if (!is_c_identifier(name))
            throw Error(pos, std::string(what) + " name " + quoted(name) +
                                 " is not a C identifier (letters, digits and '_', not starting with a digit)");
    }

    // One name of the header's file scope (macros upper-cased, the typedefs of each type);
    // two sources of one name would not compile.
    void claim(const std::string &ident, Pos pos, const std::string &what) {
        const auto [it, fresh] = header_names_.emplace(ident, what + " (line " + std::to_string(pos.line) + ")");
        if (!fresh)
            throw Error(pos, what + " is declared as " + quoted(ident) + " in the generated header, as " + it->second + " is");
    }

    // A member's name in the header: a word of neither language, unique in its record, and
    // not a macro or type name that the header declares.
    void claim_member(std::map<std::string, std::string> &taken, const DrEntry &e, const std::string &name, Pos pos) const {
        const std::string ident = header_member_name(e);
        const std::string what = "member " + quoted(name) + " is declared as " + quoted(ident) + " in the generated header";
        if (is_c_keyword(ident)) throw Error(pos, what + ", a keyword of C or C++");
        if (const auto it = header_names_.find(ident); it != header_names_.end())
            throw Error(pos, what + ", the name of " + it->second);
        const auto [it, fresh] = taken.emplace(ident, "member " + quoted(name) + " (line " + std::to_string(pos.line) + ")");
        if (!fresh) throw Error(pos, what + ", as " + it->second + " is");
    }

    void header_fields() {
        const Pos at = src_.pos;
        name_ = text(src_.name, at, "library name", false);
        id_ = literal(src_.id, at, "id", -1);
        version_ = literal(src_.version, at, "version", 0);
        padding_ = literal(src_.padding, at, "padding", 0);
        max_macros_ = rows(src_.max_macros, "max_macros", src_.macros.size());
        max_metas_ = rows(src_.max_metas, "max_metas", src_.types.size());
    }

    int32_t rows(const Text &t, const char *what, size_t used) const {
        const int64_t n = literal(t, src_.pos, what, static_cast<int32_t>(std::min<size_t>(used, INT32_MAX)));
        if (n < static_cast<int64_t>(used))
            throw Error(src_.pos, std::string(what) + " is " + std::to_string(n) + ", below the " +
                                      std::to_string(used) + " rows the source uses");
        if (n > kRowLimit) throw Error(src_.pos, std::string(what) + " is above " + std::to_string(kRowLimit));
        return static_cast<int32_t>(n);
    }

    void macro_table() {
        std::vector<std::pair<std::string, int32_t>> all;
        for (const MacroSource &m : src_.macros) {
            all.emplace_back(text(m.name, m.pos, "macro name", true), 0);
            if (!m.value) throw Error(m.pos, "missing attribute 'id' (the macro's value)");
            all.back().second = literal(m.value, m.pos, "macro value", 0);
        }
        for (size_t i = 0; i < all.size(); ++i) {
            const Pos at = src_.macros[i].pos;
            if (!macro_rows_.emplace(all[i].first, 0).second) throw Error(at, "duplicate macro name " + quoted(all[i].first));
            declare(all[i].first, at, "macro");
            claim(upper(all[i].first), at, "macro " + quoted(all[i].first));
        }
        macro_list_ = std::move(all);
        // Rows sorted by name as strcmp orders them; a map of std::string orders bytes unsigned alike.
        int32_t row = 0;
        for (auto &[name, index] : macro_rows_) index = row++;
        macros_.resize(macro_list_.size());
        for (const auto &m : macro_list_) macros_[macro_rows_[m.first]] = &m;
    }

    void types() {
        std::map<int32_t, size_t> ids;
        types_.reserve(src_.types.size());
        int64_t at = int64_t{kMacroRow} * max_macros_ + int64_t{kIdRow + kNameRow + kDirRow} * max_metas_;
        for (const TypeSource &s : src_.types) {
            Type &t = types_.emplace_back();
            t.src = &s;
            t.name = text(s.name, s.pos, "type name", true);
            if (dr_type_by_name(t.name.c_str()) >= 0)
                throw Error(s.pos, "type name " + quoted(t.name) + " is the name of a base type");
            if (!type_index_.emplace(t.name, static_cast<int>(types_.size() - 1)).second)
                throw Error(s.pos, "duplicate type name " + quoted(t.name));
            declare(t.name, s.pos, "type");
            claim(upper(t.name), s.pos, "type " + quoted(t.name));
            claim("LP" + upper(t.name), s.pos, "type " + quoted(t.name));
            if (s.klass && *s.klass != "struct" && *s.klass != "union")
                throw Error(s.pos, "class " + quoted(*s.klass) + " is neither 'struct' nor 'union'");
            t.is_struct = !s.klass || *s.klass == "struct";
            t.id = number(s.id, s.pos, "id", {-1, -1});
            if (const auto [it, fresh] = ids.emplace(t.id.value, types_.size() - 1); !fresh)
                throw Error(s.pos, "duplicate type id " + std::to_string(t.id.value) + " (also type " +
                                       quoted(types_[it->second].name) + ")");
            t.version = number(s.version, s.pos, "version", {version_, -1});
            if (s.sizetype) {
                t.sizetype = dr_type_by_name(s.sizetype->c_str());
                if (t.sizetype < 0) throw Error(s.pos, "sizetype " + quoted(*s.sizetype) + " is not a base type");
                t.sizewidth = dr_type_at(t.sizetype)->size;
            }
            t.sizewidth = literal(s.sizewidth, s.pos, "sizewidth", t.sizewidth);
            t.idxtype = literal(s.idxtype, s.pos, "idxtype", 0);
            t.offset = static_cast<int32_t>(at);
            at += kMetaHead + int64_t{kEntrySize} * static_cast<int64_t>(s.items.size());
            if (kHeaderSize + at > INT32_MAX) throw Error(s.pos, "the typelib grows past 2 GiB here");
        }
        end_ = static_cast<int32_t>(at);
    }

    // The record type an item holds, -1 for a base type; throws for a name that is neither.
    int record_of(const ItemSource &item) const {
        if (!item.type) throw Error(item.pos, "missing attribute 'type'");
        const auto it = type_index_.find(*item.type);
        if (it != type_index_.end()) return it->second;
        const int row = dr_type_by_name(item.type->c_str());
        if (row < 0) throw Error(item.pos, "unknown type " + quoted(*item.type));
        if (row == kUnionRow || row == kStructRow)
            throw Error(item.pos, "type " + quoted(*item.type) + " needs the name of a " + *item.type + " type");
        return -1;
    }

    // Depth first from type `root`, without recursion: a type is laid out once every record
    // type it holds is; meeting a type that is still open means it contains itself.
    void lay_out_from(int root) {
        if (types_[root].state == Type::kDone) return;
        std::vector<int> stack{root};
        types_[root].state = Type::kOpen;
        while (!stack.empty()) {
            Type &t = types_[stack.back()];
            const std::vector<ItemSource> &items = t.src->items;
            int pending = -1;
            for (; t.next < items.size(); ++t.next) {
                const int c = record_of(items[t.next]);
                if (c < 0 || types_[c].state == Type::kDone) continue;
                if (types_[c].state == Type::kOpen)
                    throw Error(items[t.next].pos, "type " + quoted(types_[c].name) + " contains itself" +
                                                       (&types_[c] == &t ? "" : " through " + quoted(t.name)));
                pending = c;
                break;
            }
            if (pending >= 0) {
                types_[pending].state = Type::kOpen;
                stack.push_back(pending);
                continue;
            }
            lay_out(t);
            t.state = Type::kDone;
            stack.pop_back();
        }
    }

    void lay_out(Type &t) {
        // Every member takes at least one byte, so that a host offset names one member.
        if (t.src->items.empty()) throw Error(t.src->pos, "type " + quoted(t.name) + " has no members");
        int64_t end = 0, largest = 0;
        std::set<std::string> names;
        std::map<std::string, std::string> header_members;
        for (const ItemSource &s : t.src->items) {
            DrEntry e{};
            const std::string name = text(s.name, s.pos, "member name", true);
            if (name == "this") throw Error(s.pos, "member name " + quoted(name) + " would not read back in a member path");
            declare(name, s.pos, "member");
            if (!names.insert(name).second) throw Error(s.pos, "duplicate member name " + quoted(name) + " in " + quoted(t.name));
            put_text(e.name, name);
            put_text(e.desc, text(s.desc, s.pos, "description", false));
            const int c = record_of(s);
            t.child.push_back(c);
            const Number id = number(s.id, s.pos, "id", {-1, -1});
            const Number count = number(s.count, s.pos, "count", {1, -1});
            const Number version = number(s.version, s.pos, "version", {t.version.value, -1});
            const Number io = number(s.io, s.pos, "io", {0, -1});
            if (count.value < 0) throw Error(s.pos, "count " + std::to_string(count.value) + " is negative");
            // A member is never older than its type: a request older than the type is refused,
            // so such a version would only mislead the readers of descriptions and headers.
            if (version.value < t.version.value)
                throw Error(s.pos, "member " + quoted(name) + " has version " + std::to_string(version.value) +
                                       ", older than the version " + std::to_string(t.version.value) + " of its type " +
                                       quoted(t.name));
            e.id = id.value, e.id_macro = id.macro;
            e.count = count.value, e.count_macro = count.macro;
            e.version = version.value, e.version_macro = version.macro;
            e.io = io.value, e.io_macro = io.macro;
            if (c >= 0) {
                const Type &child = types_[c];
                // The member walk and member paths follow at most DR_MAX_DEPTH records.
                t.levels = std::max(t.levels, child.levels + 1);
                if (t.levels > DR_MAX_DEPTH)
                    throw Error(s.pos, "records nest deeper than " + std::to_string(DR_MAX_DEPTH) + " levels here");
                e.meta_off = child.offset;
                e.type = child.is_struct ? kStructRow : kUnionRow;
                e.type_code = child.is_struct ? DR_TYPE_STRUCT : DR_TYPE_UNION;
                e.unit = child.datasize;
                e.netlen_size = literal(s.netlen_size, s.pos, "netlen_size", 0);
                if (e.netlen_size != 0 && e.netlen_size != 1 && e.netlen_size != 2 && e.netlen_size != 4)
                    throw Error(s.pos, "netlen_size " + std::to_string(e.netlen_size) + " is not 0, 1, 2 or 4");
                e.netlen_pos = literal(s.netlen_pos, s.pos, "netlen_pos", -e.netlen_size);
                if (e.netlen_pos < -4) throw Error(s.pos, "an inline length field (negative netlen_pos) has at most 4 bytes");
            } else {
                if (s.netlen_size || s.netlen_pos)
                    throw Error(s.pos, "a length field needs a member of a struct or union type, not " + quoted(*s.type));
                e.meta_off = -1;
                e.type = dr_type_by_name(s.type->c_str());
                e.type_code = dr_type_at(e.type)->code;
                e.unit = dr_type_at(e.type)->size;
            }
            const int64_t size = int64_t{e.unit} * std::max(e.count, 1);
            const int64_t off = t.is_struct ? end : 0;
            if (size > INT32_MAX || off + size > INT32_MAX)
                throw Error(s.pos, "member " + quoted(name) + " makes " + quoted(t.name) + " larger than 2 GiB");
            claim_member(header_members, e, name, s.pos);
            e.size = static_cast<int32_t>(size);
            e.off = static_cast<int32_t>(off);
            end = off + size;
            largest = std::max(largest, size);
            t.entries.push_back(e);
        }
        t.datasize = static_cast<int32_t>(t.is_struct ? end : largest);
        for (size_t k = 0; k < t.entries.size(); ++k) references(t, k);
        if (!t.is_struct) sort_union(t);
    }

    // target, refer and select of item k: member paths resolved to (offset, width).
    void references(Type &t, size_t k) {
        const ItemSource &s = t.src->items[k];
        DrEntry &e = t.entries[k];
        const bool holds_union = t.child[k] >= 0 && !types_[t.child[k]].is_struct;
        if (s.target) {
            const DrEntry &m = resolve(t, k, *s.target, "target", e.target_off);
            e.target_size = literal(s.target_size, s.pos, "target_size", m.size);
            if (e.target_size <= 0) throw Error(s.pos, "target_size must be positive");
        } else if (s.target_size) {
            throw Error(s.pos, "target_size without target");
        }
        // Union members share their bytes, so none can hold another's count or selector.
        if (!t.is_struct && (s.refer || s.select))
            throw Error(s.pos, "member " + quoted(field_text(e.name)) + " of union " + quoted(t.name) +
                                   " cannot take a count or selector from the union's own bytes");
        if (s.refer) {
            if (e.count == 1) throw Error(s.pos, "refer on " + quoted(field_text(e.name)) + ", which is not an array (count 1)");
            std::vector<const DrEntry *> trail;
            e.refer_size = counter(s, resolve(t, k, *s.refer, "refer", e.refer_off, &trail), "refer");
            read_before(t, k, *s.refer, "refer", trail);
        }
        if (s.select) {
            if (!holds_union)
                throw Error(s.pos, "select on " + quoted(field_text(e.name)) + ", whose type is not a union");
            std::vector<const DrEntry *> trail;
            e.select_size = counter(s, resolve(t, k, *s.select, "select", e.select_off, &trail), "select");
            read_before(t, k, *s.select, "select", trail);
        } else if (holds_union) {
            throw Error(s.pos, "member " + quoted(field_text(e.name)) + " of union type " + quoted(*s.type) +
                                   " needs a select path");
        }
    }

    // The width of a count or selector member: a single integer of 1, 2 or 4 bytes.
    static int32_t counter(const ItemSource &s, const DrEntry &m, const char *what) {
        if (m.meta_off != -1 || !is_integer_code(m.type_code) || m.count != 1 ||
            (m.size != 1 && m.size != 2 && m.size != 4))
            throw Error(s.pos, std::string(what) + " " + quoted(field_text(m.name)) +
                                   " is not a single integer of 1, 2 or 4 bytes");
        return m.size;
    }

    // The walk takes a count or selector from the host record as filled so far (the decoder
    // and the JSON reader fill it as they go), so the member on the path must be walked
    // before item k at every version that takes k: its first step is an earlier member, no
    // step is newer than k, and no step passes through an array that may hold no element.
    void read_before(const Type &t, size_t k, const std::string &path, const char *what,
                     const std::vector<const DrEntry *> &trail) const {
        const ItemSource &s = t.src->items[k];
        const DrEntry &e = t.entries[k];
        const std::string head = std::string(what) + " " + quoted(path) + " of " + quoted(field_text(e.name));
        if (trail.front() >= &e)
            throw Error(s.pos, head + " names " + (trail.front() == &e ? "the member itself" : "a later member") +
                                   ": a count or selector member must come before the member it governs");
        for (size_t i = 0; i < trail.size(); ++i) {
            const DrEntry &step = *trail[i];
            if (step.version > e.version)
                throw Error(s.pos, head + " reaches " + quoted(field_text(step.name)) + " of version " +
                                       std::to_string(step.version) + ", newer than the member's version " +
                                       std::to_string(e.version) + ": older requests would not read it");
            if (i + 1 < trail.size() && (step.count == 0 || step.refer_size > 0))
                throw Error(s.pos, head + " goes through " + quoted(field_text(step.name)) +
                                       ", an array that may hold no element");
        }
    }

    // Follows a dotted path from type t ("this" is item k itself) and returns the member it
    // names; `off` gets the member's host offset in one record of t. A count or selector
    // (`trail` given, which receives every member on the path) may not lie inside a union,
    // whose members share their bytes.
    const DrEntry &resolve(const Type &t, size_t k, const std::string &path, const char *what, int32_t &off,
                           std::vector<const DrEntry *> *trail = nullptr) const {
        const bool counter = trail != nullptr;
        const ItemSource &s = t.src->items[k];
        const Type *in = &t;
        const DrEntry *m = nullptr;
        int64_t at = 0;
        for (size_t from = 0; from <= path.size();) {
            const size_t dot = std::min(path.find('.', from), path.size());
            const std::string_view part(path.data() + from, dot - from);
            from = dot + 1;
            if (m) {
                if (m->meta_off == -1)
                    throw Error(s.pos, std::string(what) + " path " + quoted(path) + " goes below the base type member " +
                                           quoted(field_text(m->name)));
                in = &types_[child_of(*in, *m)];
                if (counter && !in->is_struct)
                    throw Error(s.pos, std::string(what) + " path " + quoted(path) + " goes into the union " + quoted(in->name));
            }
            const DrEntry *found = nullptr;
            if (in == &t && m == nullptr && part == "this") found = &t.entries[k];
            for (const DrEntry &c : in->entries)
                if (!found && field_text(c.name) == part) found = &c;
            if (!found)
                throw Error(s.pos, std::string(what) + " path " + quoted(path) + " names no member of " + quoted(in->name));
            m = found;
            if (trail) trail->push_back(m);
            at += m->off;
        }
        off = static_cast<int32_t>(at);  // inside one record of t, so below 2 GiB
        return *m;
    }

    int child_of(const Type &t, const DrEntry &e) const { return t.child[&e - t.entries.data()]; }

    // A union's entries go in ascending id order, the default member (-1) first among them.
    void sort_union(Type &t) {
        std::vector<size_t> order(t.entries.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return t.entries[a].id < t.entries[b].id; });
        for (size_t i = 1; i < order.size(); ++i)
            if (t.entries[order[i]].id == t.entries[order[i - 1]].id) {
                const size_t later = std::max(order[i], order[i - 1]);
                throw Error(t.src->items[later].pos, "union " + quoted(t.name) + " has two members with id " +
                                                         std::to_string(t.entries[later].id));
            }
        std::vector<DrEntry> sorted;
        std::vector<int> child;
        for (size_t i : order) sorted.push_back(t.entries[i]), child.push_back(t.child[i]);
        t.entries = std::move(sorted);
        t.child = std::move(child);
    }

    std::vector<uint8_t> image() const {
        std::vector<uint8_t> out(static_cast<size_t>(kHeaderSize + end_), 0);
        DrLibHeader h{};
        h.magic = kMagic;
        h.build = kBuild;
        h.id = id_;
        h.size = static_cast<int32_t>(out.size());
        h.version = version_;
        h.padding = padding_;
        h.max_metas = max_metas_;
        h.meta_count = static_cast<int32_t>(types_.size());
        h.max_macros = max_macros_;
        h.macro_count = static_cast<int32_t>(macros_.size());
        h.macro_off = 0;
        h.id_index_off = kMacroRow * max_macros_;
        h.name_index_off = h.id_index_off + kIdRow * max_metas_;
        h.dir_off = h.name_index_off + kNameRow * max_metas_;
        h.data_off = h.dir_off + kDirRow * max_metas_;
        h.free_off = end_;
        put_text(h.name, name_);
        std::memcpy(out.data(), &h, sizeof h);
        uint8_t *data = out.data() + kHeaderSize;
        for (size_t i = 0; i < macros_.size(); ++i) {
            DrMacro row{};
            put_text(row.name, macros_[i]->first);
            row.id = macros_[i]->second;
            std::memcpy(data + h.macro_off + kMacroRow * i, &row, sizeof row);
        }
        const int32_t n = h.meta_count;
        std::vector<int32_t> by_id(n);
        for (int32_t i = 0; i < n; ++i) by_id[i] = i;
        std::sort(by_id.begin(), by_id.end(), [&](int32_t a, int32_t b) { return types_[a].id.value < types_[b].id.value; });
        int32_t row = 0;
        for (const auto &[name, i] : type_index_) {  // ordered by name, bytes unsigned
            const NameIndexRow by_name = named_row(name, i);
            std::memcpy(data + h.name_index_off + kNameRow * row, &by_name, sizeof by_name);
            const IdIndexRow id_row{types_[by_id[row]].id.value, by_id[row]};
            std::memcpy(data + h.id_index_off + kIdRow * row, &id_row, sizeof id_row);
            const DirRow dir{types_[row].offset, 0};
            std::memcpy(data + h.dir_off + kDirRow * row, &dir, sizeof dir);
            ++row;
        }
        for (const Type &t : types_) {
            DrMeta m{};
            m.sizewidth = t.sizewidth;
            m.sizetype = t.sizetype;
            m.id = t.id.value;
            m.id_macro = t.id.macro;
            m.datasize = t.datasize;
            m.self_off = t.offset;
            m.count = static_cast<int32_t>(t.entries.size());
            m.idxtype = t.idxtype;
            m.is_struct = t.is_struct;
            m.version = t.version.value;
            m.version_macro = t.version.macro;
            put_text(m.name, t.name);
            std::memcpy(data + t.offset, &m, sizeof m);
            if (!t.entries.empty())
                std::memcpy(data + t.offset + kMetaHead, t.entries.data(), kEntrySize * t.entries.size());
        }
        return out;
    }

    static NameIndexRow named_row(const std::string &name, int index) {
        NameIndexRow r{};
        put_text(r.name, name);
        r.index = index;
        return r;
    }

    const LibSource &src_;
    std::string name_;
    int32_t id_ = -1, version_ = 0, padding_ = 0, max_macros_ = 0, max_metas_ = 0, end_ = 0;
    std::vector<std::pair<std::string, int32_t>> macro_list_;  // source order
    std::map<std::string, int32_t> macro_rows_;                // name -> sorted row
    std::vector<const std::pair<std::string, int32_t> *> macros_;  // sorted rows
    std::vector<Type> types_;                                  // directory (source) order
    std::map<std::string, int> type_index_;
    std::map<std::string, std::string> header_names_;          // file-scope names of the header -> who
};

}  // namespace

std::vector<uint8_t> build_image(const LibSource &src) { return Builder(src).run(); }

}  // namespace dr::compile
