// sink.h: the one writer of text pieces, to an open stream or into a bounded buffer; the
// record renderers and the typelib descriptions both write through it.
#pragma once

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "dr/platform/staged_file.h"

namespace dr {

// Text goes out in pieces. A stream takes every piece whole. A buffer takes a piece of n
// bytes only when 0 < n < room (its NUL must fit too); otherwise as much of it as fits is
// written, the room drops to 0 and the text counts as cut, so every later piece writes
// nothing. A buffer sink never touches a byte at or past pos + room: whoever owns the
// buffer keeps the terminator there.
class Sink {
public:
    explicit Sink(std::FILE *fp) : fp_(fp) {}
    Sink(char *pos, int room) : pos_(pos), start_(pos), room_(room > 0 ? room : 0), given_(room_) {}

    bool is_buffer() const { return fp_ == nullptr; }

    // Writes the concatenation of `parts` as one piece.
    void piece(std::initializer_list<std::string_view> parts);
    // One piece of one part; a buffer with room for it takes it without the general path.
    void piece(std::string_view text) {
        if (fp_ == nullptr && !text.empty() && text.size() < static_cast<size_t>(room_)) {
            std::memcpy(pos_, text.data(), text.size());
            pos_ += text.size();
            *pos_ = '\0';
            room_ -= static_cast<int>(text.size());
            return;
        }
        piece({text});
    }

    // Runs write(Sink &) for pieces that together count as one piece: in a buffer they are
    // written within the current room and the room they used is then kept or cut as a whole.
    template <class Write>
    void group(Write &&write) {
        if (fp_) {
            write(*this);
            return;
        }
        Sink inner(pos_, room_);
        write(inner);
        settle(inner.used());
    }

    // Room given minus room left: all of it once cut, 0 when nothing was written.
    int used() const { return given_ - room_; }
    // Bytes of the pieces kept, whether or not the text was cut after them.
    int accepted() const { return static_cast<int>(pos_ - start_); }
    bool cut() const { return cut_; }
    // Counts the text as cut without writing (a value that has no format in a buffer).
    void mark_cut() { cut_ = true; }

private:
    // Keeps n bytes just written at pos_ when 0 < n < room, else marks the text cut.
    void settle(size_t n);

    std::FILE *fp_ = nullptr;
    char *pos_ = nullptr;
    char *start_ = nullptr;
    int room_ = 0;
    int given_ = 0;
    bool cut_ = false;
};

// Writes `path` as text through write(FILE *), whole or not at all (staged_file.h): -1 when
// the file cannot be created, write fails, or a write or the close fails.
template <class Write>
int write_text_file(const char *path, Write &&write) {
    return write_whole_file(path, true, write);
}

}  // namespace dr
