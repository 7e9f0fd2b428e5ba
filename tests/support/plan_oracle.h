// plan_oracle.h: the plans checked against the walk. Each call runs one operation twice, once
// through the public call (which takes a type's plan when one serves) and once by the walk
// alone, from identical buffers, and describes the first difference: result, both lengths,
// every byte of both buffers (guard bytes included) and the DrError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dr/dr.h"
#include "tests/support/image_builder.h"

namespace drtest {

struct FreeLib {
    void operator()(DrLib *lib) const { dr_free_lib(lib); }
};
using LoadedLib = std::unique_ptr<DrLib, FreeLib>;

// The image loaded by dr_load_lib (so that it has plans); null when the loader refuses it.
LoadedLib load_image_bytes(const uint8_t *bytes, size_t size);

// Sets `fields` member fields (offset, count, unit, type code, length field, count member,
// selector, version, id) of entries of the image's types, drawn from `seed`, to small or
// random values: descriptions the loader may still accept.
void damage_image(Image &img, uint32_t seed, int fields);

// How many comparisons ran, how many of them the plan took, and how many failed.
struct PlanTally {
    int64_t calls = 0, by_plan = 0, failures = 0;
    int64_t bounded = 0;  // of by_plan, taken in the plan's bounded mode
};

// Encodes `host` into a network buffer of `capacity` bytes (null with `sizing`).
std::string compare_encode(const DrMeta *meta, const std::vector<char> &host, int version, int32_t capacity,
                           bool sizing, PlanTally *tally);
// Decodes `net` into a host buffer of `capacity` bytes filled with `fill`; `explain` asks for
// the DrError (dr_net_to_host_ex) rather than none (dr_net_to_host).
std::string compare_decode(const DrMeta *meta, const std::vector<char> &net, int version, int32_t capacity,
                           char fill, bool explain, PlanTally *tally);

}  // namespace drtest
