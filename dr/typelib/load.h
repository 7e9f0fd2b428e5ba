// load.h: loading an image from a stream, with the reason when it is refused.
#pragma once

#include <cstdint>
#include <cstdio>

#include "dr/dr.h"

namespace dr {

struct LoadResult {
    enum Why {
        kLoaded,
        kEmpty,         // the stream holds no byte
        kNoMark,        // the first bytes are not the mark 0x55 0x44
        kShort,         // fewer than the 112 header bytes (have)
        kFormatLevel,   // the header's build (have) is not 103
        kBadSize,       // the header announces (want) fewer bytes than the header itself
        kLength,        // a seekable stream holds `have` bytes, the header announces `want`
        kEndedEarly,    // a stream ended after `have` of the `want` announced bytes
        kGoesOn,        // a stream goes on past the `want` announced bytes
        kContent,       // the content check failed: `check` names it
        kReadError,     // reading failed with errno `error`
        kNoMemory,
    } why = kLoaded;
    int64_t have = 0, want = 0;
    const char *check = nullptr;
    int error = 0;
};

// Reads an image from the stream: the 112-byte header first, whose mark and format level
// must match before anything more is read or allocated, then exactly the header's `size`
// bytes in all. A seekable stream is read from its start and must be exactly that long; any
// other stream (a pipe, a terminal) is read from where it stands, up to the announced size,
// and must end there. On success *out holds the verified image; otherwise *out is unchanged.
LoadResult load_image(std::FILE *fp, DrLib **out);
// Sets *err from a load's result (the code, and the text that completes "<file> is not a
// typelib: ..."): 0 for a loaded image, else -1.
int load_error(const LoadResult &r, DrError *err);

}  // namespace dr
