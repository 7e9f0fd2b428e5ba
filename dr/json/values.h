// values.h: how one scalar value and one text look in JSON, both ways.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dr/dr.h"

namespace dr::json {

// The JSON kind of a scalar member: its type code's C type when the element width agrees
// with it, else an unsigned integer of the element width (so nothing is lost).
enum class Kind : uint8_t { kI8, kU8, kI16, kU16, kI32, kU32, kI64, kU64, kF32, kF64, kNone };

Kind kind_of(const DrEntry &e);

// The member's base type name for messages ("short", "date").
std::string_view type_name(const DrEntry &e);

// Appends value `p` (host order) of kind k: a number; an 8-byte integer beyond 2^53 as a
// quoted decimal; a float that is not finite as "Infinity", "-Infinity", "NaN", or
// "NaN(0x...)" with its bit pattern when it is not the usual quiet NaN.
void append_value(std::string &out, Kind k, const char *p);

// Reads a JSON number (its text) or string into value `p` of kind k. Returns nullptr on
// success, else what is wrong ("is not an integer", "is out of range").
const char *parse_value(Kind k, bool is_string, std::string_view text, char *p);

// Appends the bytes as a JSON string with its quotes: escapes as JSON requires, UTF-8
// kept, and each byte that is not part of valid UTF-8 written as \udc80 to \udcff.
void append_string(std::string &out, std::string_view bytes);

// Whether a char array's bytes read as text: valid UTF-8 with no control character but
// tab, line feed and carriage return.
bool is_text(std::string_view bytes);

}  // namespace dr::json
