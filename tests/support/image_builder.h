// image_builder.h: composes well-formed typelib images in memory for tests.
//
//   drtest::Lib lib{.name = "demo", .id = 7, .version = 1};
//   lib.macros = {{"MAX_POINTS", 16}};
//   lib.metas = {drtest::record("Point", 100, {drtest::field("x", "int").id(1),
//                                              drtest::field("y", "int").id(2)})};
//   drtest::Image img = drtest::build(lib);
//
// Offsets, sizes, units, type rows and codes, datasizes, self offsets, the sorted indexes
// and the directory are computed; anything can be set explicitly, and the built image can
// be changed afterwards through Image to break an invariant on purpose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dr/dr.h"

namespace drtest {

inline constexpr int32_t kAuto = INT32_MIN;

struct Entry {
    DrEntry raw;                 // every field as stored; kAuto fields are computed
    std::string name, desc;
    std::string meta;            // referenced record type; empty for a base type member
    std::string base;            // base type name when `meta` is empty
    std::string refer_to, select_to, target_to;  // member paths in the same record ("n", "head.n")
    std::string id_macro_name, version_macro_name, count_macro_name, io_macro_name;

    Entry &id(int32_t v) { raw.id = v; return *this; }
    Entry &at(int32_t off) { raw.off = off; return *this; }
    Entry &version(int32_t v) { raw.version = v; return *this; }
    Entry &io(int32_t v) { raw.io = v; return *this; }
    Entry &unit(int32_t v) { raw.unit = v; return *this; }
    Entry &size(int32_t v) { raw.size = v; return *this; }
    Entry &type_code(int32_t v) { raw.type_code = v; return *this; }
    Entry &type(int32_t v) { raw.type = v; return *this; }
    Entry &refer(std::string member) { refer_to = std::move(member); return *this; }
    Entry &refer(int32_t off, int32_t size) { raw.refer_off = off; raw.refer_size = size; return *this; }
    Entry &select(std::string member) { select_to = std::move(member); return *this; }
    Entry &select(int32_t off, int32_t size) { raw.select_off = off; raw.select_size = size; return *this; }
    Entry &target(std::string member) { target_to = std::move(member); return *this; }
    Entry &target(int32_t off, int32_t size) { raw.target_off = off; raw.target_size = size; return *this; }
    Entry &netlen(int32_t pos, int32_t size) { raw.netlen_pos = pos; raw.netlen_size = size; return *this; }
    Entry &describe(std::string text) { desc = std::move(text); return *this; }
    Entry &id_macro(std::string m) { id_macro_name = std::move(m); return *this; }
    Entry &version_macro(std::string m) { version_macro_name = std::move(m); return *this; }
    Entry &count_macro(std::string m) { count_macro_name = std::move(m); return *this; }
    Entry &io_macro(std::string m) { io_macro_name = std::move(m); return *this; }
};

// A member of base type `type` ("int", "string", ...) with `count` elements.
Entry field(std::string name, std::string type, int32_t count = 1);
// A member whose type is the record type `meta` of the same library.
Entry nested(std::string name, std::string meta, int32_t count = 1);

struct Meta {
    std::string name;
    int32_t id = 0;
    int32_t is_struct = 1;
    std::vector<Entry> entries;
    int32_t datasize = kAuto;    // computed as the end of the furthest member
    int32_t version = 0;
    int32_t id_macro = -1, version_macro = -1;
    int32_t sizewidth = 0, sizetype = 0, idxtype = 0;
    std::string id_macro_name, version_macro_name;
};

Meta record(std::string name, int32_t id, std::vector<Entry> entries);
Meta union_of(std::string name, int32_t id, std::vector<Entry> entries);

struct Macro {
    std::string name;
    int32_t value = 0;
};

// Where the tables go in the data area; kAuto keeps the standard order.
struct Layout {
    int32_t macro_off = kAuto, id_index_off = kAuto, name_index_off = kAuto, dir_off = kAuto,
            data_off = kAuto;
    int32_t tail = 0;            // free bytes after the last meta record
};

struct Lib {
    std::string name;
    int32_t id = -1;
    int32_t version = 0;
    int32_t padding = 0;
    std::vector<Macro> macros;   // sorted by name when built, unless keep_macro_order
    std::vector<Meta> metas;     // directory order
    int32_t max_macros = kAuto;  // default: the number present
    int32_t max_metas = kAuto;
    Layout layout;
    bool keep_macro_order = false;
};

// A built image, 16-byte aligned, with typed access for checks and deliberate damage.
class Image {
public:
    explicit Image(std::vector<uint8_t> bytes);
    DrLib *lib() { return reinterpret_cast<DrLib *>(words_.data()); }
    const DrLib *lib() const { return reinterpret_cast<const DrLib *>(words_.data()); }
    uint8_t *bytes() { return reinterpret_cast<uint8_t *>(words_.data()); }
    const uint8_t *bytes() const { return reinterpret_cast<const uint8_t *>(words_.data()); }
    size_t size() const { return size_; }
    std::vector<uint8_t> vec() const { return {bytes(), bytes() + size_}; }
    DrLibHeader &header() { return *reinterpret_cast<DrLibHeader *>(bytes()); }
    uint8_t *data_area() { return bytes() + 112; }
    DrMeta *meta(const std::string &name);      // by directory scan; throws when absent
    DrEntry &entry(const std::string &meta_name, const std::string &member);
    int32_t meta_offset(const std::string &name) { return meta(name)->self_off; }
    void resize(size_t n);                      // grows or cuts the image bytes

private:
    std::vector<uint64_t> words_;
    size_t size_;
};

Image build(const Lib &lib);

// A library holding just these record types, in directory order.
inline Lib library(std::vector<Meta> metas) {
    Lib lib;
    lib.metas = std::move(metas);
    return lib;
}

// Writes bytes to a fresh file under the test temp directory and returns its path.
std::string write_temp_file(const std::string &stem, const std::vector<uint8_t> &bytes);
std::vector<uint8_t> read_file(const std::string &path);

// The worked "demo" library: macro MAX_POINTS = 16, struct Point {int x; int y;}.
Lib demo_lib();

}  // namespace drtest
