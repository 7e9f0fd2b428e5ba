// measure.cc: how long the record at the front of a stream is, or how many bytes it needs.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "dr/codec/net_frames.h"
#include "dr/dr_stream.h"
#include "dr/text/error.h"
#include "dr/walk/walk.h"

namespace dr {
namespace {

// Far above any int32 length, so that sums of lower bounds cannot overflow.
constexpr int64_t kFar = int64_t{1} << 40;

int64_t times(int64_t count, int64_t each) { return each != 0 && count > kFar / each ? kFar : count * each; }

uint32_t read_length(const char *p, int32_t width) {
    return width == 4 ? get_be32(p) : width == 2 ? get_be16(p) : static_cast<unsigned char>(*p);
}

// Lower bounds of the network bytes members and elements take at `version`, from the
// description alone: a counted member may have no elements, an element with a length field
// may say it has no bytes, and a union member whose selector may choose nothing ends its
// element there. A budget of lookups keeps a damaged description cheap; past it the bound is 0.
class MinSize {
public:
    explicit MinSize(int32_t version) : version_(version) {}

    int64_t member(const DrMeta *m, const DrEntry &e, int depth) {
        if (e.version > version_ || --budget_ < 0) return 0;
        const int32_t count = e.refer_size > 0 ? 0 : e.count;
        if (e.type_code == DR_TYPE_STRING) return 5;
        if (e.type_code != DR_TYPE_STRUCT && e.type_code != DR_TYPE_UNION)
            return known_unit(e.unit) && count > 0 ? times(count, e.unit) : 0;
        if (count <= 0 || e.meta_off == -1 || depth >= DR_MAX_DEPTH) return 0;
        const DrMeta *child = child_meta(m, e);
        if (e.type_code == DR_TYPE_UNION && may_choose_nothing(child)) return 0;
        const int64_t inline_field = e.netlen_pos < 0 ? -int64_t{e.netlen_pos} : 0;
        return times(count, inline_field + (e.netlen_size != 0 ? 0 : element(child, e.type_code, depth + 1)));
    }

    // Members [first, count) of a struct element, up to one that may end it.
    int64_t rest(const DrMeta *m, int32_t first, int depth) {
        int64_t sum = 0;
        for (int32_t k = std::max(first, 0); k < m->count && sum < kFar; ++k) {
            const DrEntry &e = m->entries[k];
            if (e.version <= version_ && ends_element(m, e)) break;
            sum += member(m, e, depth);
        }
        return std::min(sum, kFar);
    }

    // One element of `m` taken as a struct (`code` DR_TYPE_STRUCT) or as a union.
    int64_t element(const DrMeta *m, int32_t code, int depth) {
        if (code == DR_TYPE_STRUCT) return rest(m, 0, depth);
        int64_t least = kFar;
        for (int32_t k = 0; k < m->count; ++k)
            if (m->entries[k].version <= version_) least = std::min(least, member(m, m->entries[k], depth));
        return m->count > 0 ? least : 0;
    }

    // Whether a union member of type u may resolve to no member.
    bool may_choose_nothing(const DrMeta *u) const {
        if (u->count <= 0 || u->entries[0].id != -1) return true;
        return std::any_of(u->entries, u->entries + u->count, [&](const DrEntry &e) { return e.version > version_; });
    }

private:
    bool ends_element(const DrMeta *m, const DrEntry &e) {
        return e.type_code == DR_TYPE_UNION && e.meta_off != -1 && may_choose_nothing(child_meta(m, e));
    }

    int32_t version_;
    int64_t budget_ = 4096;
};

// The decoder's walk, which keeps track of what a cut record still needs: the end of the
// piece that did not fit, and what the open frames still hold at least.
class Measurer : public NetWalker<false> {
public:
    static constexpr bool kRestFromCountInUse = true;

    Measurer(const DrMeta *meta, char *host, int64_t host_len, const char *net, int64_t net_len, int32_t version)
        : NetWalker(host, host_len, net, net_len), meta_(meta), version_(version) {}

    // The least number of bytes a record cut where the walk stopped needs.
    int64_t needed() const { return std::max(needed_, net_len_ + 1); }
    // The furthest byte the walk read: a record whose own length ends before it is unsound.
    int64_t furthest() const { return std::max(need_, cursor_); }

    [[nodiscard]] DrErrorCode scalar(const DrEntry &e, int64_t at, int32_t count, int64_t n) {
        if (known_unit(e.unit) && !inside(cursor_, n)) return cut(e, cursor_ + n);
        return NetWalker::scalar(e, at, count, n);
    }

    // The decoder's string rules.
    [[nodiscard]] DrErrorCode string(const DrEntry &e, int64_t at, int64_t capacity) {
        if (!fits(cursor_, 5)) return cut(e, cursor_ + 5);
        const int64_t length = static_cast<int32_t>(get_be32(net_ + cursor_));
        // What no further bytes can mend is judged before what they can.
        if (length < 1 || length > capacity) return DR_E_STRING;
        if (!host_.span(at, length)) return DR_E_HOST_END;
        if (!fits(cursor_, 4 + length)) return cut(e, cursor_ + 4 + length);
        if (net_[cursor_ + 4 + length - 1] != 0) return DR_E_STRING;
        copy_bytes(host_.data + at, net_ + cursor_ + 4, static_cast<size_t>(length));
        cursor_ += 4 + length;
        return DR_OK;
    }

