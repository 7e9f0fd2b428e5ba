// build.h: turns a parsed source into the bytes of a typelib image.
#pragma once

#include <cstdint>
#include <vector>

#include "dr/compile/source.h"

namespace dr::compile {

// The image of a source; throws Error for anything the source gets wrong, so that every
// image it returns is one the loader accepts.
std::vector<uint8_t> build_image(const LibSource &src);

}  // namespace dr::compile
