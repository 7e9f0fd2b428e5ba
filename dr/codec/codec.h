// codec.h: the encoder and the decoder by the member walk alone, without a plan: the
// definition that the plans are tested against.
#pragma once

#include "dr/dr.h"

namespace dr {

int host_to_net_by_walk(const DrMeta *meta, DrBuffer *net, DrBuffer *host, int version, DrError *err);
int net_to_host_by_walk(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, DrError *err);

}  // namespace dr
