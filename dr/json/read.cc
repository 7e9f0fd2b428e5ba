// read.cc: a JSON record into host form, over the codec's member walk.
//
// The JSON text is parsed whole first (tree.h), so members may come in any order and a
// count or selector member left out can be set from the array or union it governs before
// the walk reads it. The walk then fills the host record like the decoder does: counts and
// selectors come from the host record as filled so far.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "dr/walk/cursor.h"
#include "dr/walk/walk.h"
#include "dr/dr_json.h"
#include "dr/json/tree.h"
#include "dr/json/values.h"
#include "dr/json/walk_shape.h"

namespace dr::json {
namespace {

// What was refused, where in the text, and at which JSON path.
struct Fault {
    uint32_t offset = 0;
    std::string path;
    std::string what;
};

// A short form of a JSON value for messages: numbers as written, strings quoted.
std::string describe(const Node &n) {
    switch (n.type) {
    case NodeType::kNull: return "null";
    case NodeType::kFalse: return "false";
    case NodeType::kTrue: return "true";
    case NodeType::kObject: return "an object";
    case NodeType::kArray: return "an array";
    case NodeType::kNumber: return std::string(n.view());
    case NodeType::kString: break;
    }
    std::string s;
    append_string(s, n.view().substr(0, 40));
    if (n.size > 40) s.insert(s.size() - 1, "...");
    return s;
}

std::string quoted(std::string_view name) {
    std::string s(1, '\'');
    (s += name) += '\'';
    return s;
}

// Stores a count by the width rule the walk reads it with; false when it does not fit.
// A selector (`truncate`) keeps the low bytes of a member id: the walk then resolves what
// they say, and the union's key is checked against that.
bool put_width(char *p, int32_t width, int64_t value, bool truncate) {
    const int64_t bytes = field_width(width);
    const int64_t lo = bytes == 4 ? INT32_MIN : 0;
    const int64_t hi = bytes == 4 ? INT32_MAX : bytes == 2 ? 0xFFFF : 0xFF;
    if (!truncate && (value < lo || value > hi)) return false;
    const auto v = static_cast<uint32_t>(value);
    if (bytes == 2) {
        const auto v16 = static_cast<uint16_t>(v);
        std::memcpy(p, &v16, 2);
    } else if (bytes == 4) {
        std::memcpy(p, &v, 4);
    } else {
        *p = static_cast<char>(v);
    }
    return true;
}

class JsonReader : public CodecRules {
public:
    JsonReader(const Tree &tree, char *host, int64_t host_len, int32_t version)
        : tree_(tree), host_(host), host_len_(host_len), version_(version) {}

    // The top-level record is the root object.
    bool begin(const DrMeta *meta) {
        Level &top = levels_[0];
        top = Level{meta, nullptr, 0, 0, 0, 0, 0, 0, 0};
        if (tree_[0].type != NodeType::kObject)
            return fail(0, "", describe(tree_[0]) + " is not an object (record type " + name_of(meta) + ")");
        top.object = 0;
        top.present = true;
        top.hint = 1;
        return meta->is_struct != 0 || check_union(top, 0);
    }

    bool skip(const DrEntry &) const { return false; }

    bool scalar(const DrEntry &e, int64_t at, int32_t count, int64_t) {
        const uint32_t v = take(e);
        if (v == 0) return infer(e);
        const Kind k = kind_of(e);
        if (k == Kind::kNone) return fail(v, path_to(&e), "a scalar of " + std::to_string(e.unit) + "-byte units has no JSON form");
        const Node &node = tree_[v];
        char *p = host_ + at;
        if (!is_array(e)) return put_scalar(e, k, v, p, -1);
        const bool bytes = e.type_code == DR_TYPE_CHAR || e.type_code == DR_TYPE_UCHAR;
        if (node.type == NodeType::kString && bytes && e.unit == 1) {
            if (!check_length(e, v, node.size, count)) return false;
            std::memcpy(p, node.text, node.size);
            return true;
        }
        if (node.type != NodeType::kArray) return fail(v, path_to(&e), not_an_array(node, e));
        if (!check_length(e, v, node.size, count)) return false;
        uint32_t item = v + 1;
        for (uint32_t i = 0; i < node.size; ++i, item = tree_[item].end)
            if (!put_scalar(e, k, item, p + int64_t{i} * e.unit, static_cast<int32_t>(i))) return false;
        return true;
    }

