// text.h: bounded views of the image's text fields, decimals and base type rows for the describers.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "dr/typelib/image.h"

namespace dr {

// The text of a fixed-size name or description field up to its NUL, never past the field,
// so a field that lacks its NUL cannot lead a reader out of the record.
template <size_t N>
std::string_view field_text(const char (&field)[N]) {
    const void *nul = std::memchr(field, 0, N);
    return {field, nul ? static_cast<size_t>(static_cast<const char *>(nul) - field) : N};
}

// A signed 32-bit value as decimal text, held in place.
class Decimal {
public:
    explicit Decimal(int32_t value) : len_(std::to_chars(buf_, buf_ + sizeof buf_, value).ptr - buf_) {}
    std::string_view view() const { return {buf_, len_}; }

private:
    char buf_[12];  // "-2147483648" and room to spare
    size_t len_;
};

// The base type row that a stored row number names, or null when the number lies outside
// the table: descriptions then have no row to take a name, C type or prefix from.
inline const DrBaseType *base_row(int32_t row) {
    return row >= 0 && row < kBaseTypeCount ? dr_type_at(row) : nullptr;
}

}  // namespace dr
