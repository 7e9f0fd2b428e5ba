// records.cc: records as Python objects, both ways (records.h).
#include "records.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace drpy {
namespace {

constexpr int32_t kNewest = std::numeric_limits<int32_t>::max();
constexpr int64_t kStepsPerByte = 16;
constexpr int64_t kStepsPerMember = 64;
constexpr int32_t kEntrySize = 152;
constexpr int32_t kHeaderSize = 112;

// How a scalar is held: its type code's C type when the element width agrees, else an
// unsigned integer of the element width, so that nothing is lost.
enum class Kind : uint8_t { kI8, kU8, kI16, kU16, kI32, kU32, kI64, kU64, kF32, kF64, kNone };

struct Natural {
    Kind kind;
    int32_t width;
    const char *name;
};

Natural natural(int32_t code) {
    switch (code) {
    case DR_TYPE_CHAR: return {Kind::kI8, 1, "char"};
    case DR_TYPE_UCHAR: return {Kind::kU8, 1, "uchar"};
    case DR_TYPE_SHORT: return {Kind::kI16, 2, "short"};
    case DR_TYPE_USHORT: return {Kind::kU16, 2, "ushort"};
    case DR_TYPE_INT: return {Kind::kI32, 4, "int"};
    case DR_TYPE_LONG: return {Kind::kI32, 4, "long"};
    case DR_TYPE_DATE: return {Kind::kI32, 4, "date"};
    case DR_TYPE_TIME: return {Kind::kI32, 4, "time"};
    case DR_TYPE_DATETIME: return {Kind::kI32, 4, "datetime"};
    case DR_TYPE_MONEY: return {Kind::kI32, 4, "money"};
    case DR_TYPE_UINT: return {Kind::kU32, 4, "uint"};
    case DR_TYPE_ULONG: return {Kind::kU32, 4, "ulong"};
    case DR_TYPE_LONGLONG: return {Kind::kI64, 8, "longlong"};
    case DR_TYPE_ULONGLONG: return {Kind::kU64, 8, "ulonglong"};
    case DR_TYPE_FLOAT: return {Kind::kF32, 4, "float"};
    case DR_TYPE_DOUBLE: return {Kind::kF64, 8, "double"};
    default: return {Kind::kNone, 0, "scalar"};
    }
}

Kind kind_of(const DrEntry &e) {
    const Natural n = natural(e.type_code);
    if (n.width == e.unit) return n.kind;
    switch (e.unit) {
    case 1: return Kind::kU8;
    case 2: return Kind::kU16;
    case 4: return Kind::kU32;
    case 8: return Kind::kU64;
    default: return Kind::kNone;
    }
}

const char *type_name(const DrEntry &e) {
    const Natural n = natural(e.type_code);
    if (n.width == e.unit) return n.name;
    switch (e.unit) {
    case 1: return "uchar";
    case 2: return "ushort";
    case 4: return "uint";
    case 8: return "ulonglong";
    default: return "scalar";
    }
}

// A member is a list unless its description makes it one value: a declared count of 1 and
// no count member. Strings are texts, never lists.
bool is_array(const DrEntry &e) { return e.type_code != DR_TYPE_STRING && (e.count != 1 || e.refer_size > 0); }

int64_t width_bytes(int32_t width) { return width == 2 ? 2 : width == 4 ? 4 : 1; }

// Count and selector members by the width rule: 2 unsigned 16-bit, 4 signed 32-bit,
// anything else one unsigned byte.
int32_t read_width(const char *p, int32_t width) {
    if (width == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    if (width == 4) {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    return static_cast<unsigned char>(*p);
}

void write_width(char *p, int32_t width, int64_t value) {
    if (width == 2) {
        const auto v = static_cast<uint16_t>(value);
        std::memcpy(p, &v, 2);
    } else if (width == 4) {
        const auto v = static_cast<int32_t>(static_cast<uint32_t>(value));
        std::memcpy(p, &v, 4);
    } else {
        *p = static_cast<char>(value);
    }
}

// The union member that selector `s` chooses at `version`, or -1: the member of that id,
// else the default member (first id -1); a member newer than the version is never chosen.
int32_t resolve_union(const DrMeta *u, int32_t s, int32_t version) {
    int32_t found = -1;
    for (int32_t k = 0; k < u->count && found < 0; ++k)
        if (u->entries[k].id == s) found = k;
    if (found < 0 && u->count > 0 && u->entries[0].id == -1) found = 0;
    if (found >= 0 && u->entries[found].version > version) return -1;
    return found;
}

int32_t member_named(const DrMeta *m, PyObject *key) {
    Py_ssize_t n = 0;
    const char *text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &n) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        return -1;
    }
    for (int32_t k = 0; k < m->count; ++k) {
        const std::string name = field_name(m->entries[k].name, sizeof m->entries[k].name);
        if (name.size() == static_cast<size_t>(n) && std::memcmp(name.data(), text, name.size()) == 0) return k;
    }
    return -1;
}

std::string quoted(const std::string &s) { return "'" + s + "'"; }

std::string entry_name(const DrEntry &e) { return field_name(e.name, sizeof e.name); }
std::string meta_name(const DrMeta *m) { return field_name(m->name, sizeof m->name); }

// A short repr of a Python value for messages.
std::string repr(PyObject *v) {
    PyObject *r = PyObject_Repr(v);
    if (r == nullptr) {
        PyErr_Clear();
        return "the value";
    }
    Py_ssize_t n = 0;
    const char *text = PyUnicode_AsUTF8AndSize(r, &n);
    std::string s = text ? std::string(text, static_cast<size_t>(std::min<Py_ssize_t>(n, 60))) : "the value";
    if (text && n > 60) s += "...";
    if (!text) PyErr_Clear();
    Py_DECREF(r);
    return s;
}

// Whether the bytes read as text: valid UTF-8 with no control character but tab, line
// feed and carriage return.
bool is_text(const char *p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
        if (c == 0x7f) return false;
    }
    PyObject *s = PyUnicode_DecodeUTF8(p, static_cast<Py_ssize_t>(n), "strict");
    if (s == nullptr) {
        PyErr_Clear();
        return false;
    }
    Py_DECREF(s);
    return true;
}

