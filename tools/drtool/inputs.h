// inputs.h: the tool's files and names: typelibs, host and network records, types, versions.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dr/dr.h"

namespace drtool {

// Writes "drtool: <message>" as one line on standard error.
[[gnu::format(printf, 1, 2)]] void report(const char *format, ...);

struct LibDeleter {
    void operator()(DrLib *lib) const { dr_free_lib(lib); }
};
using LibPtr = std::unique_ptr<DrLib, LibDeleter>;

// Loads a typelib file; when it is refused, reports why (as far as the file shows) and
// returns null.
LibPtr load_typelib(const std::string &path);

// A type by name, or by id when `type` is a decimal number; reports and returns null when
// the typelib has no such type.
const DrMeta *find_type(const DrLib *lib, const std::string &lib_path, const std::string &type);

// A whole file, at most INT32_MAX bytes (the reach of a record buffer); reports a failure.
std::optional<std::vector<char>> read_file(const std::string &path);

// Whether `size` bytes read from path hold a host record of `meta` (its datasize); reports
// when they do not.
bool host_record_fits(const std::string &path, size_t size, const DrMeta *meta);

// A host record of `meta`: a file of at least the type's datasize bytes.
std::optional<std::vector<char>> read_host_record(const std::string &path, const DrMeta *meta);

// Writes the bytes as the file `path`, whole or not at all (outputs.h); reports a failure.
[[nodiscard]] bool write_file(const std::string &path, const char *data, size_t size);

// The value of -v (0, the newest, when absent); reports a malformed one as a usage error.
std::optional<int> parse_version(std::string_view command, const std::string *text);

// A decimal int32 that fills the whole text.
std::optional<int> parse_int(const std::string &text);

}  // namespace drtool
