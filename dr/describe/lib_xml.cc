// lib_xml.cc: the XML description of a whole typelib, to a stream, a file or a bounded buffer.
#include <cstring>
#include <string>

#include "dr/describe/member_path.h"
#include "dr/text/sink.h"
#include "dr/text/text.h"
#include "dr/typelib/image.h"

namespace dr {
namespace {

// The buffer variant writes a version on type elements and compares an item's version with
// its type's; the stream and file variants compare it with the library's. The source variant
// is the stream variant made complete for the compiler: escaped text, every value that
// differs from the compiler's default, and the attributes that layout needs.
enum class Versions { kAgainstLibrary, kAgainstType, kSource };

// Text as an XML attribute value: markup characters and white space that attribute
// normalisation would change are written as references.
std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

class LibXml {
public:
    LibXml(const DrLib *lib, Sink &out, Versions versions) : lib_(lib), h_(header(lib)), out_(out), versions_(versions) {}

    void run() {
        if (source() && !all_text_utf8())
            out_.piece({"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"});
        out_.piece({"<typelib"});
        if (!field_text(h_->name).empty()) attr("name", field_text(h_->name));
        if (h_->id != -1) attr("id", h_->id);
        if (source() ? h_->version != 0 : h_->version > 0) attr("version", h_->version);
        if (source() ? h_->padding != 0 : h_->padding > 0) attr("padding", h_->padding);
        if (source() && h_->max_macros > h_->macro_count) attr("max_macros", h_->max_macros);
        if (source() && h_->max_metas > h_->meta_count) attr("max_metas", h_->max_metas);
        out_.piece({" >\n"});
        if (h_->macro_count > 0) {
            out_.piece({"\t<macros>\n"});
            for (int32_t i = 0; i < h_->macro_count; ++i) {
                out_.piece({"\t\t<macro"});
                attr("name", field_text(macros(lib_)[i].name));
                attr("id", macros(lib_)[i].id);
                out_.piece({" />\n"});
            }
            out_.piece({"\t</macros>\n"});
        }
        for (int32_t i = 0; i < h_->meta_count; ++i) type_element(meta_of_row(lib_, i));
        out_.piece({"</typelib>\n"});
    }

private:
    bool source() const { return versions_ == Versions::kSource; }

    // Whether every name and description is UTF-8; a source of other 8-bit text is declared
    // ISO-8859-1 instead, which carries every byte through the XML unchanged.
    bool all_text_utf8() const {
        if (!utf8(field_text(h_->name))) return false;
        for (int32_t i = 0; i < h_->macro_count; ++i)
            if (!utf8(field_text(macros(lib_)[i].name))) return false;
        for (int32_t i = 0; i < h_->meta_count; ++i) {
            const DrMeta *m = meta_of_row(lib_, i);
            if (!utf8(field_text(m->name))) return false;
            for (int32_t j = 0; j < m->count; ++j)
                if (!utf8(field_text(m->entries[j].name)) || !utf8(field_text(m->entries[j].desc))) return false;
        }
        return true;
    }

    // Well-formed UTF-8 (shortest forms, no surrogates, no U+FFFE or U+FFFF), as an XML
    // parser accepts it.
    static bool utf8(std::string_view s) {
        for (size_t i = 0; i < s.size();) {
            const auto c = static_cast<unsigned char>(s[i]);
            const size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
            if (n == 0 || n > s.size() - i) return false;
            uint32_t cp = n == 1 ? c : c & (0x7F >> n);
            for (size_t k = 1; k < n; ++k) {
                const auto t = static_cast<unsigned char>(s[i + k]);
                if ((t & 0xC0) != 0x80) return false;
                cp = (cp << 6) | (t & 0x3F);
            }
            if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF) || cp >= 0xFFFE)) ||
                (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
                return false;
            i += n;
        }
        return true;
    }

    void attr(std::string_view name, std::string_view value) {
        if (source())
            out_.piece({" ", name, "=\"", escaped(value), "\""});
        else
            out_.piece({" ", name, "=\"", value, "\""});
    }
    void attr(std::string_view name, int32_t value) { attr(name, Decimal(value).view()); }

    // The name of macro k when k is not -1, else the number when `shown`.
    void macro_or_number(std::string_view name, int32_t k, int32_t value, bool shown) {
        if (k != -1)
            attr(name, field_text(macros(lib_)[k].name));
        else if (shown)
            attr(name, value);
    }