// The walk's common state: the buffer, the version, the step budget and the member path.
struct Walk {
    NameCache &names;
    int32_t version;
    int64_t len;
    int64_t left;  // steps still allowed: members, elements and nested levels
    Fault *fault;
    struct Seg {
        const DrEntry *entry;
        int64_t index;
    };
    std::vector<Seg> path;

    Walk(NameCache &n, const DrMeta *meta, int version, int64_t host_len, Fault *f)
        : names(n), version(version == 0 ? kNewest : version), len(host_len), fault(f) {
        const DrLibHeader *h = reinterpret_cast<const DrLibHeader *>(reinterpret_cast<const char *>(meta) -
                                                                     meta->self_off - kHeaderSize);
        left = kStepsPerByte * (host_len + 1) + kStepsPerMember * (std::max<int32_t>(h->size, 0) / kEntrySize);
    }

    std::string path_text(const DrEntry *last = nullptr, int64_t index = -1) const {
        std::string s;
        auto add = [&](const DrEntry *e, int64_t i) {
            if (e != nullptr) {
                if (!s.empty()) s += '.';
                s += entry_name(*e);
            }
            if (i >= 0) s += "[" + std::to_string(i) + "]";
        };
        for (const Seg &g : path) add(g.entry, g.index);
        if (last != nullptr || index >= 0) add(last, index);
        return s;
    }

    bool fail(int code, std::string reason, int64_t at, const DrEntry *e = nullptr, int64_t index = -1) {
        fault->code = code;
        fault->reason = std::move(reason);
        fault->path = path_text(e, index);
        fault->host_offset = at;
        return false;
    }
    // A Python error raised inside a conversion (memory ran out) stays the error.
    bool python_failed() {
        fault->code = -1;
        return false;
    }
    bool step(int64_t at) { return --left >= 0 || fail(DR_E_STEPS, "the walk takes too many steps", at); }
    bool inside(int64_t at, int64_t n, int64_t end) const { return at >= 0 && n >= 0 && at + n <= end && end <= len; }
};

// ---- host to Python -------------------------------------------------------------------

