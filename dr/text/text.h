// text.h: bounded views of the image's text fields, decimals and base type rows for the describers.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "dr/typelib/image.h"

namespace dr {

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
