// render.h: one rendering of a record (text or XML) to a stream or into a buffer.
#pragma once

#include "dr/render/render_walk.h"

namespace dr {

// Renders `meta`'s record at `host` in `style` to `fp`, or into `out` when fp is null.
// Returns the DrBuffer contract's result; lengths are set as each public variant says, and
// *err (when not null) says why and where a rendering failed.
[[nodiscard]] int render(const DrMeta *meta, Style style, std::FILE *fp, DrBuffer *out, DrBuffer *host,
                         int version, bool report_host, DrError *err);

}  // namespace dr
