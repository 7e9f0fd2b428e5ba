// hexdump.h: binary output shown as offsets, hex bytes and printable characters.
#pragma once

#include <cstddef>
#include <cstdio>

namespace drtool {

// 16 bytes a line: "00000010  4c 42 00 2b ...  |LB.+...|"; a run of lines equal to the
// one before is shown as one "*" line, and a last line gives the byte count.
void hex_dump(FILE *fp, const char *data, size_t size);  // size below 2 GiB

}  // namespace drtool
