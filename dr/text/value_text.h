// value_text.h: one rendered piece built from text and numbers with std::to_chars, which
// writes the same bytes as printf's %d, %u, %x and %f (six decimals, exactly rounded,
// "inf", "-inf", "nan", "-nan") without parsing a format for every value.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace dr {

class ValueText {
public:
    // Short literal text; the buffer holds any number with room to spare.
    ValueText &text(std::string_view s) {
        std::memcpy(end_, s.data(), s.size());
        end_ += s.size();
        return *this;
    }
    ValueText &ch(char c) {
        *end_++ = c;
        return *this;
    }
    ValueText &dec(int64_t v) {
        end_ = std::to_chars(end_, buf_ + sizeof buf_, v).ptr;
        return *this;
    }
    ValueText &hex(uint32_t v) {
        end_ = std::to_chars(end_, buf_ + sizeof buf_, v, 16).ptr;
        return *this;
    }
    ValueText &fixed6(double v) {
        end_ = std::to_chars(end_, buf_ + sizeof buf_, v, std::chars_format::fixed, 6).ptr;
        return *this;
    }
    std::string_view view() const { return {buf_, static_cast<size_t>(end_ - buf_)}; }

private:
    char buf_[400];  // the longest %f of a double is 317 characters
    char *end_ = buf_;
};

}  // namespace dr