    bool string(const DrEntry &e, int64_t at, int64_t capacity) {
        const uint32_t v = take(e);
        // Left out: the cleared member holds the empty string, so its NUL must lie inside the
        // buffer, as the writer and the encoder require.
        if (v == 0) return capacity >= 1 && at >= 0 && at < host_len_;
        const Node &node = tree_[v];
        if (node.type != NodeType::kString) return fail(v, path_to(&e), describe(node) + " is not a string");
        if (std::memchr(node.text, '\0', node.size) != nullptr)
            return fail(v, path_to(&e), "a string member cannot hold a NUL character");
        if (int64_t{node.size} + 1 > capacity)
            return fail(v, path_to(&e), "a text of " + std::to_string(node.size) + " bytes does not fit the " +
                                            std::to_string(capacity) + " bytes of the string with its NUL");
        if (at < 0 || int64_t{node.size} + 1 > host_len_ - at)
            return fail(v, path_to(&e), "the text does not fit the host buffer");
        std::memcpy(host_ + at, node.text, node.size);
        host_[at + node.size] = '\0';
        return true;
    }

    bool push(DrWalkFrame *frames, int depth) {
        const DrWalkFrame &f = frames[depth - 1];
        const DrEntry &e = opening_entry(frames, depth);
        const uint32_t v = take(e);
        depth_ = depth - 1;
        Level &l = levels_[depth_];
        l = Level{f.pMeta, &e, 0, 0, 0, 0, 0, 0, f.iHostBase};
        if (v == 0) return true;  // left out: every element stays cleared
        const Node &node = tree_[v];
        if (!is_array(e)) {
            if (node.type != NodeType::kObject)
                return fail(v, path_to(nullptr), describe(node) + " is not an object (record type " + name_of(f.pMeta) + ")");
            l.object = v;
            l.present = true;
            l.hint = v + 1;
            return f.pMeta->is_struct != 0 || check_union(l, f.iIndex);
        }
        if (node.type != NodeType::kArray) return fail(v, path_to(nullptr), not_an_array(node, e));
        // The parent's path, for the length check that concerns the whole array.
        --depth_;
        const bool fits = check_length(e, v, node.size, f.iRemaining);
        ++depth_;
        if (!fits) return false;
        l.array = v;
        l.next = v + 1;
        return next_element(l, f.iIndex);
    }

    bool empty(const DrEntry &e, bool unresolved) {
        if (unresolved) levels_[depth_].ended_at = &e;
        const uint32_t v = take(e);
        if (v == 0) return true;
        const Node &node = tree_[v];
        if (is_array(e) && node.type != NodeType::kArray) return fail(v, path_to(&e), not_an_array(node, e));
        if (!unresolved) return check_length(e, v, node.size, 0);
        if (is_array(e) && node.size == 0) return true;  // no element given for none taken
        const Level &l = levels_[depth_];
        const DrMeta *u = child_meta(l.meta, e);
        const uint32_t object = is_array(e) && node.size > 0 ? v + 1 : v;
        if (tree_[object].type != NodeType::kObject)
            return fail(object, path_to(&e), describe(tree_[object]) + " is not an object (record type " + name_of(u) + ")");
        if (tree_[object].size == 1) {
            const Node &key = tree_[object + 1];
            const DrEntry *m = member_named(u, key.view());
            if (m == nullptr) return fail(object + 1, path_to(&e), quoted(key.view()) + " is not a member of union " + name_of(u));
            if (m->version > version_)
                return fail(object + 1, path_to(&e), quoted(key.view()) + " came in version " + std::to_string(m->version) +
                                                         ", after the requested version " + std::to_string(version_));
        }
        int32_t selector = 0;
        (void)read_width_rule(Host<const char>{host_, host_len_}, l.base + e.select_off, e.select_size, &selector);
        return fail(v, path_to(&e), "the selector " + std::to_string(selector) + " chooses no member of union " + name_of(u));
    }

