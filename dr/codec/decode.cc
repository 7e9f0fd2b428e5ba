// decode.cc: network form to host form over the member walk.
#include <cstdio>

#include "dr/codec/buffers.h"
#include "dr/codec/byte_order.h"
#include "dr/codec/codec.h"
#include "dr/codec/net_frames.h"
#include "dr/walk/walk.h"

namespace dr {
namespace {

class Decoder : public NetWalker<false> {
public:
    static constexpr bool kRestFromCountInUse = true;

    // With `explain`, the decoder also keeps the first element whose length field disagreed
    // with the bytes its members took, for the caller's DrError.
    Decoder(char *host, int64_t host_len, const char *net, int64_t net_len, bool explain)
        : NetWalker(host, host_len, net, net_len), explain_(explain) {}

    // Bytes consumed; after a length that points past the end, the offset it points to.
    int64_t reported_cursor() const { return cursor_; }
    // On success: the end of the furthest byte read, past the cursor when a length field
    // moved it back.
    int64_t success_offset() const { return std::max(need_, cursor_); }

    [[nodiscard]] DrErrorCode string(const DrEntry &, int64_t at, int64_t capacity) {
        if (!fits(cursor_, 5)) return DR_E_NET_END;
        const int64_t length = static_cast<int32_t>(get_be32(net_ + cursor_));
        if (length < 1) return DR_E_STRING;
        if (!fits(cursor_, 4 + length)) return DR_E_NET_END;
        if (length > capacity) return DR_E_STRING;
        if (!host_.span(at, length)) return DR_E_HOST_END;
        if (net_[cursor_ + 4 + length - 1] != 0) return DR_E_STRING;
        const std::optional<int64_t> pos = take(4 + length);
        if (!pos) return DR_E_NET_END;
        copy_bytes(host_.data + at, net_ + *pos + 4, static_cast<size_t>(length));
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
        if (explain_ && cursor_ != f.iNetStart + length && (!note_.member || !inside))
            note_ = Note{frames[depth - 2].pMeta, &frames[depth - 2].pMeta->entries[frames[depth - 2].iIndex],
                         f.iLenField, width, f.iNetStart, length, cursor_ - f.iNetStart};
        need_ = std::max(need_, cursor_);  // the furthest byte read, before the cursor moves back
        cursor_ = f.iNetStart + length;
        if (!inside) {
            fault_at_ = f.iLenField;
            return DR_E_LENGTH_PAST;
        }
        if (f.iRemaining > 0) place_element(frames, depth, &cursor_);
        return DR_OK;
    }

    // The text for the caller's DrError: what a length field did, or null for the code's text.
    const char *explain(DrErrorCode code) {
        if (!note_.member) return nullptr;
        const std::string_view record = field_text(note_.record->name), member = field_text(note_.member->name);
        char field[160];
        std::snprintf(field, sizeof field, "%d-byte length field of %.*s.%.*s at network offset %lld", note_.width,
                      static_cast<int>(record.size()), record.data(), static_cast<int>(member.size()), member.data(),
                      static_cast<long long>(note_.field_at));
        const long long announced = note_.announced, took = note_.took, end = note_.element_at + note_.announced;
        if (code == DR_E_LENGTH_PAST && end > net_len_)
            std::snprintf(text_, sizeof text_, "the %s announces %lld bytes from offset %lld, past the end of the "
                          "%lld-byte input", field, announced, static_cast<long long>(note_.element_at),
                          static_cast<long long>(net_len_));
        else if (code != DR_OK)
            return nullptr;
        else if (announced > took)
            std::snprintf(text_, sizeof text_, "the %s announces %lld bytes, more than the %lld its members took: "
                          "the %lld bytes after them were passed over", field, announced, took, announced - took);
        else
            std::snprintf(text_, sizeof text_, "the %s announces %lld bytes, fewer than the %lld its members took: "
                          "decoding went back to offset %lld, where the length says the element ends",
                          field, announced, took, end);
        return text_;
    }

private:
    // The first element whose length field disagreed with its members; one whose length
    // points past the end of the input replaces it.
    struct Note {
        const DrMeta *record = nullptr;   // the record type that holds the nested member
        const DrEntry *member = nullptr;  // the nested member whose element it is
        int64_t field_at = 0;             // network offset of the length field
        int32_t width = 0;
        int64_t element_at = 0;           // network offset where the element's own bytes begin
        int64_t announced = 0;            // the length the field holds
        int64_t took = 0;                 // the bytes the element's members took
    };

    bool explain_;
    Note note_;
    char text_[400];  // cut to the DrError's text when it is set
};

}  // namespace

int net_to_host_by_walk(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, DrError *err) {
    return run_codec<Decoder, false>(meta, host, net, version, err, false, err != nullptr);
}

}  // namespace dr

extern "C" int dr_net_to_host_ex(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, DrError *err) {
    return dr::run_codec<dr::Decoder>(meta, host, net, version, err, false, err != nullptr);
}

extern "C" int dr_net_to_host(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version) {
    return dr_net_to_host_ex(meta, host, net, version, nullptr);
}
