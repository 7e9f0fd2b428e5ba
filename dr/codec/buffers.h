// buffers.h: how the codec reads a caller's DrBuffer pair, runs a walker over the record
// and reports its cursors back; shared by the encoder and the decoder.
#pragma once

#include <algorithm>
#include <cstdint>

#include "dr/codec/walk.h"
#include "dr/dr.h"

namespace dr {

// The usable length of a caller's buffer: a negative length or a missing pointer is empty.
inline int64_t usable_length(const DrBuffer *b) { return b->data == nullptr ? 0 : std::max<int32_t>(b->len, 0); }

// A cursor offset as a DrBuffer length, kept inside 0..INT32_MAX.
inline int32_t report(int64_t offset) {
    return static_cast<int32_t>(std::clamp<int64_t>(offset, 0, INT32_MAX));
}

// Runs a codec walker (constructed from the host and network buffers) over the record.
// Both lengths are set on every return; a refused version writes nothing. The cursor can
// pass the end of the network buffer only by an inline length field reserved there, which
// leaves the record incomplete: that is a failure even when the walk itself completed.
// `extra` arguments go to the walker's constructor after the buffers.
template <class Walker, class... Extra>
int run_codec(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, const WalkRules &rules,
              Extra... extra) {
    if (meta == nullptr || net == nullptr || host == nullptr) return -1;
    const int32_t v = effective_version(version);
    const int64_t host_len = usable_length(host);
    const int64_t net_len = usable_length(net);
    if (meta->version > v) {
        net->len = host->len = 0;
        return -1;
    }
    Walker w(host->data, host_len, net->data, net_len, extra...);
    WalkRules budgeted = rules;
    budgeted.net_len = net_len;
    const WalkEnd end = walk(w, budgeted, meta, host->data, host_len, v);
    net->len = report(w.reported_cursor());
    host->len = report(end.host_cursor);
    return end.ok && w.cursor() <= net_len ? 0 : -1;
}

}  // namespace dr