    bool element_done(DrWalkFrame *frames, int depth) {
        depth_ = depth - 1;
        Level &l = levels_[depth_];
        if (l.present && l.taken != tree_[l.object].size) return leftover(l);
        const DrWalkFrame &f = frames[depth - 1];
        if (f.iRemaining <= 0) {
            depth_ = depth > 1 ? depth - 2 : 0;  // the walk pops this frame next
            return true;
        }
        ++l.index;
        l.base = f.iHostBase;
        l.ended_at = nullptr;
        return l.array == 0 || next_element(l, f.iIndex);
    }

    // Names the member at which the walk itself stopped: the one at the host cursor.
    void diagnose(const WalkEnd &end) {
        const Level &l = levels_[depth_];
        const DrEntry *e = nullptr;
        for (int32_t k = 0; k < l.meta->count && e == nullptr; ++k)
            if (l.base + l.meta->entries[k].off == end.host_cursor && l.meta->entries[k].version <= version_)
                e = &l.meta->entries[k];
        uint32_t at = 0;  // the member's value, else the nearest element object given
        for (int d = depth_; d >= 0 && at == 0; --d)
            if (levels_[d].present) at = levels_[d].object;
        if (e == nullptr) {
            fail(at, path_to(nullptr), "the record does not fit the host buffer of " + std::to_string(host_len_) + " bytes");
            return;
        }
        uint32_t hint = 0;
        if (l.present)
            if (const uint32_t v = tree_.find(l.object, field_text(e->name), &hint)) at = v;
        int32_t count = e->count;
        std::string what = "does not fit the host buffer of " + std::to_string(host_len_) + " bytes";
        if (e->refer_size > 0 && read_width_rule(Host<const char>{host_, host_len_}, l.base + e->refer_off, e->refer_size, &count)) {
            if (count < 0) what = "its count member holds " + std::to_string(count) + ", a negative count";
            else if (e->count != 0 && count > e->count)
                what = "its count member says " + std::to_string(count) + " elements, more than the " +
                       std::to_string(e->count) + " it holds";
        } else if ((e->type_code == DR_TYPE_UNION || e->type_code == DR_TYPE_STRUCT) &&
                   depth_ + 1 == DR_MAX_DEPTH) {
            what = "records nest deeper than " + std::to_string(DR_MAX_DEPTH) + " levels";
        }
        fail(at, path_to(e), what);
    }

    bool failed() const { return failed_; }
    const Fault &fault() const { return fault_; }

private:
    struct Level {
        const DrMeta *meta;
        const DrEntry *entry;      // the member that opened the level; null at the top
        uint32_t array;            // the JSON array of an array member, or 0
        uint32_t next;             // its element for the next record element
        uint32_t index;            // record element walked, counted from 0
        uint32_t object;           // the JSON object of that element (when present)
        uint32_t hint;             // where its next key is likely to be
        uint32_t taken;            // its keys taken so far
        int64_t base;              // host offset of the element
        bool present = false;      // the element has a JSON object
        const DrEntry *ended_at = nullptr;  // a union member that chose nothing ended it
    };

    static std::string name_of(const DrMeta *m) { return std::string(field_text(m->name)); }

    std::string not_an_array(const Node &node, const DrEntry &e) const {
        const bool record = e.type_code == DR_TYPE_UNION || e.type_code == DR_TYPE_STRUCT;
        return describe(node) + " is not an array of " +
               (record ? name_of(child_meta(levels_[depth_].meta, e)) : std::string(type_name(e)));
    }

    static const DrEntry *member_named(const DrMeta *m, std::string_view name) {
        for (int32_t k = 0; k < m->count; ++k)
            if (field_text(m->entries[k].name) == name) return &m->entries[k];
        return nullptr;
    }