    void type_element(const DrMeta *m) {
        out_.piece({"\t<type"});
        if (!field_text(m->name).empty()) attr("name", field_text(m->name));
        const DrBaseType *size_row = dr_type_at(m->sizetype);
        const bool sized = size_row && (m->sizewidth > 0 || (source() && m->sizetype != 0));
        if (sized) attr("sizetype", size_row->name);
        if (source() && m->sizewidth != (sized ? size_row->size : 0)) attr("sizewidth", m->sizewidth);
        macro_or_number("id", m->id_macro, m->id, m->id != -1);
        attr("class", m->is_struct ? "struct" : "union");
        if (versions_ == Versions::kAgainstType)
            macro_or_number("version", m->version_macro, m->version, m->version > 0 && m->version != h_->version);
        if (source()) {
            macro_or_number("version", m->version_macro, m->version, m->version != h_->version);
            if (m->idxtype != 0) attr("idxtype", m->idxtype);
        }
        out_.piece({" >\n"});
        for (int32_t j = 0; j < m->count; ++j) item(m, j);
        out_.piece({"\t</type>\n"});
    }

    void item(const DrMeta *m, int32_t j) {
        const DrEntry &e = m->entries[j];
        const int32_t base_version = versions_ == Versions::kAgainstLibrary ? h_->version : m->version;
        const bool version_shown = source() ? e.version != base_version : e.version > 0 && e.version != base_version;
        out_.piece({"\t\t<item"});
        if (!field_text(e.name).empty()) attr("name", field_text(e.name));
        macro_or_number("id", e.id_macro, e.id, e.id != -1);
        macro_or_number("count", e.count_macro, e.count, e.count != 1 && e.count >= 0);
        macro_or_number("version", e.version_macro, e.version, version_shown);
        macro_or_number("io", e.io_macro, e.io, e.io != 0);
        if (e.meta_off != -1)
            attr("type", field_text(child_meta(m, e)->name));
        else if (const DrBaseType *row = dr_type_at(e.type))
            attr("type", row->name);
        if (e.target_size > 0) path_attr("target", m, j, e.target_off);
        if (source() && e.target_size > 0) attr("target_size", e.target_size);
        if (e.refer_size > 0) path_attr("refer", m, j, e.refer_off);
        if (e.select_size > 0) path_attr("select", m, j, e.select_off);
        if (source() && e.netlen_size != 0) attr("netlen_size", e.netlen_size);
        if (source() && int64_t{e.netlen_pos} != -int64_t{e.netlen_size}) attr("netlen_pos", e.netlen_pos);
        if (!field_text(e.desc).empty()) attr("desc", field_text(e.desc));
        out_.piece({" />\n"});
    }

    // The path is one piece in a buffer, so a path that comes out empty cuts the text.
    void path_attr(std::string_view name, const DrMeta *m, int32_t j, int32_t offset) {
        if (source()) {
            // A path has at most DR_MAX_DEPTH names of 31 bytes and their dots.
            char path[2 * DR_MAX_DEPTH * 32];
            Sink inner(path, sizeof path - 1);
            write_member_path(m, j, offset, inner);
            attr(name, std::string_view(path, static_cast<size_t>(inner.accepted())));
            return;
        }
        out_.piece({" ", name, "=\""});
        out_.group([&](Sink &inner) { write_member_path(m, j, offset, inner); });
        out_.piece({"\""});
    }

    const DrLib *lib_;
    const DrLibHeader *h_;
    Sink &out_;
    Versions versions_;
};

}  // namespace
}  // namespace dr

extern "C" int dr_print_lib_xml(const DrLib *lib, FILE *fp) {
    if (!lib || !fp) return -1;
    dr::Sink out(fp);
    dr::LibXml(lib, out, dr::Versions::kAgainstLibrary).run();
    return 0;
}

extern "C" int dr_print_lib_xml_file(const DrLib *lib, const char *path) {
    if (!lib) return -1;
    return dr::write_text_file(path, [&](FILE *fp) { return dr_print_lib_xml(lib, fp); });
}

// The buffer's last byte is its terminator and is never written past; the pieces share the
// room before it and the first that does not fit cuts the description there.
extern "C" int dr_sprint_lib_xml(const DrLib *lib, char *buf, int *len) {
    if (!len) return -1;
    if (!buf || *len < 1) {
        *len = 0;
        return -1;
    }
    const int capacity = *len;
    buf[0] = '\0';
    buf[capacity - 1] = '\0';
    if (!lib) {
        *len = 0;
        return -1;
    }
    dr::Sink out(buf, capacity - 1);
    dr::LibXml(lib, out, dr::Versions::kAgainstType).run();
    *len = static_cast<int>(std::strlen(buf));
    return out.cut() ? -1 : 0;
}

extern "C" int dr_print_lib_source(const DrLib *lib, FILE *fp) {
    if (!lib || !fp) return -1;
    dr::Sink out(fp);
    dr::LibXml(lib, out, dr::Versions::kSource).run();
    return 0;
}
