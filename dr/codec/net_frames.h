// net_frames.h: where each element of a nested member lies in the network form; shared by
// the encoder and the decoder, which place elements and their length fields identically.
#pragma once

#include "dr/walk/walk.h"

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

// What the encoder and the decoder share: the network cursor and length, elements placed
// alike when a nested frame is pushed, and where an element's length field may be.
class NetWalker {
public:
    explicit NetWalker(int64_t net_len) : net_len_(net_len) {}

    int64_t cursor() const { return cursor_; }
    bool skip(const DrEntry &) const { return false; }
    bool push(DrWalkFrame *frames, int depth) {
        place_element(frames, depth, &cursor_);
        return true;
    }

protected:
    // The width of the top frame's element length field, or 0 when it has none or the
    // field does not lie wholly inside the network buffer.
    int32_t length_field(const DrWalkFrame &f) const {
        const int32_t width = f.iLenSize == 2 || f.iLenSize == 4 ? f.iLenSize : 1;
        return f.pLenField >= 0 && width <= net_len_ - f.pLenField ? width : 0;
    }

    int64_t net_len_;
    int64_t cursor_ = 0;
};

}  // namespace dr
