// render_walk.h: what the text and XML renderers share: the value formats and the walker
// they plug into the member walk.
#pragma once

#include <string_view>

#include "dr/text/value_text.h"
#include "dr/text/sink.h"
#include "dr/walk/walk.h"

namespace dr {

// Bytes read for one value of each type code; 0 for the codes that have no format.
inline int32_t value_width(int32_t type_code) {
    const TypeTraits t = type_traits(type_code);
    return t.rendered ? t.width : 0;
}

enum class Style { kText, kXml };

// Writes one value of a scalar member, read at `p`, in the text or XML form. Type codes without a
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
    case DR_TYPE_CHAR:
    case DR_TYPE_UCHAR: {
        const unsigned b = static_cast<unsigned char>(*p);
        const bool shown = b >= 33 && b <= 126;
        if (type_code == DR_TYPE_CHAR)
            t.dec(b);
        else if (xml || out.is_buffer())
            t.text("0x").hex(b);
        else
            t.hex(b);
        if (shown && !xml) t.ch('[').ch(static_cast<char>(b)).ch(']');
        break;
    }
    case DR_TYPE_SHORT: t.dec(load(int16_t{})); break;
    case DR_TYPE_USHORT: t.dec(load(uint16_t{})); break;
    case DR_TYPE_INT: case DR_TYPE_LONG: t.dec(load(int32_t{})); break;
    case DR_TYPE_UINT: case DR_TYPE_ULONG: t.dec(load(uint32_t{})); break;
    case DR_TYPE_FLOAT: t.fixed6(static_cast<double>(load(float{}))); break;
    case DR_TYPE_DOUBLE: t.fixed6(load(double{})); break;
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
    static constexpr bool kCheckDeclaredCount = false;
    static constexpr bool kRestFromCountInUse = false;

    RenderWalker(Sink &out, Style style, const char *host, int64_t host_len)
        : out_(out), style_(style), host_{host, host_len} {}

    bool skip(const DrEntry &e) const { return style_ == Style::kXml && (e.io & DR_IO_NO_XML) != 0; }

    [[nodiscard]] DrErrorCode scalar(const DrEntry &e, int64_t at, int32_t count, int64_t) {
        // Each value is read `unit` bytes after the last; all of each must lie in the host.
        const int32_t width = value_width(e.type_code);
        if (count > 0 && width > 0 && !host_.span(at, int64_t{count - 1} * e.unit + width)) return DR_E_HOST_END;
        const std::string_view name = field_text(e.name);
        if (style_ == Style::kXml) {
            out_.piece({"<", name, ">"});
        } else if (count >= 2) {
            ValueText n;
            out_.piece({" ", name, n.ch('[').dec(count).text("]=").view()});
        } else {
            out_.piece({" ", name, "="});
        }
        for (int32_t k = 0; k < count; ++k)
            write_value(out_, style_, e.type_code, host_.data + at + int64_t{k} * e.unit);
        if (style_ == Style::kXml) out_.piece({"</", name, ">\n"});
        return DR_OK;
    }

    [[nodiscard]] DrErrorCode string(const DrEntry &e, int64_t at, int64_t capacity) {
        const int64_t len = string_length(host_, at, capacity);
        if (len < 0) return DR_E_STRING;
        const std::string_view name = field_text(e.name);
        const std::string_view text(host_.data + at, static_cast<size_t>(len));
        if (style_ == Style::kXml) {
            out_.piece({"<", name, ">", text, "</", name, ">\n"});
        } else {
            out_.piece({" ", name, "=\"", text, "\""});
        }
        return DR_OK;
    }

    [[nodiscard]] DrErrorCode push(DrWalkFrame *frames, int depth) {
        open(frames[depth - 1].pMeta);
        return DR_OK;
    }

    // In XML each element of a nested struct lies between its own closing and opening pieces.
    [[nodiscard]] DrErrorCode element_done(DrWalkFrame *frames, int depth) {
        const DrWalkFrame &f = frames[depth - 1];
        if (style_ != Style::kXml || depth == 1 || f.pMeta->is_struct == 0) return DR_OK;
        const std::string_view name = field_text(f.pMeta->name);
        out_.piece({"</", name, ">\n"});
        if (f.iRemaining > 0) open(f.pMeta);
        return DR_OK;
    }

private:
    // Any nonzero is_struct is a struct, as for the walk and the codec.
    void open(const DrMeta *meta) {
        if (style_ == Style::kXml && meta->is_struct != 0) out_.piece({"\n<", field_text(meta->name), ">\n"});
    }

    Sink &out_;
    Style style_;
    Host<const char> host_;
};

}  // namespace dr
