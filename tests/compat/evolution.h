// evolution.h: one random change to a random description, of a chosen kind, and the record
// comparisons that tell whether two typelibs treat the same records alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dr/dr_compat.h"
#include "tests/support/image_builder.h"

namespace drtest {

enum class Change {
    kWiden,           // a scalar member takes a wider base type
    kMove,            // two neighbouring members change places
    kReuseId,         // a union id is given to a member of another type
    kBound,           // an array's count, bound or string capacity changes
    kAddUnversioned,  // a member added at a version OLD already knows
    kAddNewer,        // safe: a member added with a version above OLD's newest
    kHostLayout,      // safe: host offsets and sizes change, the wire does not
};
inline constexpr Change kChanges[] = {Change::kWiden,          Change::kMove,     Change::kReuseId, Change::kBound,
                                      Change::kAddUnversioned, Change::kAddNewer, Change::kHostLayout};
const char *change_name(Change c);
bool is_safe(Change c);
// The finding a change of this kind must raise (for a break).
DrCompatKind expected_kind(Change c);

struct Evolution {
    bool applied = false;  // false when the description has nothing this change applies to
    Lib lib;               // the new description
    std::string meta, member;  // the record type and member changed
};

// Applies one change of kind c to `old` (whose built image is old_img) at random.
Evolution evolve(const Lib &old, const Image &old_img, Change c, uint32_t seed);

// The highest version a library names, at least 1: the newest version its peers speak.
int32_t newest_version(const Lib &lib);

// How two record types differ on one record of `from`'s host form at `version`: "" when
// they agree (same network bytes, and the bytes read back to the same JSON by both), else
// what differed. A record that `from` itself cannot encode gives "skip".
std::string differ_on(const DrMeta *from, const DrMeta *to, const std::vector<char> &host, int version,
                      std::string *json_out = nullptr);

}  // namespace drtest
