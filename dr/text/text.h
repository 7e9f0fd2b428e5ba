// text.h: decimals held in place and ASCII letter case, for everything that writes text.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

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

// ASCII letter case; every other byte stays as it is.
inline char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace dr
