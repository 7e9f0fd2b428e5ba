// dissector.h: a Wireshark dissector in Lua, generated from a typelib over the public C API.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "dr/dr.h"

namespace drdissector {

struct Options {
    std::string name;            // protocol and filter prefix; empty: the typelib's name, lower case
    std::vector<int> tcp_ports;  // ports registered for the protocol
    std::vector<int> udp_ports;
    int version = 0;             // default of the version preference; 0 = newest
};

// The filter prefix the options give for the typelib: letters, digits and '_' only, lower
// case, starting with a letter.
std::string protocol_name(const DrLib *lib, const Options &options);

// Writes the dissector of records of `top` (inside `lib`) to fp. Returns 0, or -1 when the
// record types cannot be described (a member names a type outside the image).
int write_dissector(FILE *fp, const DrLib *lib, const DrMeta *top, const Options &options);

extern const char *const kRuntimeLua;

}  // namespace drdissector
