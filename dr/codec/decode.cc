// decode.cc: network form to host form over the member walk.
#include "dr/codec/buffers.h"
#include "dr/codec/byte_order.h"
#include "dr/codec/decode_trace.h"
#include "dr/codec/net_frames.h"
#include "dr/codec/walk.h"

namespace dr {
namespace {

class Decoder : public NetWalker {
public:
    Decoder(char *host, int64_t host_len, const char *net, int64_t net_len, DecodeTrace *trace = nullptr)
        : NetWalker(net_len), host_(host), host_len_(host_len), net_(net), trace_(trace) {}

    // Bytes consumed; after a length that points past the end, the offset it points to.
    int64_t reported_cursor() const { return cursor_; }

    bool scalar(const DrEntry &e, int64_t at, int32_t count, int64_t n) {
        if (cursor_ > net_len_ || n > net_len_ - cursor_) return false;
        if (!copy_elements(host_ + at, net_ + cursor_, e.unit, count)) return false;
        cursor_ += n;
        read_to(cursor_);
        return true;
    }

    bool string(const DrEntry &, int64_t at, int64_t capacity) {
        if (cursor_ > net_len_ || net_len_ - cursor_ < 5) return false;
        const int64_t length = static_cast<int32_t>(get_be32(net_ + cursor_));
        if (length < 1 || length > net_len_ - cursor_ - 4) return false;
        if (length > capacity || at < 0 || at > host_len_ || length > host_len_ - at) return false;
        if (net_[cursor_ + 4 + length - 1] != 0) return false;
        std::memcpy(host_ + at, net_ + cursor_ + 4, static_cast<size_t>(length));
        cursor_ += 4 + length;
        read_to(cursor_);
        return true;
    }

    // Moves the cursor to where the finished element's length says it ends, so that bytes
    // this description does not know are passed over; then places the next element.
    bool element_done(DrWalkFrame *frames, int depth) {
        const DrWalkFrame &f = frames[depth - 1];
        if (f.iLenSize == 0) return true;
        const int32_t width = length_field(f);
        if (width == 0) return false;
        const char *field = net_ + f.pLenField;
        const uint32_t length = width == 4 ? get_be32(field)
                              : width == 2 ? get_be16(field)
                                           : static_cast<unsigned char>(*field);
        read_to(f.pLenField + width);
        if (trace_ && (cursor_ != f.pNetStart + length) && (!trace_->length_note || f.pNetStart + length > net_len_))
            note_length(frames, depth, width, length);
        cursor_ = f.pNetStart + length;
        if (cursor_ > net_len_) return false;
        if (f.iRemaining > 0) place_element(frames, depth, &cursor_);
        return true;
    }

private:
    void read_to(int64_t end) {
        if (trace_ && end > trace_->furthest) trace_->furthest = end;
    }

    // The element of frames[depth-1] ends here; its length field says otherwise.
    void note_length(const DrWalkFrame *frames, int depth, int32_t width, uint32_t length) {
        const DrWalkFrame &f = frames[depth - 1], &parent = frames[depth - 2];
        *trace_ = DecodeTrace{trace_->furthest, true, parent.pMeta, &parent.pMeta->entries[parent.iIndex],
                              f.pLenField, width, f.pNetStart, length, cursor_ - f.pNetStart};
    }

    char *host_;
    int64_t host_len_;
    const char *net_;
    DecodeTrace *trace_;
};

}  // namespace
}  // namespace dr

namespace dr {

int net_to_host_traced(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, DecodeTrace *trace) {
    return run_codec<Decoder>(meta, host, net, version,
                              {.check_declared_count = true, .string_capacity_from_count_in_use = true}, trace);
}

}  // namespace dr

extern "C" int dr_net_to_host(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version) {
    return dr::net_to_host_traced(meta, host, net, version, nullptr);
}
