// records.h: records as Python objects, both ways, over a type's description.
//
// A struct record is a dict of its members in member order, an array a list, a string a
// str (bytes where it is not UTF-8), a union a one-key dict of its selected member; the
// rest follows docs/json.md. Both directions walk the members as the codec does: the same
// members at the same version, array counts from count members, union members chosen by
// selector members, every offset checked against the host buffer before it is used.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dr/dr.h"

namespace drpy {

// What a conversion refused: the library's code, the reason, the host offset and the
// path of the member (players[1].pos.x).
struct Fault {
    int code = DR_OK;
    std::string reason;
    std::string path;
    int64_t host_offset = -1;
};

// The Python names of one type's members, made once per type and image.
struct Names {
    std::vector<PyObject *> keys;  // one str per entry (owned)
};

// The member names of every type of one image, made on first use (under the GIL).
class NameCache {
public:
    NameCache() = default;
    NameCache(const NameCache &) = delete;
    NameCache &operator=(const NameCache &) = delete;
    ~NameCache();
    // Nullptr only when memory ran out (a Python error is then set).
    const Names *of(const DrMeta *meta);

private:
    std::unordered_map<const DrMeta *, std::unique_ptr<Names>> names_;
};

// The record at host[0, len) as a new dict; nullptr with *fault set on failure.
PyObject *host_to_py(NameCache &names, const DrMeta *meta, const char *host, int64_t len, int version, Fault *fault);

// Fills host[0, len) (cleared first) from the dict `record`; false with *fault set on failure.
bool py_to_host(NameCache &names, const DrMeta *meta, PyObject *record, char *host, int64_t len, int version,
                Fault *fault);

// The member that meta `m`'s entry refers to.
const DrMeta *child_of(const DrMeta *m, const DrEntry &e);

// The text of a fixed-size name field, never past the field.
std::string field_name(const char *field, size_t size);

}  // namespace drpy