    // The JSON value of member e in the top level's object, counted as taken; 0 when absent.
    uint32_t take(const DrEntry &e) {
        Level &l = levels_[depth_];
        if (!l.present) return 0;
        const uint32_t v = tree_.find(l.object, e.name, &l.hint);
        if (v != 0) ++l.taken;
        return v;
    }

    // Moves an array level to its next element's object (absent past the JSON array's end).
    bool next_element(Level &l, int32_t start) {
        l.present = false;
        l.ended_at = nullptr;
        if (l.index >= tree_[l.array].size) return true;
        const uint32_t item = l.next;
        l.next = tree_[item].end;
        if (tree_[item].type != NodeType::kObject)
            return fail(item, path_to(nullptr), describe(tree_[item]) + " is not an object (record type " + name_of(l.meta) + ")");
        l.object = item;
        l.present = true;
        l.taken = 0;
        l.hint = item + 1;
        return l.meta->is_struct != 0 || check_union(l, start);
    }

    // A union element's object holds one key: the member that the walk selected.
    bool check_union(Level &l, int32_t selected) {
        const Node &object = tree_[l.object];
        if (object.size == 0) return true;  // the selected member left out
        if (object.size > 1)
            return fail(l.object, path_to(nullptr), "a union takes one member, not " + std::to_string(object.size));
        const std::string_view key = tree_[l.object + 1].view();
        const std::string_view chosen = field_text(l.meta->entries[selected].name);
        if (key == chosen) return true;
        const DrEntry *m = member_named(l.meta, key);
        if (m == nullptr)
            return fail(l.object + 1, path_to(nullptr), quoted(key) + " is not a member of union " + name_of(l.meta));
        if (l.entry == nullptr || l.entry->type_code != DR_TYPE_UNION)
            return fail(l.object + 1, path_to(nullptr), "a union without a selector holds its first member " + quoted(chosen));
        return fail(l.object + 1, path_to(nullptr), "the selector chooses " + quoted(chosen) + ", not " + quoted(key));
    }

    // The elements given for an array member against its count: never more than it holds,
    // and exactly as many as a count member says.
    bool check_length(const DrEntry &e, uint32_t v, uint32_t given, int32_t count) {
        // A count member may say fewer than the member holds; without one, all are in use.
        const int64_t most = e.refer_size <= 0 ? count : e.count != 0 ? e.count : INT64_MAX;
        if (given > most)
            return fail(v, path_to(&e), "too many elements: " + std::to_string(given) + ", at most " + std::to_string(most));
        if (e.refer_size > 0 && given != static_cast<uint32_t>(count))
            return fail(v, path_to(&e), "its count member says " + std::to_string(count) + " elements, the JSON gives " +
                                            std::to_string(given));
        return true;
    }

    // Value v into the element at p; `index` is its place in an array member, else -1.
    bool put_scalar(const DrEntry &e, Kind k, uint32_t v, char *p, int32_t index) {
        const Node &node = tree_[v];
        const bool number = node.type == NodeType::kNumber;
        const char *why = number || node.type == NodeType::kString ? parse_value(k, !number, node.view(), p)
                                                                   : "is not a number of type";
        if (why == nullptr) return true;
        return fail(v, path_to(&e, index), describe(node) + " " + why + " " + std::string(type_name(e)));
    }

    // A member left out: when it counts an array or selects a union member that the JSON
    // gives, it is set from that array's length or that member's id. The member it governs
    // lies in this element or in an enclosing one (a path such as `head.count`), so every
    // level is searched for a member whose count or selector lies at this host offset.
    bool infer(const DrEntry &e) {
        const int64_t here = levels_[depth_].base + e.off;
        for (int d = depth_; d >= 0; --d) {
            const Level &l = levels_[d];
            if (!l.present || l.meta->is_struct == 0) continue;
            for (int32_t k = 0; k < l.meta->count; ++k) {
                const DrEntry &x = l.meta->entries[k];
                if (x.version > version_ || &x == &e) continue;
                const bool counts = x.refer_size > 0 && l.base + x.refer_off == here;
                const bool selects = x.type_code == DR_TYPE_UNION && l.base + x.select_off == here;
                if ((counts || selects) && !fill_from(l, d, x, counts, here)) return false;
            }
        }
        return true;
    }

