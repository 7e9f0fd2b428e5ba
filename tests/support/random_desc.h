// random_desc.h: random record descriptions and matching host records for property tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/image_builder.h"

namespace drtest {

// A random library whose first meta, "Top", nests structs and unions (arrays with count
// members, selectors, strings, inline length fields wide enough for their elements,
// versions 0 to 3). Count and selector members (named cnt... and sel...) come before their
// users and are never newer than them, so a record survives encode then decode at any
// version; one in three lies in a struct member of its own (h... of type H...), reached by
// a path such as "h4.cnt5".
Lib random_lib(uint32_t seed);

// A host record of `meta` (inside a built image) whose counts stay within their bounds,
// whose strings end within their capacity and whose selectors mostly choose a member.
std::vector<char> random_host(const DrMeta *meta, uint32_t seed);

// A hostile library: `levels` record types L0, L1, ... each holding `members` members of the
// next type with `count` elements, all at offset 0, every host size `datasize`; the last
// type has no members. Walked without bounds, L0 visits (members x count)^levels elements.
Lib chain(int levels, int members, int32_t count, int32_t datasize);

}  // namespace drtest
