// encode.cc: host form to network form over the member walk.
#include "dr/codec/buffers.h"
#include "dr/codec/byte_order.h"
#include "dr/codec/net_frames.h"
#include "dr/walk/walk.h"

namespace dr {
namespace {

class Encoder : public NetWalker {
public:
    Encoder(const char *host, int64_t host_len, char *net, int64_t capacity)
        : NetWalker(capacity), host_(host), host_len_(host_len), net_(net) {}

    // Bytes written: a reservation past the end was never written.
    int64_t reported_cursor() const { return std::min(cursor_, net_len_); }

    bool scalar(const DrEntry &e, int64_t at, int32_t count, int64_t n) {
        if (cursor_ > net_len_ || n > net_len_ - cursor_) return false;
        if (!copy_elements(net_ + cursor_, host_ + at, e.unit, count)) return false;
        cursor_ += n;
        return true;
    }

    bool string(const DrEntry &, int64_t at, int64_t capacity) {
        const int64_t chars = string_length(host_, host_len_, at, capacity);
        if (chars < 0) return false;
        if (cursor_ > net_len_ || 5 + chars > net_len_ - cursor_) return false;
        put_be32(net_ + cursor_, static_cast<uint32_t>(chars + 1));
        std::memcpy(net_ + cursor_ + 4, host_ + at, static_cast<size_t>(chars + 1));
        cursor_ += 5 + chars;
        return true;
    }

    // Writes the finished element's length into its field, then places the next element.
    bool element_done(DrWalkFrame *frames, int depth) {
        const DrWalkFrame &f = frames[depth - 1];
        if (f.iLenSize == 0) return true;
        const int32_t width = length_field(f);
        if (cursor_ > net_len_ || width == 0) return false;
        const auto length = static_cast<uint32_t>(cursor_ - f.pNetStart);
        char *field = net_ + f.pLenField;
        if (width == 4)
            put_be32(field, length);
        else if (width == 2)
            put_be16(field, static_cast<uint16_t>(length));
        else
            *field = static_cast<char>(length);
        if (f.iRemaining > 0) place_element(frames, depth, &cursor_);
        return true;
    }

private:
    const char *host_;
    int64_t host_len_;
    char *net_;
};

}  // namespace
}  // namespace dr

extern "C" int dr_host_to_net(const DrMeta *meta, DrBuffer *net, DrBuffer *host, int version) {
    return dr::run_codec<dr::Encoder>(meta, host, net, version,
                                      {.check_declared_count = true, .string_capacity_from_count_in_use = false});
}
