// outputs.h: the files the tool writes from a typelib: C headers, XML sources, and files
// that appear whole or not at all.
#pragma once

#include <functional>
#include <string>

#include "dr/dr.h"

namespace drtool {

// Reports that a file could not be created, with errno's reason when there is one.
[[nodiscard]] int report_unwritable(const std::string &path);

// Writes the C header of a typelib to `path` with the given DR_HEADER_* flags; its include
// guard comes from the file name.
[[nodiscard]] int write_header(const DrLib *lib, const std::string &path, const char *prefix, int flags);

// Writes the complete XML source of a typelib to `path`, or to standard output when null.
[[nodiscard]] int write_source(const DrLib *lib, const std::string *path);

// Runs write(temporary path) and then renames the temporary file to `path`, so that `path`
// is either the whole new file or untouched; the temporary file never stays behind.
[[nodiscard]] int write_whole(const std::string &path, const std::function<int(const std::string &)> &write);

}  // namespace drtool