template <class T>
T load(const char *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

PyObject *value_of(Kind k, const char *p) {
    switch (k) {
    case Kind::kI8: return PyLong_FromLong(load<int8_t>(p));
    case Kind::kU8: return PyLong_FromLong(load<uint8_t>(p));
    case Kind::kI16: return PyLong_FromLong(load<int16_t>(p));
    case Kind::kU16: return PyLong_FromLong(load<uint16_t>(p));
    case Kind::kI32: return PyLong_FromLong(load<int32_t>(p));
    case Kind::kU32: return PyLong_FromUnsignedLong(load<uint32_t>(p));
    case Kind::kI64: return PyLong_FromLongLong(load<int64_t>(p));
    case Kind::kU64: return PyLong_FromUnsignedLongLong(load<uint64_t>(p));
    case Kind::kF32: return PyFloat_FromDouble(load<float>(p));
    case Kind::kF64: return PyFloat_FromDouble(load<double>(p));
    case Kind::kNone: break;
    }
    Py_RETURN_NONE;
}

// Text as str when it is UTF-8, else as bytes.
PyObject *text_of(const char *p, int64_t n) {
    PyObject *s = PyUnicode_DecodeUTF8(p, static_cast<Py_ssize_t>(n), "strict");
    if (s != nullptr || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return s;
    PyErr_Clear();
    return PyBytes_FromStringAndSize(p, static_cast<Py_ssize_t>(n));
}

class Reader : public Walk {
public:
    Reader(NameCache &n, const DrMeta *meta, int version, const char *host, int64_t len, Fault *f)
        : Walk(n, meta, version, len, f), host_(host) {}

    // One element of type m at `base` into `out`, from member `start` (a union element has
    // only that one). False on failure.
    bool element(const DrMeta *m, int64_t base, int64_t end, int32_t start, int depth, PyObject *out) {
        const Names *keys = names.of(m);
        if (keys == nullptr) return python_failed();
        const int32_t last = m->is_struct != 0 ? m->count : std::min(start + 1, m->count);
        for (int32_t k = start; k < last; ++k) {
            const DrEntry &e = m->entries[k];
            if (!step(base)) return false;
            if (e.version > version) continue;
            bool cut = false;
            PyObject *v = member(m, e, base, end, depth, &cut);
            if (cut) return true;  // the selector chooses nothing: the rest of the element is left out
            if (v == nullptr) return false;
            const int rc = PyDict_SetItem(out, keys->keys[static_cast<size_t>(k)], v);
            Py_DECREF(v);
            if (rc != 0) return python_failed();
        }
        return true;
    }

private:
    PyObject *member(const DrMeta *m, const DrEntry &e, int64_t base, int64_t end, int depth, bool *cut) {
        const int64_t at = base + int64_t{e.off};
        if (!inside(at, 0, len)) return nullptr_fail(DR_E_HOST_END, "the member lies outside the host buffer", at, e);
        int32_t count = e.count;
        if (e.refer_size > 0) {
            const int64_t c = base + int64_t{e.refer_off};
            if (!inside(c, width_bytes(e.refer_size), len))
                return nullptr_fail(DR_E_HOST_END, "its count member lies outside the host buffer", at, e);
            count = read_width(host_ + c, e.refer_size);
            if (count < 0) return nullptr_fail(DR_E_COUNT, "its count member holds a negative count", at, e);
            if (e.count != 0 && count > e.count)
                return nullptr_fail(DR_E_COUNT,
                                    "its count member says " + std::to_string(count) + " elements, at most " +
                                        std::to_string(e.count),
                                    at, e);
        }
        if (e.type_code == DR_TYPE_UNION || e.type_code == DR_TYPE_STRUCT) return nested(m, e, at, end, count, depth, cut);
        if (count < 0) return nullptr_fail(DR_E_COUNT, "a negative count", at, e);
        if (e.type_code == DR_TYPE_STRING) {
            const int64_t capacity = e.count == 0 ? len - at : count;
            const int64_t limit = std::min(capacity, len - at);
            const void *nul = limit > 0 ? std::memchr(host_ + at, 0, static_cast<size_t>(limit)) : nullptr;
            if (nul == nullptr) return nullptr_fail(DR_E_STRING, "a string without its NUL", at, e);
            PyObject *s = text_of(host_ + at, static_cast<const char *>(nul) - (host_ + at));
            if (s == nullptr) python_failed();
            return s;
        }
        const Kind k = kind_of(e);
        if (k == Kind::kNone || e.unit < 0 || (e.unit == 0 && count > 1))
            return nullptr_fail(DR_E_TYPE, "a member whose element width is " + std::to_string(e.unit), at, e);
        const int64_t n = int64_t{e.unit} * count;
        if (!inside(at, n, end)) return nullptr_fail(DR_E_HOST_END, "the member lies outside its record", at, e);
        const char *p = host_ + at;
        PyObject *v = nullptr;
        if (!is_array(e)) {
            v = value_of(k, p);
        } else if (e.type_code == DR_TYPE_CHAR && e.unit == 1) {
            v = chars(p, count, e.refer_size > 0);
        } else {
            v = PyList_New(count);
            for (int32_t i = 0; v != nullptr && i < count; ++i) {
                PyObject *item = value_of(k, p + int64_t{i} * e.unit);
                if (item == nullptr) Py_CLEAR(v);
                else PyList_SET_ITEM(v, i, item);
            }
        }
        if (v == nullptr) python_failed();
        return v;
    }

    // A char array: str when it holds text and nothing after it (an array with a count
    // member has no NUL at all), else its bytes.
    static PyObject *chars(const char *p, int32_t count, bool counted) {
        const size_t n = static_cast<size_t>(count);
        const size_t used = strnlen(p, n);
        bool text = !(counted && used != n);
        for (size_t i = used; text && i < n; ++i) text = p[i] == '\0';
        if (text && is_text(p, used)) return PyUnicode_DecodeUTF8(p, static_cast<Py_ssize_t>(used), "strict");
        return PyBytes_FromStringAndSize(p, static_cast<Py_ssize_t>(n));
    }

    PyObject *nested(const DrMeta *m, const DrEntry &e, int64_t at, int64_t end, int32_t count, int depth, bool *cut) {
        if (depth >= DR_MAX_DEPTH) return nullptr_fail(DR_E_DEPTH, "records nested too deep", at, e);
        if (e.meta_off == -1) return nullptr_fail(DR_E_TYPE, "a nested member without its type", at, e);
        if (count <= 0) return PyList_New(0);
        const DrMeta *child = child_of(m, e);
        const int64_t span = int64_t{depth == 1 ? count - 1 : count} * child->datasize;
        if (child->datasize <= 0 ? count > 1 : !inside(at, span, end))
            return nullptr_fail(DR_E_HOST_END, "its elements lie outside the host buffer", at, e);
        int32_t start = 0;
        if (e.type_code == DR_TYPE_UNION) {
            const int64_t s = at - e.off + int64_t{e.select_off};
            if (!inside(s, width_bytes(e.select_size), len))
                return nullptr_fail(DR_E_HOST_END, "its selector member lies outside the host buffer", at, e);
            start = resolve_union(child, read_width(host_ + s, e.select_size), version);
            if (start < 0) {
                *cut = true;
                return nullptr;
            }
        }
        const bool array = is_array(e);
        PyObject *list = array ? PyList_New(count) : nullptr;
        if (array && list == nullptr) {
            python_failed();
            return nullptr;
        }
        for (int32_t i = 0; i < count; ++i) {
            const int64_t cb = at + int64_t{i} * child->datasize;
            const int64_t ce = std::min(len, cb + child->datasize);
            path.push_back({&e, array ? i : -1});
            PyObject *d = PyDict_New();
            const bool ok = d != nullptr && step(cb) &&
                            element(child, cb, ce, i == 0 || child->is_struct == 0 ? start : 0, depth + 1, d);
            path.pop_back();
            if (d == nullptr) python_failed();
            if (!ok) {
                Py_XDECREF(d);
                Py_XDECREF(list);
                return nullptr;
            }
            if (!array) return d;
            PyList_SET_ITEM(list, i, d);
        }
        return list;
    }

    PyObject *nullptr_fail(int code, std::string reason, int64_t at, const DrEntry &e) {
        fail(code, std::move(reason), at, &e);
        return nullptr;
    }

    const char *host_;
};

// ---- Python to host -------------------------------------------------------------------

template <class T>
void store(char *p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// A count or selector member to set (or check) once its element is written.
struct Pending {
    const DrEntry *entry;   // the array or union member it governs
    int64_t at;             // host offset of the count or selector member
    int32_t width;
    int64_t value;          // the count, or the chosen member's id
    const DrMeta *child;    // for a selector: the union, else nullptr
    int32_t chosen;         // for a selector: the chosen member
};

class Writer : public Walk {
public:
    Writer(NameCache &n, const DrMeta *meta, int version, char *host, int64_t len, Fault *f)
        : Walk(n, meta, version, len, f), host_(host) {}

    // The dict `obj` into the element of type m at `base`; `start` is the member a union
    // element holds, `selected` whether a selector chose it.
    bool element(const DrMeta *m, PyObject *obj, int64_t base, int64_t end, int32_t start, bool selected, int depth) {
        if (!PyDict_Check(obj)) return fail(DR_E_ARGUMENT, repr(obj) + " is not a dict of " + meta_name(m), base);
        const Names *keys = names.of(m);
        if (keys == nullptr) return python_failed();
        const Py_ssize_t given = PyDict_GET_SIZE(obj);
        // This element's count and selector members to settle, and the host offsets of the
        // single scalars it gives: stacks shared by all levels, each element above its parent's.
        const size_t pending_mark = pending_.size(), set_mark = set_.size();
        Py_ssize_t matched = 0;
        if (m->is_struct == 0) {
            if (given > 1)
                return fail(DR_E_ARGUMENT, "a union takes one member, not " + std::to_string(given), base);
            if (given == 1 && PyDict_GetItemWithError(obj, keys->keys[static_cast<size_t>(start)]) == nullptr) {
                if (PyErr_Occurred()) return python_failed();
                Py_ssize_t pos = 0;
                PyObject *key = nullptr, *value = nullptr;
                PyDict_Next(obj, &pos, &key, &value);
                const int32_t k = member_named(m, key);
                const std::string chosen = quoted(entry_name(m->entries[start]));
                if (k < 0) return fail(DR_E_ARGUMENT, repr(key) + " is not a member of union " + meta_name(m), base);
                if (!selected)
                    return fail(DR_E_ARGUMENT, "a union without a selector holds its first member " + chosen, base);
                return fail(DR_E_ARGUMENT, "the selector chooses " + chosen + ", not " + quoted(entry_name(m->entries[k])),
                            base);
            }
        }
        const int32_t last = m->is_struct != 0 ? m->count : std::min(start + 1, m->count);
        for (int32_t k = start; k < last; ++k) {
            const DrEntry &e = m->entries[k];
            if (!step(base)) return false;
            // Held while in use: a key's __eq__ run by the lookup could change the dict.
            PyObject *v = PyDict_GetItemWithError(obj, keys->keys[static_cast<size_t>(k)]);
            if (v == nullptr) {
                if (PyErr_Occurred()) return python_failed();
                if (e.version <= version && e.type_code == DR_TYPE_STRING && e.count == 0 &&
                    !inside(base + e.off, 1, len))
                    return fail(DR_E_HOST_END, "the empty string does not fit the host buffer", base + e.off, &e);
                continue;
            }
            ++matched;
            if (e.version > version) continue;  // passed over, as the encoder leaves it out
            Py_INCREF(v);
            const bool ok = member(m, e, v, base, end, depth);
            Py_DECREF(v);
            if (!ok) return false;
        }
        if (matched != given) {
            Py_ssize_t pos = 0;
            PyObject *key = nullptr, *value = nullptr;
            while (PyDict_Next(obj, &pos, &key, &value)) {
                const int32_t k = member_named(m, key);
                if (k < start || k >= last)
                    return fail(DR_E_ARGUMENT, repr(key) + " is not a member of " + meta_name(m), base);
            }
        }
        const bool ok = settle(pending_mark, set_mark);
        pending_.resize(pending_mark);
        set_.resize(set_mark);
        return ok;
    }

private:
    // Sets each count and selector member the element's dict left out; checks each one it gave.
    bool settle(size_t pending_mark, size_t set_mark) {
        for (size_t i = pending_mark; i < pending_.size(); ++i) {
            const Pending &p = pending_[i];
            const bool given = std::find(set_.begin() + static_cast<std::ptrdiff_t>(set_mark), set_.end(), p.at) != set_.end();
            char *q = host_ + p.at;
            if (p.child == nullptr) {
                if (given) {
                    const int32_t says = read_width(q, p.width);
                    if (says != p.value)
                        return fail(DR_E_ARGUMENT,
                                    "its count member says " + std::to_string(says) + " elements, the record gives " +
                                        std::to_string(p.value),
                                    p.at, p.entry);
                    continue;
                }
                const int64_t most = width_bytes(p.width) == 4 ? INT32_MAX : width_bytes(p.width) == 2 ? 0xffff : 0xff;
                if (p.value > most)
                    return fail(DR_E_ARGUMENT, std::to_string(p.value) + " elements do not fit its count member",
                                p.at, p.entry);
                write_width(q, p.width, p.value);
                continue;
            }
            if (!given) write_width(q, p.width, p.value);
            const int32_t chosen = resolve_union(p.child, read_width(q, p.width), version);
            if (chosen == p.chosen) continue;
            const std::string want = quoted(entry_name(p.child->entries[p.chosen]));
            if (chosen < 0)
                return fail(DR_E_ARGUMENT,
                            "the selector " + std::to_string(read_width(q, p.width)) + " chooses no member of union " +
                                meta_name(p.child),
                            p.at, p.entry);
            return fail(DR_E_ARGUMENT,
                        "the selector chooses " + quoted(entry_name(p.child->entries[chosen])) + ", not " + want, p.at,
                        p.entry);
        }
        return true;
    }

    bool member(const DrMeta *m, const DrEntry &e, PyObject *v, int64_t base, int64_t end, int depth) {
        const int64_t at = base + int64_t{e.off};
        if (!inside(at, 0, len)) return fail(DR_E_HOST_END, "the member lies outside the host buffer", at, &e);
        if (e.refer_size > 0 && !inside(base + e.refer_off, width_bytes(e.refer_size), len))
            return fail(DR_E_HOST_END, "its count member lies outside the host buffer", at, &e);
        if (e.type_code == DR_TYPE_UNION || e.type_code == DR_TYPE_STRUCT) return nested(m, e, v, at, end, depth);
        if (e.type_code == DR_TYPE_STRING) return string(e, v, at, base);
        const Kind k = kind_of(e);
        if (k == Kind::kNone || e.unit <= 0)
            return fail(DR_E_TYPE, "a member whose element width is " + std::to_string(e.unit), at, &e);
        if (!is_array(e)) {
            if (!inside(at, e.unit, end)) return fail(DR_E_HOST_END, "the member lies outside its record", at, &e);
            if (!scalar(e, k, v, host_ + at, -1)) return false;
            set_.push_back(at);
            return true;
        }
        const int64_t most = e.refer_size <= 0 || e.count != 0 ? e.count : (end - at) / e.unit;
        const char *data = nullptr;
        Py_ssize_t n = 0;
        const int kind = e.unit == 1 ? text_bytes(e, v, at, &data, &n) : 0;
        if (kind < 0) return false;
        if (kind > 0) {
            if (n > most)
                return fail(DR_E_ARGUMENT,
                            "a text of " + std::to_string(n) + " bytes does not fit the " + std::to_string(most) +
                                " bytes of the array",
                            at, &e);
            if (!inside(at, n, end)) return fail(DR_E_HOST_END, "does not fit the host buffer", at, &e);
            std::memcpy(host_ + at, data, static_cast<size_t>(n));
            if (e.refer_size > 0) pending_.push_back({&e, base + e.refer_off, e.refer_size, n, nullptr, 0});
            return true;
        }
        PyObject *seq = PySequence_Fast(v, "");
        if (seq == nullptr || PyUnicode_Check(v) || PyDict_Check(v)) {
            Py_XDECREF(seq);
            PyErr_Clear();
            return fail(DR_E_ARGUMENT, repr(v) + " is not a list of " + type_name(e), at, &e);
        }
        n = PySequence_Fast_GET_SIZE(seq);
        bool ok = true;
        if (n > most) {
            ok = fail(DR_E_ARGUMENT, "too many elements: " + std::to_string(n) + ", at most " + std::to_string(most), at,
                      &e);
        } else if (!inside(at, n * e.unit, end)) {
            ok = fail(DR_E_HOST_END, "does not fit the host buffer of " + std::to_string(len) + " bytes", at, &e);
        }
        // The size again at each element: nothing here runs Python code, but a list is never
        // read past its end even if something did.
        for (Py_ssize_t i = 0; ok && i < std::min(n, PySequence_Fast_GET_SIZE(seq)); ++i)
            ok = scalar(e, k, PySequence_Fast_GET_ITEM(seq, i), host_ + at + i * e.unit, i);
        Py_DECREF(seq);
        if (ok && e.refer_size > 0) pending_.push_back({&e, base + e.refer_off, e.refer_size, n, nullptr, 0});
        return ok;
    }

    // The bytes of a str (its UTF-8), bytes or bytearray: 1, or 0 when v is none of them,
    // or -1 (the fault set) for a str that has no UTF-8 form.
    int text_bytes(const DrEntry &e, PyObject *v, int64_t at, const char **data, Py_ssize_t *n) {
        if (PyUnicode_Check(v)) {
            *data = PyUnicode_AsUTF8AndSize(v, n);
            if (*data != nullptr) return 1;
            PyErr_Clear();
            fail(DR_E_ARGUMENT, repr(v) + " cannot be written as UTF-8", at, &e);
            return -1;
        }
        if (PyBytes_Check(v)) {
            *data = PyBytes_AS_STRING(v);
            *n = PyBytes_GET_SIZE(v);
            return 1;
        }
        if (PyByteArray_Check(v)) {
            *data = PyByteArray_AS_STRING(v);
            *n = PyByteArray_GET_SIZE(v);
            return 1;
        }
        return 0;
    }

    bool string(const DrEntry &e, PyObject *v, int64_t at, int64_t base) {
        const char *data = nullptr;
        Py_ssize_t n = 0;
        if (const int kind = text_bytes(e, v, at, &data, &n); kind <= 0)
            return kind < 0 ? false : fail(DR_E_ARGUMENT, repr(v) + " is not a str or bytes", at, &e);
        if (std::memchr(data, 0, static_cast<size_t>(n)) != nullptr)
            return fail(DR_E_ARGUMENT, "a text with a NUL inside", at, &e);
        const int64_t capacity = e.count == 0 ? len - at : e.count;
        if (n + 1 > capacity)
            return fail(DR_E_ARGUMENT,
                        "a text of " + std::to_string(n) + " bytes does not fit the " + std::to_string(capacity) +
                            " bytes of the string with its NUL",
                        at, &e);
        if (!inside(at, n + 1, len)) return fail(DR_E_HOST_END, "does not fit the host buffer", at, &e);
        std::memcpy(host_ + at, data, static_cast<size_t>(n));
        host_[at + n] = '\0';
        if (e.refer_size > 0) pending_.push_back({&e, base + e.refer_off, e.refer_size, n + 1, nullptr, 0});
        return true;
    }

    bool nested(const DrMeta *m, const DrEntry &e, PyObject *v, int64_t at, int64_t end, int depth) {
        if (depth >= DR_MAX_DEPTH) return fail(DR_E_DEPTH, "records nested too deep", at, &e);
        if (e.meta_off == -1) return fail(DR_E_TYPE, "a nested member without its type", at, &e);
        const DrMeta *child = child_of(m, e);
        const bool array = is_array(e);
        PyObject *seq = nullptr;
        Py_ssize_t n = 1;
        if (array) {
            seq = PyDict_Check(v) || PyUnicode_Check(v) ? nullptr : PySequence_Fast(v, "");
            if (seq == nullptr) {
                PyErr_Clear();
                return fail(DR_E_ARGUMENT, repr(v) + " is not a list of " + meta_name(child), at, &e);
            }
            n = PySequence_Fast_GET_SIZE(seq);
        }
        const int64_t room = (end - at) / std::max<int32_t>(child->datasize, 1);
        const int64_t most = e.refer_size <= 0 || e.count != 0 ? e.count : room;
        bool ok = true;
        if (array && n > most)
            ok = fail(DR_E_ARGUMENT, "too many elements: " + std::to_string(n) + ", at most " + std::to_string(most), at,
                      &e);
        else if (child->datasize <= 0 ? n > 1 : !inside(at, n * child->datasize, end))
            ok = fail(DR_E_HOST_END, "does not fit the host buffer of " + std::to_string(len) + " bytes", at, &e);
        // A union's member is the one key of its first element; a selector chooses it for all.
        int32_t start = 0;
        bool has_member = false;
        if (ok && e.type_code == DR_TYPE_UNION && n > 0) {
            PyObject *first = array ? PySequence_Fast_GET_ITEM(seq, 0) : v;
            if (PyDict_Check(first) && PyDict_GET_SIZE(first) == 1) {
                Py_ssize_t pos = 0;
                PyObject *key = nullptr, *value = nullptr;
                PyDict_Next(first, &pos, &key, &value);
                start = member_named(child, key);
                if (start < 0) {
                    path.push_back({&e, array ? 0 : -1});
                    ok = fail(DR_E_ARGUMENT, repr(key) + " is not a member of union " + meta_name(child), at);
                    path.pop_back();
                } else if (child->entries[start].version > version) {
                    ok = fail(DR_E_VERSION, "the union member " + quoted(entry_name(child->entries[start])) +
                                                " is newer than the version", at, &e);
                }
                has_member = true;
            }
        }
        for (Py_ssize_t i = 0; ok && i < (array ? std::min(n, PySequence_Fast_GET_SIZE(seq)) : n); ++i) {
            PyObject *item = array ? PySequence_Fast_GET_ITEM(seq, i) : v;
            Py_INCREF(item);  // a dict key's __eq__ could change the list while the element is written
            const int64_t cb = at + i * child->datasize;
            const int64_t ce = std::min(len, cb + child->datasize);
            path.push_back({&e, array ? i : -1});
            ok = step(cb) && element(child, item, cb, ce, start, e.type_code == DR_TYPE_UNION, depth + 1);
            path.pop_back();
            Py_DECREF(item);
        }
        Py_XDECREF(seq);
        if (!ok) return false;
        if (e.refer_size > 0) pending_.push_back({&e, at - e.off + e.refer_off, e.refer_size, n, nullptr, 0});
        if (e.type_code == DR_TYPE_UNION && has_member) {
            const int64_t s = at - e.off + int64_t{e.select_off};
            if (!inside(s, width_bytes(e.select_size), len))
                return fail(DR_E_HOST_END, "its selector member lies outside the host buffer", at, &e);
            pending_.push_back({&e, s, e.select_size, child->entries[start].id, child, start});
        }
        return true;
    }

    // One value of kind k from v at p; `index` is its place in a list, else -1.
    bool scalar(const DrEntry &e, Kind k, PyObject *v, char *p, int64_t index) {
        auto bad = [&](const char *why) {
            return fail(DR_E_ARGUMENT, repr(v) + " " + why + " " + type_name(e), p - host_, &e, index);
        };
        if (k == Kind::kF32 || k == Kind::kF64) {
            if (!PyFloat_Check(v) && !PyLong_Check(v)) return bad("is not a number of type");
            if (PyBool_Check(v)) return bad("is not a number of type");
            const double d = PyFloat_AsDouble(v);
            if (d == -1.0 && PyErr_Occurred()) {
                PyErr_Clear();
                return bad("is out of range for type");
            }
            if (k == Kind::kF64) {
                store<double>(p, d);
                return true;
            }
            const auto f = static_cast<float>(d);
            if (std::isinf(f) && !std::isinf(d)) return bad("is out of range for type");
            store<float>(p, f);
            return true;
        }
        PyObject *integer = nullptr;
        if (PyLong_Check(v) && !PyBool_Check(v)) {
            integer = Py_NewRef(v);
        } else if (PyFloat_Check(v)) {
            const double d = PyFloat_AS_DOUBLE(v);
            if (!std::isfinite(d) || d != std::floor(d)) return bad("is not an integer of type");
            integer = PyLong_FromDouble(d);
            if (integer == nullptr) return python_failed();
        } else {
            return bad("is not a number of type");
        }
        bool ok = true;
        if (k == Kind::kU64) {
            const unsigned long long u = PyLong_AsUnsignedLongLong(integer);
            if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
                PyErr_Clear();
                ok = bad("is out of range for type");
            } else {
                store<uint64_t>(p, u);
            }
        } else {
            int overflow = 0;
            const long long s = PyLong_AsLongLongAndOverflow(integer, &overflow);
            long long lo = 0, hi = 0;
            switch (k) {
            case Kind::kI8: lo = INT8_MIN, hi = INT8_MAX; break;
            case Kind::kU8: hi = UINT8_MAX; break;
            case Kind::kI16: lo = INT16_MIN, hi = INT16_MAX; break;
            case Kind::kU16: hi = UINT16_MAX; break;
            case Kind::kI32: lo = INT32_MIN, hi = INT32_MAX; break;
            case Kind::kU32: hi = UINT32_MAX; break;
            default: lo = INT64_MIN, hi = INT64_MAX; break;
            }
            if (overflow != 0 || s < lo || s > hi) {
                PyErr_Clear();
                ok = bad("is out of range for type");
            } else {
                switch (k) {
                case Kind::kI8: case Kind::kU8: store<uint8_t>(p, static_cast<uint8_t>(s)); break;
                case Kind::kI16: case Kind::kU16: store<uint16_t>(p, static_cast<uint16_t>(s)); break;
                case Kind::kI32: case Kind::kU32: store<uint32_t>(p, static_cast<uint32_t>(s)); break;
                default: store<int64_t>(p, s); break;
                }
            }
        }
        Py_DECREF(integer);
        return ok;
    }

    char *host_;
    std::vector<Pending> pending_;
    std::vector<int64_t> set_;
};

}  // namespace

std::string field_name(const char *field, size_t size) {
    const void *nul = std::memchr(field, 0, size);
    return std::string(field, nul ? static_cast<const char *>(nul) - field : size);
}

const DrMeta *child_of(const DrMeta *m, const DrEntry &e) {
    const char *data = reinterpret_cast<const char *>(m) - m->self_off;
    return reinterpret_cast<const DrMeta *>(data + e.meta_off);
}

NameCache::~NameCache() {
    for (auto &[meta, names] : names_)
        for (PyObject *k : names->keys) Py_XDECREF(k);
}

const Names *NameCache::of(const DrMeta *meta) {
    auto it = names_.find(meta);
    if (it != names_.end()) return it->second.get();
    auto names = std::make_unique<Names>();
    names->keys.reserve(static_cast<size_t>(std::max<int32_t>(meta->count, 0)));
    for (int32_t k = 0; k < meta->count; ++k) {
        const std::string name = entry_name(meta->entries[k]);
        PyObject *key = PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), "surrogateescape");
        if (key == nullptr) {
            for (PyObject *o : names->keys) Py_DECREF(o);
            return nullptr;
        }
        PyUnicode_InternInPlace(&key);
        names->keys.push_back(key);
    }
    return names_.emplace(meta, std::move(names)).first->second.get();
}

PyObject *host_to_py(NameCache &names, const DrMeta *meta, const char *host, int64_t len, int version, Fault *fault) {
    Reader r(names, meta, version, host, len, fault);
    if (meta->version > r.version) {
        r.fail(DR_E_VERSION, "the record type is newer than the requested version", 0);
        return nullptr;
    }
    PyObject *d = PyDict_New();
    if (d == nullptr) {
        fault->code = -1;
        return nullptr;
    }
    if (!r.element(meta, 0, len, 0, 1, d)) Py_CLEAR(d);
    return d;
}

bool py_to_host(NameCache &names, const DrMeta *meta, PyObject *record, char *host, int64_t len, int version,
                Fault *fault) {
    std::memset(host, 0, static_cast<size_t>(len));
    Writer w(names, meta, version, host, len, fault);
    if (meta->version > w.version) return w.fail(DR_E_VERSION, "the record type is newer than the requested version", 0);
    return w.element(meta, record, 0, len, 0, false, 1);
}

}  // namespace drpy
