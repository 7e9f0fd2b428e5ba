// member_path.cc: names the member at a host offset by walking entries and nested metas.
#include "dr/describe/member_path.h"

#include "dr/text/text.h"
#include "dr/typelib/image.h"

namespace dr {
namespace {

class PathWalk {
public:
    PathWalk(const DrMeta *top, int32_t entry, Sink &out) : top_(top), entry_(entry), out_(out) {}

    void run(int32_t target) {
        const DrMeta *c = top_;
        int64_t a = 0;  // wide: offsets of a damaged image must not overflow the sum
        // Descend to the member that holds the target: the first whose start is at or past
        // it or whose end passes it, so an offset in a gap names the next member.
        if (target > 0) {
            int32_t b = 0;
            while (c && a < target) {
                if (b >= c->count) break;  // no member holds the target
                const DrEntry &e = c->entries[b];
                if (a + e.off >= target || a + e.off + e.size > target) {
                    name(c, b);
                    a += e.off;
                    c = enter(c, e);
                    b = 0;
                } else {
                    ++b;
                }
            }
        }
        // The target starts a nested record (or is 0): name its first members down to a base type.
        if (!c || a != target) return;
        while (c->count > 0) {
            name(c, 0);
            c = enter(c, c->entries[0]);
            if (!c) return;
        }
    }

private:
    void name(const DrMeta *c, int32_t b) {
        const std::string_view text = c == top_ && depth_ == 1 && b == entry_ ? "this" : field_text(c->entries[b].name);
        if (first_)
            out_.piece({text});
        else
            out_.piece({".", text});
        first_ = false;
    }

    // The meta of a nested member, or null at a base type member. A path follows at most
    // DR_MAX_DEPTH records, the nesting limit of the member walk, so a damaged image whose
    // metas refer to each other in a ring still ends.
    const DrMeta *enter(const DrMeta *c, const DrEntry &e) {
        if (e.meta_off == -1 || depth_ >= DR_MAX_DEPTH) return nullptr;
        ++depth_;
        return child_meta(c, e);
    }

    const DrMeta *top_;
    int32_t entry_;
    Sink &out_;
    int depth_ = 1;
    bool first_ = true;
};

}  // namespace

void write_member_path(const DrMeta *meta, int32_t entry, int32_t offset, Sink &out) {
    if (meta) PathWalk(meta, entry, out).run(offset);
}

}  // namespace dr

extern "C" int dr_print_member_path(const DrMeta *meta, int entry, int offset, FILE *fp) {
    if (!fp) return 0;
    dr::Sink out(fp);
    dr::write_member_path(meta, entry, offset, out);
    return 0;
}

// Writes within [pos, pos + room) only; a path that fills its room exactly is written without
// a terminator there, like any cut piece, so the caller keeps one after the room.
extern "C" int dr_sprint_member_path(const DrMeta *meta, int entry, int offset, char *pos, int room) {
    if (!pos || room <= 0) return 0;
    dr::Sink out(pos, room);
    dr::write_member_path(meta, entry, offset, out);
    return out.used();
}
