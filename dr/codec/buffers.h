// buffers.h: how the codec runs a walker over a caller's DrBuffer pair and hands its cursors
// back; shared by the encoder and the decoder.
#pragma once

#include <cstdint>

#include "dr/walk/cursor.h"
#include "dr/walk/walk.h"
#include "dr/dr.h"

namespace dr {

// Runs a codec walker (constructed from the host and network buffers) over the record.
// Both lengths are set on every return; a refused version writes nothing. The cursor can
// pass the end of the network buffer only by an inline length field reserved there, which
// leaves the record incomplete: that is a failure even when the walk itself completed.
template <class Walker>
int run_codec(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, const WalkRules &rules) {
    if (meta == nullptr || net == nullptr || host == nullptr) return -1;
    const int32_t v = effective_version(version);
    const int64_t host_len = usable_length(host);
    const int64_t net_len = usable_length(net);
    if (meta->version > v) {
        net->len = host->len = 0;
        return -1;
    }
    Walker w(host->data, host_len, net->data, net_len);
    const WalkEnd end = walk(w, rules, meta, host->data, host_len, v);
    net->len = as_buffer_len(w.reported_cursor());
    host->len = as_buffer_len(end.host_cursor);
    return end.ok && w.cursor() <= net_len ? 0 : -1;
}

}  // namespace dr