    [[nodiscard]] DrErrorCode push(DrWalkFrame *frames, int depth) {
        frames_ = frames;
        depth_ = depth;
        return NetWalker::push(frames, depth);
    }

    // The decoder's element end: the cursor goes where the element's length says.
    [[nodiscard]] DrErrorCode element_done(DrWalkFrame *frames, int depth) {
        frames_ = frames;
        const DrWalkFrame &f = frames[depth - 1];
        depth_ = f.iRemaining > 0 ? depth : depth - 1;  // the frame is popped after its last element
        if (f.iLenSize == 0) return DR_OK;
        const int32_t width = field_width(f.iLenSize);
        if (!fits(f.iLenField, width)) {
            fault_at_ = f.iLenField;
            needed_ = f.iLenField + width;
            return f.iLenField >= 0 ? DR_E_NET_END : DR_E_LENGTH_FIELD;
        }
        const uint32_t length = read_length(net_ + f.iLenField, width);
        need_ = std::max(need_, cursor_);
        cursor_ = f.iNetStart + length;
        if (!fits(f.iNetStart, length)) {
            fault_at_ = f.iLenField;
            needed_ = cursor_;
            return cursor_ > net_len_ ? DR_E_NET_END : DR_E_LENGTH_PAST;
        }
        if (f.iRemaining > 0) place_element(frames, depth, &cursor_);
        return DR_OK;
    }

    // After a walk that completed with the cursor past the end: an inline length field was
    // reserved there.
    void reserved_past_end() { needed_ = cursor_; }

private:
    // A piece of member e ends at `end`, past the bytes given: the record needs that much, and
    // at least what the members after it and the open frames' further elements take.
    DrErrorCode cut(const DrEntry &e, int64_t end) {
        needed_ = std::max(end, frames_end(e, end));
        return DR_E_NET_END;
    }

    int64_t frames_end(const DrEntry &e, int64_t pos) {
        MinSize min(version_);
        const int depth = frames_ == nullptr ? 1 : depth_;
        const DrMeta *top = frames_ == nullptr ? meta_ : frames_[depth - 1].pMeta;
        if (&e < top->entries || &e >= top->entries + top->count) return pos;  // not where it was thought
        int32_t index = static_cast<int32_t>(&e - top->entries);
        if (frames_ == nullptr) return top->is_struct != 0 ? pos + min.rest(top, index + 1, 1) : pos;
        for (int d = depth - 1; d >= 0; --d) {
            const DrWalkFrame &f = frames_[d];
            if (f.pMeta->is_struct != 0) pos += min.rest(f.pMeta, index + 1, d + 1);
            int64_t each = f.iLenPos < 0 ? -int64_t{f.iLenPos} : 0;
            if (f.iLenSize != 0) {
                // The element ends where its length field says: exactly, once the field is among
                // the bytes given, else somewhere from its start on.
                const int32_t width = field_width(f.iLenSize);
                pos = f.iNetStart + (inside(f.iLenField, width) ? read_length(net_ + f.iLenField, width) : 0);
            } else if (d > 0) {
                each += min.element(f.pMeta, f.pMeta->is_struct != 0 ? DR_TYPE_STRUCT : DR_TYPE_UNION, d + 1);
            }
            pos = std::min(kFar, pos + times(std::max(f.iRemaining - 1, 0), each));
            if (d > 0) index = frames_[d - 1].iIndex;
        }
        return pos;
    }

