// render.cc: the header, walk and trailer of a rendering, shared by the text and XML forms.
#include "dr/render/render.h"

#include "dr/codec/buffers.h"

namespace dr {

int render(const DrMeta *meta, Style style, std::FILE *fp, DrBuffer *out, DrBuffer *host, int version,
           bool report_host) {
    if (meta == nullptr || host == nullptr || (fp == nullptr && (out == nullptr || out->data == nullptr)))
        return -1;
    if (fp == nullptr && out->len < 1) return -1;  // no room even for the terminator
    const int32_t v = effective_version(version);
    if (meta->version > v) return -1;  // nothing written, no length touched

    Sink sink = fp ? Sink(fp) : Sink(out->data, out->len - 1);
    if (fp == nullptr) out->data[0] = out->data[out->len - 1] = '\0';
    const std::string_view name = field_text(meta->name);
    if (style == Style::kXml)
        sink.piece({"<", name, ">\n"});
    else
        sink.piece({"[", name, "]:"});

    const int64_t host_len = usable_length(host);
    RenderWalker walker(sink, style, host->data, host_len);
    const WalkEnd end = walk(walker,
                             {.check_declared_count = false,
                              .string_capacity_from_count_in_use = false,
                              .net_len = fp ? 0 : int64_t{out->len}},
                             meta, host->data, host_len, v);

    if (style == Style::kXml)
        sink.piece({"</", field_text(end.top->name), ">\n"});
    else if (fp != nullptr)
        sink.piece({"\n"});
    if (report_host) host->len = report(end.host_cursor);
    if (fp != nullptr) return end.ok ? 0 : -1;
    out->len = report(sink.accepted());
    return end.ok && !sink.cut() ? 0 : -1;
}

}  // namespace dr

extern "C" int dr_print_data(const DrMeta *meta, FILE *fp, DrBuffer *host, int version) {
    if (fp == nullptr) return -1;
    return dr::render(meta, dr::Style::kText, fp, nullptr, host, version, true);
}

extern "C" int dr_sprint_data(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version) {
    return dr::render(meta, dr::Style::kText, nullptr, out, host, version, true);
}

extern "C" int dr_print_data_xml(const DrMeta *meta, FILE *fp, DrBuffer *host, int version) {
    if (fp == nullptr) return -1;
    return dr::render(meta, dr::Style::kXml, fp, nullptr, host, version, false);
}

extern "C" int dr_sprint_data_xml(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version) {
    return dr::render(meta, dr::Style::kXml, nullptr, out, host, version, true);
}

extern "C" int dr_print_data_xml_file(const DrMeta *meta, const char *path, DrBuffer *host, int version) {
    return dr::write_text_file(path, [&](FILE *fp) { return dr_print_data_xml(meta, fp, host, version); });
}
