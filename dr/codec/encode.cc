// encode.cc: host form to network form over the member walk.
#include "dr/codec/buffers.h"
#include "dr/codec/byte_order.h"
#include "dr/codec/codec.h"
#include "dr/codec/net_frames.h"
#include "dr/walk/walk.h"

namespace dr {
namespace {

class Encoder : public NetWalker<true> {
public:
    static constexpr bool kRestFromCountInUse = false;
    using NetWalker::NetWalker;

    // Bytes written (a reservation past the end was never written); when sizing, the
    // capacity the encoding needs.
    int64_t reported_cursor() const { return net_ ? std::min(cursor_, net_len_) : std::max(need_, cursor_); }
    int64_t success_offset() const { return reported_cursor(); }
    const char *explain(DrErrorCode) const { return nullptr; }

    [[nodiscard]] DrErrorCode string(const DrEntry &, int64_t at, int64_t capacity) {
        const int64_t chars = string_length(host_, at, capacity);
        if (chars < 0) return DR_E_STRING;
        const std::optional<int64_t> pos = take(5 + chars);
        if (!pos) return DR_E_NET_END;
        if (net_ == nullptr) return DR_OK;
        put_be32(net_ + *pos, static_cast<uint32_t>(chars + 1));
        copy_bytes(net_ + *pos + 4, host_.data + at, static_cast<size_t>(chars + 1));
        return DR_OK;
    }

    // Writes the finished element's length into its field, then places the next element.
    [[nodiscard]] DrErrorCode element_done(DrWalkFrame *frames, int depth) {
        const DrWalkFrame &f = frames[depth - 1];
        if (f.iLenSize == 0) return DR_OK;
        if (!fits(cursor_, 0)) return DR_E_NET_END;  // an inline field reserved past the end
        const int32_t width = length_field(f);
        if (width == 0) return DR_E_LENGTH_FIELD;
        const auto length = static_cast<uint32_t>(cursor_ - f.iNetStart);
        if (char *field = net_ ? net_ + f.iLenField : nullptr) {
            if (width == 4)
                put_be32(field, length);
            else if (width == 2)
                put_be16(field, static_cast<uint16_t>(length));
            else
                *field = static_cast<char>(length);
        }
        if (f.iRemaining > 0) place_element(frames, depth, &cursor_);
        return DR_OK;
    }
};

}  // namespace

int host_to_net_by_walk(const DrMeta *meta, DrBuffer *net, DrBuffer *host, int version, DrError *err) {
    return run_codec<Encoder, false>(meta, host, net, version, err, true);
}

}  // namespace dr

extern "C" int dr_host_to_net_ex(const DrMeta *meta, DrBuffer *net, DrBuffer *host, int version, DrError *err) {
    return dr::run_codec<dr::Encoder>(meta, host, net, version, err, true);
}

// A null network pointer is an empty buffer here, as it always was; only the _ex call sizes.
extern "C" int dr_host_to_net(const DrMeta *meta, DrBuffer *net, DrBuffer *host, int version) {
    return dr::run_codec<dr::Encoder>(meta, host, net, version, nullptr, false);
}