    const DrMeta *meta_;
    int32_t version_;
    int64_t needed_ = 0;
    DrWalkFrame *frames_ = nullptr;
    int depth_ = 1;
};

// The last member taken at `version` of a struct, when all before it are values of a fixed
// size and it is a single nested element whose length lies at a fixed place among them:
// then the record is that head and the element, as long as the field says.
struct Framed {
    int64_t head = 0;      // network bytes before the element
    int64_t field_at = 0;  // where its length field lies
    int32_t width = 0;
};

bool framed_length(const DrMeta *meta, int32_t version, Framed *out) {
    if (meta->is_struct == 0) return false;
    const DrEntry *last = nullptr;
    int64_t head = 0;
    for (int32_t k = 0; k < meta->count; ++k) {
        const DrEntry &e = meta->entries[k];
        if (e.version > version) continue;
        if (last != nullptr) return false;  // a member after the framed one
        if (e.type_code == DR_TYPE_STRUCT || e.type_code == DR_TYPE_UNION) {
            last = &e;
            continue;
        }
        if (e.type_code == DR_TYPE_STRING || e.refer_size > 0 || !known_unit(e.unit) || e.count < 0) return false;
        head += int64_t{e.unit} * e.count;
    }
    if (last == nullptr || last->netlen_pos < 0 || last->netlen_size == 0 || last->count != 1 ||
        last->refer_size > 0 || last->meta_off == -1)
        return false;
    const DrMeta *child = child_meta(meta, *last);
    if (last->type_code == DR_TYPE_UNION && MinSize(version).may_choose_nothing(child)) return false;
    const int32_t width = field_width(last->netlen_size);
    if (int64_t{last->netlen_pos} + width > head) return false;
    *out = Framed{head, last->netlen_pos, width};
    return true;
}

int finish(int status, int64_t value, int32_t *record_len, DrError *err, int code = DR_OK, const char *text = nullptr,
           int64_t net_at = -1, int64_t host_at = -1) {
    *record_len = as_buffer_len(value);
    (void)set_error(err, code, text, net_at, host_at);
    return status;
}

int measure(const DrMeta *meta, const char *net, int32_t len, int version, char *scratch, int32_t scratch_len,
            int32_t *record_len, DrError *err) {
    int32_t ignored;
    if (record_len == nullptr) record_len = &ignored;
    if (meta == nullptr || len < 0 || (net == nullptr && len > 0))
        return finish(DR_STREAM_BAD, 0, record_len, err, DR_E_ARGUMENT);
    const int32_t v = effective_version(version);
    if (meta->version > v) return finish(DR_STREAM_BAD, 0, record_len, err, DR_E_VERSION, nullptr, 0, 0);

    if (Framed fr; framed_length(meta, v, &fr)) {
        if (len < fr.head) return finish(DR_STREAM_MORE, fr.head, record_len, err);
        const int64_t total = fr.head + read_length(net + fr.field_at, fr.width);
        return finish(total <= len ? DR_STREAM_RECORD : DR_STREAM_MORE, total, record_len, err);
    }

    // The walk fills a zeroed host record, as a decode does: counts and selectors come from it.
    const int64_t host_len = std::max(meta->datasize, 0);
    char local[DR_STREAM_STACK_HOST];
    std::unique_ptr<char[]> heap;
    char *host = scratch;
    if (host == nullptr || scratch_len < host_len) {
        host = local;
        if (host_len > DR_STREAM_STACK_HOST) {
            heap.reset(new (std::nothrow) char[static_cast<size_t>(host_len)]);
            if (!heap) return finish(DR_STREAM_BAD, 0, record_len, err, DR_E_MEMORY);
            host = heap.get();
        }
    }
    std::fill(host, host + host_len, 0);

    Measurer w(meta, host, host_len, net, len, v);
    const WalkEnd end = walk(w, meta, host, host_len, v, len);
    if (end.ok && w.cursor() > len) w.reserved_past_end();
    if (!end.ok && end.code != DR_E_NET_END) {
        return finish(DR_STREAM_BAD, w.fault_offset(), record_len, err, end.code, nullptr, w.fault_offset(),
                      end.host_cursor);
    }
    if (!end.ok || w.cursor() > len) return finish(DR_STREAM_MORE, w.needed(), record_len, err);
    if (w.furthest() > w.cursor()) {
        char text[160];
        std::snprintf(text, sizeof text, "a length field ends the record at network offset %lld, before bytes it read "
                      "up to offset %lld", static_cast<long long>(w.cursor()), static_cast<long long>(w.furthest()));
        return finish(DR_STREAM_BAD, w.cursor(), record_len, err, DR_E_LENGTH_PAST, text, w.cursor(), end.host_cursor);
    }
    return finish(DR_STREAM_RECORD, w.cursor(), record_len, err, DR_OK, nullptr, w.cursor(), end.host_cursor);
}

}  // namespace
}  // namespace dr

extern "C" int dr_measure_record(const DrMeta *meta, const char *net, int32_t len, int version, int32_t *record_len,
                                 DrError *err) {
    return dr::measure(meta, net, len, version, nullptr, 0, record_len, err);
}

extern "C" int dr_stream_reader_init(DrStreamReader *reader, const DrMeta *meta, int version, char *scratch,
                                     int32_t scratch_len) {
    if (reader == nullptr) return -1;
    const bool fits = meta != nullptr && scratch_len >= meta->datasize;
    *reader = DrStreamReader{meta, version, fits ? scratch : nullptr, fits ? scratch_len : 0, 0, 0};
    return meta != nullptr && (scratch == nullptr || fits) ? 0 : -1;
}

extern "C" int dr_stream_reader_measure(DrStreamReader *r, const char *net, int32_t len, int32_t *record_len,
                                        DrError *err) {
    int32_t ignored;
    if (record_len == nullptr) record_len = &ignored;
    if (r == nullptr) return dr::finish(DR_STREAM_BAD, 0, record_len, err, DR_E_ARGUMENT);
    if (len >= 0 && len < r->need) return dr::finish(DR_STREAM_MORE, r->need, record_len, err);
    ++r->walks;
    const int status = dr::measure(r->meta, net, len, r->version, r->scratch, r->scratch_len, record_len, err);
    r->need = status == DR_STREAM_MORE ? *record_len : 0;
    return status;
}
