// window.h: the 16-byte windows that move a plan's fixed run as one byte permutation.
#pragma once

#include <cstdint>
#include <vector>

namespace dr::plan {

// One 16-byte window of a fixed permutation: output byte i at `to` + i takes input byte
// `from` + order[i], or keeps its old value where order[i] is kKeep.
struct Window {
    static constexpr uint8_t kKeep = 0x80;
    uint8_t order[16];
    int32_t from, to;
    bool keeps;  // some order[i] is kKeep
};

// The windows of one run of a plan, each way (0 encode, 1 decode); a count of 0 leaves that
// way to the run's pieces. `wide`: the run has fewer than 16 bytes, and its window reaches past
// its end, which the runner allows only where 16 network bytes remain.
struct RunWindows {
    int32_t first[2] = {}, count[2] = {};
    bool wide = false;
};

// The windows of every run of a plan, by run number.
struct WindowSet {
    std::vector<Window> windows;
    std::vector<RunWindows> runs;
};

}  // namespace dr::plan
