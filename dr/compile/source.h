// source.h: a typelib source as parsed from XML, before names, macros and layout are resolved.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dr::compile {

// A place in the source: 1-based line and byte column; 0 when there is none.
struct Pos {
    int line = 0, column = 0;
};

// The first error of a compile: thrown inside the compiler, caught at its C entry points.
struct Error : std::runtime_error {
    Error(Pos at, const std::string &what) : std::runtime_error(what), pos(at) {}
    Pos pos;
};

// An attribute value as written; numbers stay text until macros are known.
using Text = std::optional<std::string>;

struct MacroSource {
    Pos pos;
    Text name, value;
};

struct ItemSource {
    Pos pos;
    Text name, type, desc;
    Text id, count, version, io;            // numbers or macro names
    Text target, refer, select;             // dotted member paths
    Text target_size, netlen_pos, netlen_size;
};

struct TypeSource {
    Pos pos;
    Text name, klass, id, version, sizetype, sizewidth, idxtype;
    std::vector<ItemSource> items;
};

struct LibSource {
    Pos pos;
    Text name, id, version, padding, max_macros, max_metas;
    std::vector<MacroSource> macros;
    std::vector<TypeSource> types;
};

// Parses XML text into a LibSource; throws Error for malformed XML and for any element or
// attribute that the source format does not have.
LibSource parse_source(std::string_view xml);

}  // namespace dr::compile
