// sink.cc: the stream and bounded-buffer halves of the text writer.
#include "dr/text/sink.h"

#include <cstring>

namespace dr {

void Sink::piece(std::initializer_list<std::string_view> parts) {
    if (fp_) {
        for (std::string_view p : parts)
            if (!p.empty()) std::fwrite(p.data(), 1, p.size(), fp_);
        return;
    }
    size_t n = 0;
    for (std::string_view p : parts) n += p.size();
    const size_t room = static_cast<size_t>(room_);
    if (n > 0 && n < room) {  // the usual case: the whole piece fits
        char *at = pos_;
        for (std::string_view p : parts) {
            std::memcpy(at, p.data(), p.size());
            at += p.size();
        }
        *at = '\0';
        pos_ = at;
        room_ -= static_cast<int>(n);
        return;
    }
    size_t at = 0;
    for (std::string_view p : parts) {
        if (at >= room) break;
        const size_t take = p.size() < room - at ? p.size() : room - at;
        std::memcpy(pos_ + at, p.data(), take);
        at += take;
    }
    if (n < room) pos_[n] = '\0';
    settle(n);
}

void Sink::settle(size_t n) {
    if (n > 0 && n < static_cast<size_t>(room_)) {
        pos_ += n;
        room_ -= static_cast<int>(n);
        return;
    }
    room_ = 0;
    cut_ = true;
}

}  // namespace dr
