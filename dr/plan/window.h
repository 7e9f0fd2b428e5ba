// window.h: the 16-byte windows that move a plan's fixed run as one byte permutation.
#pragma once

#include <cstdint>

namespace dr::plan {

// One 16-byte window of a fixed permutation: output byte i at `to` + i takes input byte
// `from` + order[i], or keeps its old value where order[i] is kKeep.
struct Window {
    static constexpr uint8_t kKeep = 0x80;
    uint8_t order[16];
    int32_t from, to;
    bool keeps;  // some order[i] is kKeep
};

}  // namespace dr::plan