    // Sets the count or selector at host offset `at` from member x of level l (at depth d).
    bool fill_from(const Level &l, int d, const DrEntry &x, bool counts, int64_t at) {
        uint32_t hint = 0;
        const uint32_t v = tree_.find(l.object, field_text(x.name), &hint);
        if (v == 0) return true;
        const Node &node = tree_[v];
        const int32_t width = counts ? x.refer_size : x.select_size;
        if (at < 0 || field_width(width) > host_len_ - at) return true;  // the walk reports it
        if (counts) {
            int64_t n;
            if (node.type == NodeType::kArray)
                n = node.size;
            else if (node.type == NodeType::kString)
                n = node.size + (x.type_code == DR_TYPE_STRING ? 1 : 0);
            else
                return true;  // the member itself is refused when the walk reaches it
            if (x.count != 0 && n > x.count)
                return fail(v, path_to(&x, -1, d), "too many elements: " + std::to_string(n) + ", at most " + std::to_string(x.count));
            if (!put_width(host_ + at, width, n, false))
                return fail(v, path_to(&x, -1, d), std::to_string(n) + " elements do not fit its " +
                                                       std::to_string(field_width(width)) + "-byte count member");
            return true;
        }
        const uint32_t object = node.type == NodeType::kArray && node.size > 0 ? v + 1 : v;
        if (tree_[object].type != NodeType::kObject || tree_[object].size == 0) return true;
        const DrEntry *m = member_named(child_meta(l.meta, x), tree_[object + 1].view());
        if (m != nullptr) put_width(host_ + at, width, m->id, true);  // an unknown key is refused where the union is read
        return true;
    }

    // A finished element's keys that the walk did not take: members newer than the version
    // are passed over, as the encoder leaves them out; any other is named.
    bool leftover(const Level &l) {
        const Node &object = tree_[l.object];
        uint32_t newer = 0;
        for (uint32_t k = l.object + 1; k < object.end; k = tree_[k + 1].end) {
            const std::string_view key = tree_[k].view();
            uint32_t hint = 0;
            if (tree_.find(l.object, key, &hint) != k + 1) return fail(k, path_to(nullptr), "member " + quoted(key) + " is given twice");
            const DrEntry *m = member_named(l.meta, key);
            if (m == nullptr) return fail(k, path_to(nullptr), quoted(key) + " is not a member of " + name_of(l.meta));
            if (m->version > version_) {
                ++newer;
            } else if (l.ended_at != nullptr && m > l.ended_at) {
                return fail(k, path_to(nullptr), quoted(key) + " is left out: the union " +
                                                     quoted(field_text(l.ended_at->name)) + " before it chose no member");
            }
        }
        if (l.taken + newer == object.size) return true;
        return fail(l.object, path_to(nullptr), "a member of " + name_of(l.meta) + " is not taken");
    }

    // The JSON path of the element of level `depth` (the top level by default), then of
    // member e (and its element `index`).
    std::string path_to(const DrEntry *e, int32_t index = -1, int depth = -1) const {
        std::string p;
        for (int d = 1; d <= (depth < 0 ? depth_ : depth); ++d) {
            const Level &l = levels_[d];
            if (!p.empty()) p += '.';
            p += field_text(l.entry->name);
            if (is_array(*l.entry)) p += '[' + std::to_string(l.index) + ']';
        }
        if (e != nullptr) {
            if (!p.empty()) p += '.';
            p += field_text(e->name);
            if (index >= 0) p += '[' + std::to_string(index) + ']';
        }
        return p;
    }

    bool fail(uint32_t node, std::string path, std::string what) {
        if (!failed_) fault_ = Fault{tree_[node].offset, std::move(path), std::move(what)};
        failed_ = true;
        return false;
    }

