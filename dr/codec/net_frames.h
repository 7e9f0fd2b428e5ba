// net_frames.h: where each element of a nested member lies in the network form; shared by
// the encoder and the decoder, which place elements and their length fields identically.
#pragma once

#include "dr/codec/walk.h"

namespace dr {

// Places the current element of frames[depth-1] at network offset `*cursor`: an inline
// length field (negative position) is reserved in front of it and the cursor passes it;
// a fixed position lies that many bytes after the enclosing element's start.
inline void place_element(DrWalkFrame *frames, int depth, int64_t *cursor) {
    DrWalkFrame &f = frames[depth - 1];
    if (f.iLenPos < 0) {
        f.pLenField = *cursor;
        *cursor -= int64_t{f.iLenPos};
        f.pNetStart = *cursor;
    } else {
        f.pNetStart = *cursor;
        f.pLenField = frames[depth - 2].pNetStart + f.iLenPos;
    }
}

}  // namespace dr
