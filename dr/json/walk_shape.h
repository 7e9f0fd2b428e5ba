// walk_shape.h: what the JSON writer and reader agree on about the member walk: which
// members are arrays, which member opened a frame, and the codec's rules for both.
#pragma once

#include "dr/walk/walk.h"

namespace dr::json {

// The codec's walk rules, for both JSON walkers: a referred count above a nonzero declared
// count fails, and a string's capacity is the rest of the host record only when its
// declared count is 0. A record the JSON functions accept is thus one that encodes. The
// step budget also allows for the JSON text's bytes (the text read, or the output
// capacity; 0 for a stream).
struct CodecRules {
    static constexpr bool kCheckDeclaredCount = true;
    static constexpr bool kRestFromCountInUse = false;
};

// A member is a JSON array unless it is one value by its description: a declared count of 1
// and no count member. Strings are texts, never arrays.
inline bool is_array(const DrEntry &e) { return e.type_code != DR_TYPE_STRING && (e.count != 1 || e.refer_size > 0); }

// The member that opened the top frame: the parent frame stays on it while the child runs.
inline const DrEntry &opening_entry(const DrWalkFrame *frames, int depth) {
    const DrWalkFrame &parent = frames[depth - 2];
    return parent.pMeta->entries[parent.iIndex];
}

}  // namespace dr::json