    const Tree &tree_;
    char *host_;
    int64_t host_len_;
    int32_t version_;
    Level levels_[DR_MAX_DEPTH];
    int depth_ = 0;  // index of the level of the frame on top
    bool failed_ = false;
    Fault fault_;
};

template <size_t N>
void copy_text(char (&out)[N], const std::string &s) {
    const size_t n = std::min(s.size(), N - 1);
    std::memcpy(out, s.data(), n);
    out[n] = '\0';
}

// A path of at most `most` bytes: a longer one keeps its first and last members around "...",
// cut where a member starts when one is near, so that "a.b.c.d.e.f" becomes "a.b...e.f".
std::string shortened(const std::string &path, size_t most) {
    if (path.size() <= most) return path;
    const size_t half = (most - 3) / 2;
    size_t head = path.find_last_of(".[", half);
    if (head == std::string::npos || head < half / 2) head = half;
    size_t tail = path.find_first_of(".[", path.size() - half);
    if (tail == std::string::npos || tail > path.size() - half / 2) tail = path.size() - half;
    if (path[tail] == '.') ++tail;
    return path.substr(0, head) + "..." + path.substr(tail);
}

// The reason comes before the path, and the path is shortened to leave it room.
void report_fault(DrJsonError *err, std::string_view text, const Fault &f, uint32_t skipped) {
    if (err == nullptr) return;
    err->offset = static_cast<int32_t>(f.offset + skipped);
    line_and_column(text, f.offset, &err->line, &err->column);
    copy_text(err->path, shortened(f.path, sizeof err->path - 1));
    std::string what = f.what;
    if (!what.empty() && what.back() == '.') what.pop_back();
    std::string m = "line " + std::to_string(err->line) + ", column " + std::to_string(err->column) + ": " + what;
    if (!f.path.empty()) m += " (at " + shortened(f.path, 160) + ")";
    copy_text(err->message, m);
}

int read_json(const DrMeta *meta, DrBuffer *host, DrBuffer *json, int version, DrJsonError *err) {
    if (meta == nullptr || host == nullptr || json == nullptr) return -1;
    std::string_view text(json->data != nullptr ? json->data : "", static_cast<size_t>(usable_length(json)));
    // A UTF-8 byte-order mark is passed over; offsets still count from the buffer's start.
    const uint32_t bom = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    const size_t whole = text.size();
    text.remove_prefix(bom);
    const int64_t host_len = usable_length(host);
    const int32_t v = effective_version(version);
    auto refuse = [&](const Fault &f) {
        report_fault(err, text, f, bom);
        json->len = static_cast<int32_t>(f.offset + bom);
        return -1;
    };
    if (meta->version > v) {
        host->len = 0;
        return refuse({0, "", "type " + std::string(field_text(meta->name)) + " starts at version " +
                                  std::to_string(meta->version) + ", after the requested version " + std::to_string(v)});
    }
    if (host_len > 0) std::memset(host->data, 0, static_cast<size_t>(host_len));
    host->len = 0;
    Tree tree;
    ParseFault pf;
    if (!tree.parse(text.data(), text.size(), pf)) return refuse({pf.offset, pf.path, pf.what});

    JsonReader reader(tree, host->data, host_len, v);
    if (!reader.begin(meta)) return refuse(reader.fault());
    const WalkEnd end = walk(reader, meta, host->data, host_len, v, static_cast<int64_t>(text.size()));
    host->len = as_buffer_len(end.host_cursor);
    if (!end.ok) {
        if (!reader.failed()) reader.diagnose(end);
        return refuse(reader.fault());
    }
    json->len = static_cast<int32_t>(whole);
    return 0;
}

}  // namespace
}  // namespace dr::json

extern "C" int dr_json_to_host(const DrMeta *meta, DrBuffer *host, DrBuffer *json, int version, DrJsonError *err) {
    try {
        return dr::json::read_json(meta, host, json, version, err);
    } catch (const std::bad_alloc &) {
        if (err != nullptr) {
            *err = DrJsonError{};
            std::snprintf(err->message, sizeof err->message, "out of memory");
        }
        return -1;
    }
}
