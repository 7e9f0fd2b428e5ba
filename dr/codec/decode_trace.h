// decode_trace.h: a decode that also tells what its element length fields did, for tools
// that explain a result to a person.
#pragma once

#include <cstdint>

#include "dr/dr.h"

namespace dr {

struct DecodeTrace {
    int64_t furthest = 0;  // the end of the furthest network bytes read
    // The first element whose length field disagreed with the bytes its members took; an
    // element whose length field points past the end of the input replaces it.
    bool length_note = false;
    const DrMeta *record = nullptr;  // the record type that holds the nested member
    const DrEntry *member = nullptr;  // the nested member whose element it is
    int64_t field_at = 0;             // network offset of the length field
    int32_t width = 0;                // its width in bytes
    int64_t element_at = 0;           // network offset where the element's own bytes begin
    int64_t announced = 0;            // the length the field holds
    int64_t took = 0;                 // the bytes the element's members took
};

// dr_net_to_host, with the same results, filling *trace as well.
int net_to_host_traced(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, DecodeTrace *trace);

}  // namespace dr
