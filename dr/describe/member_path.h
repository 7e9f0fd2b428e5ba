// member_path.h: dotted paths that name the member found at a host offset of a record.
#pragma once

#include <cstdint>

#include "dr/text/sink.h"
#include "dr/dr.h"

namespace dr {

// Writes the path of the member at host offset `offset` of one record of `meta`, each
// name one piece; the entry at position `entry` of `meta` itself is called "this".
void write_member_path(const DrMeta *meta, int32_t entry, int32_t offset, Sink &out);

}  // namespace dr
