// render_walk.h: what the text and XML renderers share: the value formats and the walker
// they plug into the member walk.
#pragma once

#include <string_view>

#include "dr/codec/walk.h"
#include "dr/render/sink.h"
#include "dr/render/value_text.h"

namespace dr {

// Bytes read for one value of each type code; 0 for the codes that have no format.
inline int32_t value_width(int32_t type_code) {
    switch (type_code) {
    case 2: case 3: return 1;
    case 4: case 5: return 2;
    case 6: case 7: case 8: case 9: case 16: return 4;
    case 17: return 8;
    default: return 0;
    }
}

enum class Style { kText, kXml };

// Writes value k of a scalar member at `p` in the text or XML form. Type codes without a
// format write nothing and, in a buffer, count as an overflow.
inline void write_value(Sink &out, Style style, int32_t type_code, const char *p) {
    const bool xml = style == Style::kXml;
    auto load = [p](auto v) {
        std::memcpy(&v, p, sizeof v);
        return v;
    };
    ValueText t;
    if (xml) t.ch(' ');
    switch (type_code) {
    case 2:
    case 3: {
        const unsigned b = static_cast<unsigned char>(*p);
        const bool shown = b >= 33 && b <= 126;
        if (type_code == 2)
            t.dec(b);
        else if (xml || out.is_buffer())
            t.text("0x").hex(b);
        else
            t.hex(b);
        if (shown && !xml) t.ch('[').ch(static_cast<char>(b)).ch(']');
        break;
    }
    case 4: t.dec(load(int16_t{})); break;
    case 5: t.dec(load(uint16_t{})); break;
    case 6: case 8: t.dec(load(int32_t{})); break;
    case 7: case 9: t.dec(load(uint32_t{})); break;
    case 16: t.fixed6(static_cast<double>(load(float{}))); break;
    case 17: t.fixed6(load(double{})); break;
    default:
        if (out.is_buffer()) out.mark_cut();
        return;
    }
    out.piece(t.ch(' ').view());
}

// The renderers' part of the member walk; the text and XML forms differ only in the
// pieces written around members and nested elements.
class RenderWalker {
public:
    RenderWalker(Sink &out, Style style, const char *host, int64_t host_len)
        : out_(out), style_(style), host_(host), host_len_(host_len) {}

    bool skip(const DrEntry &e) const { return style_ == Style::kXml && (e.io & 2) != 0; }

    bool scalar(const DrEntry &e, int64_t at, int32_t count, int64_t) {
        // Each value is read `unit` bytes after the last; all of each must lie in the host.
        const int32_t width = value_width(e.type_code);
        if (count > 0 && width > 0 && int64_t{count - 1} * e.unit + width > host_len_ - at) return false;
        const std::string_view name = field_text(e.name);
        if (style_ == Style::kXml) {
            out_.piece({"<", name, ">"});
        } else if (count >= 2) {
            ValueText n;
            out_.piece({" ", name, n.ch('[').dec(count).text("]=").view()});
        } else {
            out_.piece({" ", name, "="});
        }
        for (int32_t k = 0; k < count; ++k) write_value(out_, style_, e.type_code, host_ + at + int64_t{k} * e.unit);
        if (style_ == Style::kXml) out_.piece({"</", name, ">\n"});
        return true;
    }

    bool string(const DrEntry &e, int64_t at, int64_t capacity) {
        const int64_t len = string_length(host_, host_len_, at, capacity);
        if (len < 0) return false;
        const std::string_view name = field_text(e.name);
        const std::string_view text(host_ + at, static_cast<size_t>(len));
        if (style_ == Style::kXml) {
            out_.piece({"<", name, ">", text, "</", name, ">\n"});
        } else {
            out_.piece({" ", name, "=\"", text, "\""});
        }
        return true;
    }

    bool push(DrWalkFrame *frames, int depth) {
        open(frames[depth - 1].pMeta);
        return true;
    }

    // In XML each element of a nested struct lies between its own closing and opening pieces.
    bool element_done(DrWalkFrame *frames, int depth) {
        const DrWalkFrame &f = frames[depth - 1];
        if (style_ != Style::kXml || depth == 1 || f.pMeta->is_struct != 1) return true;
        const std::string_view name = field_text(f.pMeta->name);
        out_.piece({"</", name, ">\n"});
        if (f.iRemaining > 0) open(f.pMeta);
        return true;
    }

private:
    void open(const DrMeta *meta) {
        if (style_ == Style::kXml && meta->is_struct == 1) out_.piece({"\n<", field_text(meta->name), ">\n"});
    }

    Sink &out_;
    Style style_;
    const char *host_;
    int64_t host_len_;
};

}  // namespace dr
