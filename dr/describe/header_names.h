// header_names.h: the names a generated header gives members, for the header writer and for
// the compiler, which refuses a typelib whose header could not declare them.
#pragma once

#include <string>
#include <string_view>

#include "dr/dr.h"

namespace dr {

// The member's name as a generated header declares it without a member prefix: the name
// prefix of its base type row (or "st" for a single record), then its name, the first letter
// upper-cased after a prefix and lower-cased without one.
std::string header_member_name(const DrEntry &e);

// True for letters, digits and '_' not starting with a digit.
bool is_c_identifier(std::string_view s);

// True for a word that C or C++ reserves, which a header cannot use as a member name.
bool is_c_keyword(const std::string &word);

}  // namespace dr
