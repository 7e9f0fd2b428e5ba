// render.cc: the header, walk and trailer of a rendering, shared by the text and XML forms.
#include "dr/render/render.h"

#include "dr/text/error.h"
#include "dr/walk/cursor.h"

namespace dr {

int render(const DrMeta *meta, Style style, std::FILE *fp, DrBuffer *out, DrBuffer *host, int version,
           bool report_host, DrError *err) {
    if (meta == nullptr || host == nullptr || (fp == nullptr && (out == nullptr || out->data == nullptr)))
        return set_error(err, DR_E_ARGUMENT);
    if (fp == nullptr && out->len < 1) return set_error(err, DR_E_ARGUMENT);  // no room even for the terminator
    const int32_t v = effective_version(version);
    if (meta->version > v) return set_error(err, DR_E_VERSION);  // nothing written, no length touched

    Sink sink = fp ? Sink(fp) : Sink(out->data, out->len - 1);
    if (fp == nullptr) out->data[0] = out->data[out->len - 1] = '\0';
    const std::string_view name = field_text(meta->name);
    if (style == Style::kXml)
        sink.piece({"<", name, ">\n"});
    else
        sink.piece({"[", name, "]:"});

    const int64_t host_len = usable_length(host);
    RenderWalker walker(sink, style, host->data, host_len);
    const WalkEnd end = walk(walker, meta, host->data, host_len, v, fp ? 0 : int64_t{out->len});

    if (style == Style::kXml)
        sink.piece({"</", field_text(end.top->name), ">\n"});
    else if (fp != nullptr)
        sink.piece({"\n"});
    if (report_host) host->len = as_buffer_len(end.host_cursor);
    if (fp == nullptr) out->len = as_buffer_len(sink.accepted());
    const DrErrorCode code = !end.ok ? end.code : fp == nullptr && sink.cut() ? DR_E_CUT : DR_OK;
    return set_error(err, code, nullptr, -1, end.host_cursor);
}

}  // namespace dr

extern "C" int dr_print_data_ex(const DrMeta *meta, FILE *fp, DrBuffer *host, int version, DrError *err) {
    if (fp == nullptr) return dr::set_error(err, DR_E_ARGUMENT);
    return dr::render(meta, dr::Style::kText, fp, nullptr, host, version, true, err);
}

extern "C" int dr_sprint_data_ex(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version, DrError *err) {
    return dr::render(meta, dr::Style::kText, nullptr, out, host, version, true, err);
}

extern "C" int dr_print_data_xml_ex(const DrMeta *meta, FILE *fp, DrBuffer *host, int version, DrError *err) {
    if (fp == nullptr) return dr::set_error(err, DR_E_ARGUMENT);
    return dr::render(meta, dr::Style::kXml, fp, nullptr, host, version, false, err);
}

extern "C" int dr_sprint_data_xml_ex(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version, DrError *err) {
    return dr::render(meta, dr::Style::kXml, nullptr, out, host, version, true, err);
}

extern "C" int dr_print_data(const DrMeta *meta, FILE *fp, DrBuffer *host, int version) {
    return dr_print_data_ex(meta, fp, host, version, nullptr);
}

extern "C" int dr_sprint_data(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version) {
    return dr_sprint_data_ex(meta, out, host, version, nullptr);
}

extern "C" int dr_print_data_xml(const DrMeta *meta, FILE *fp, DrBuffer *host, int version) {
    return dr_print_data_xml_ex(meta, fp, host, version, nullptr);
}

extern "C" int dr_sprint_data_xml(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version) {
    return dr_sprint_data_xml_ex(meta, out, host, version, nullptr);
}

extern "C" int dr_print_data_xml_file(const DrMeta *meta, const char *path, DrBuffer *host, int version) {
    return dr::write_text_file(path, [&](FILE *fp) { return dr_print_data_xml(meta, fp, host, version); });
}
