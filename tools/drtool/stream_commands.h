// stream_commands.h: decode and encode of records back to back (--stream).
#pragma once

#include "tools/drtool/cli.h"

namespace drtool {

// decode --stream LIB TYPE FILE|-: one line (JSON with --json, else text) per record.
int run_decode_stream(const Args &args);
// encode --stream LIB TYPE JSONL|-: the network form of each JSON line, back to back.
int run_encode_stream(const Args &args);

}  // namespace drtool
