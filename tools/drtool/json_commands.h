// json_commands.h: drtool's JSON side: records read from and written as JSON.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dr/dr.h"
#include "tools/drtool/cli.h"

namespace drtool {

// The record to encode: a JSON record when --json is given, the file is named *.json or
// its bytes look like a JSON object; otherwise a host record of at least the datasize.
// Reports what is wrong and returns nothing on failure.
std::optional<std::vector<char>> read_record(const Args &args, const std::string &path, const DrMeta *meta,
                                             int version);

// Writes the host record as JSON to the file named by -o, else to standard output.
[[nodiscard]] int emit_json(const Args &args, const DrMeta *meta, std::vector<char> &host, int version);

// drtool host LIB TYPE JSONFILE: the host form of a JSON record.
int run_host(const Args &args);

}  // namespace drtool
