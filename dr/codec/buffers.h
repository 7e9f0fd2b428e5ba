// buffers.h: how the codec runs a walker over a caller's DrBuffer pair and hands its cursors
// and its failure back; shared by the encoder and the decoder.
#pragma once

#include <cstdint>

#include "dr/codec/plan_run.h"
#include "dr/plan/plan.h"
#include "dr/text/error.h"
#include "dr/walk/cursor.h"
#include "dr/walk/walk.h"

namespace dr {

// Runs the type's plan (see plan_run.h) when the image has plans and one serves `version`:
// true with *end set when it took the record.
template <bool kToNet>
bool run_plan(const DrMeta *meta, char *host, int64_t host_len, char *net, int64_t net_len, int32_t version,
              bool sizing, bool explain, PlanEnd *end) {
    const plan::Store *store = plan::store_of(lib_of(meta));
    if (store == nullptr) return false;
    const int32_t row = store->row(meta->self_off);
    const plan::Plan *p = row < 0 ? nullptr : store->plan(row, version);
    if (p == nullptr) return false;
    if constexpr (kToNet) {
        if (sizing) return PlanRun<true, false>(*store, host, host_len, nullptr, net_len, version, explain).run(p, end);
        return PlanRun<true>(*store, host, host_len, net, net_len, version, explain).run(p, end);
    } else {
        return PlanRun<false>(*store, host, host_len, net, net_len, version, explain).run(p, end);
    }
}

// Runs a codec walker (constructed from the host and network buffers) over the record, or,
// with kPlan, the type's plan when one takes the record: the result is the same either way,
// bytes, lengths and error included.
// Both lengths are set on every return; a refused version writes nothing. The cursor can
// pass the end of the network buffer only by an inline length field reserved there, which
// leaves the record incomplete: that is a failure even when the walk itself completed.
// With `sizing`, a null network pointer asks the encoder to count: nothing is written and
// the capacity is as large as a buffer length can say. `extra` arguments go to the walker's
// constructor after the buffers.
template <class Walker, bool kPlan = true, class... Extra>
[[nodiscard]] int run_codec(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, DrError *err,
                            bool sizing, Extra... extra) {
    if (meta == nullptr || net == nullptr || host == nullptr) return set_error(err, DR_E_ARGUMENT);
    const int32_t v = effective_version(version);
    const int64_t host_len = usable_length(host);
    sizing = sizing && net->data == nullptr;
    const int64_t net_len = sizing ? INT32_MAX : usable_length(net);
    if (meta->version > v) {
        net->len = host->len = 0;
        return set_error(err, DR_E_VERSION, nullptr, 0, 0);
    }
    if (kPlan && host->data != nullptr && (sizing || net->data != nullptr)) {
        PlanEnd end;
        if (run_plan<Walker::kEncodes>(meta, host->data, host_len, net->data, net_len, v, sizing, err != nullptr,
                                       &end)) {
            const int64_t reported = Walker::kEncodes && sizing ? std::max(end.need, end.cursor) : end.cursor;
            net->len = as_buffer_len(reported);
            host->len = as_buffer_len(end.host_cursor);
            return set_error(err, DR_OK, nullptr, Walker::kEncodes ? reported : std::max(end.need, end.cursor),
                             host->len);
        }
    }
    Walker w(host->data, host_len, net->data, net_len, extra...);
    // The step budget allows for the network bytes; a sizing walk has no buffer to bound
    // them and allows for as many as the host record holds.
    const WalkEnd end = walk(w, meta, host->data, host_len, v, sizing ? host_len : net_len);
    net->len = as_buffer_len(w.reported_cursor());
    host->len = as_buffer_len(end.host_cursor);
    const DrErrorCode code = !end.ok ? end.code : w.cursor() <= net_len ? DR_OK : DR_E_NET_END;
    return set_error(err, code, err ? w.explain(code) : nullptr,
                     code == DR_OK ? w.success_offset() : w.fault_offset(), host->len);
}

}  // namespace dr
