// decode.cc: network form to host form over the member walk.
#include "dr/codec/buffers.h"
#include "dr/codec/byte_order.h"
#include "dr/codec/net_frames.h"
#include "dr/walk/walk.h"

namespace dr {
namespace {

class Decoder : public NetWalker<false> {
public:
    static constexpr bool kRestFromCountInUse = true;
    static constexpr bool kCanSize = false;
    using NetWalker::NetWalker;

    // Bytes consumed; after a length that points past the end, the offset it points to.
    int64_t reported_cursor() const { return cursor_; }

    [[nodiscard]] DrErrorCode string(const DrEntry &, int64_t at, int64_t capacity) {
        if (!fits(cursor_, 5)) return DR_E_NET_END;
        const int64_t length = static_cast<int32_t>(get_be32(net_ + cursor_));
        if (length < 1) return DR_E_STRING;
        if (!fits(cursor_, 4 + length)) return DR_E_NET_END;
        if (length > capacity) return DR_E_STRING;
        if (at < 0 || at > host_len_ || length > host_len_ - at) return DR_E_HOST_END;
        if (net_[cursor_ + 4 + length - 1] != 0) return DR_E_STRING;
        const std::optional<int64_t> pos = take(4 + length);
        if (!pos) return DR_E_NET_END;
        std::memcpy(host_ + at, net_ + *pos + 4, static_cast<size_t>(length));
        return DR_OK;
    }

    // Moves the cursor to where the finished element's length says it ends, so that bytes
    // this description does not know are passed over; then places the next element.
    [[nodiscard]] DrErrorCode element_done(DrWalkFrame *frames, int depth) {
        const DrWalkFrame &f = frames[depth - 1];
        if (f.iLenSize == 0) return DR_OK;
        const int32_t width = length_field(f);
        if (width == 0) return DR_E_LENGTH_FIELD;
        const char *field = net_ + f.iLenField;
        const uint32_t length = width == 4 ? get_be32(field)
                              : width == 2 ? get_be16(field)
                                           : static_cast<unsigned char>(*field);
        const bool inside = fits(f.iNetStart, length);
        cursor_ = f.iNetStart + length;
        if (!inside) {
            fault_at_ = f.iLenField;
            return DR_E_LENGTH_FIELD;
        }
        if (f.iRemaining > 0) place_element(frames, depth, &cursor_);
        return DR_OK;
    }
};

}  // namespace
}  // namespace dr

extern "C" int dr_net_to_host_ex(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, DrError *err) {
    return dr::run_codec<dr::Decoder>(meta, host, net, version, err);
}

extern "C" int dr_net_to_host(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version) {
    return dr_net_to_host_ex(meta, host, net, version, nullptr);
}
