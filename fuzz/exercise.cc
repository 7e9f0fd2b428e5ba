// exercise.cc: every read-only operation of the library, run over one image.
#include "fuzz/exercise.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "dr/typelib/image.h"

namespace {

void exercise_meta(const DrMeta *meta, FILE *sink) {
    std::vector<char> host(512, 0x01), net(1024), text(64);
    for (int version : {0, 1}) {
        DrBuffer n{net.data(), static_cast<int32_t>(net.size())};
        DrBuffer h{host.data(), static_cast<int32_t>(host.size())};
        dr_host_to_net(meta, &n, &h, version);
        DrBuffer in{net.data(), n.len};
        h = {host.data(), static_cast<int32_t>(host.size())};
        dr_net_to_host(meta, &h, &in, version);
        DrBuffer o{text.data(), static_cast<int32_t>(text.size())};
        h = {host.data(), static_cast<int32_t>(host.size())};
        dr_sprint_data(meta, &o, &h, version);
        o = {text.data(), static_cast<int32_t>(text.size())};
        h = {host.data(), static_cast<int32_t>(host.size())};  // each call reports its own cursor
        dr_sprint_data_xml(meta, &o, &h, version);
        h = {host.data(), static_cast<int32_t>(host.size())};
        dr_print_data(meta, sink, &h, version);
    }
    dr_write_struct_decl(meta, sink, "m_");
    int pos = 0;
    dr_entry_by_id(meta, 1, &pos);
    for (int32_t k = 0; k < meta->count && k < 8; ++k) {
        char path[48];
        dr_sprint_member_path(meta, k, meta->entries[k].refer_off, path, sizeof path);
        dr_print_member_path(meta, k, meta->entries[k].target_off, sink);
    }
}

}  // namespace

void exercise_lib(const DrLib *lib) {
    static FILE *sink = std::fopen("/dev/null", "w");
    const DrLibHeader *h = dr::header(lib);
    dr_print_lib_summary(sink, lib);
    dr_print_lib_xml(lib, sink);
    dr_print_lib_source(lib, sink);
    std::vector<char> xml(256);
    int len = static_cast<int>(xml.size());
    dr_sprint_lib_xml(lib, xml.data(), &len);
    int value = 0;
    dr_macro_by_name(lib, "MAX", &value);
    const DrMeta *meta = nullptr;
    dr_meta_by_name(lib, "Top", &meta);
    dr_meta_by_id(lib, 1, &meta);
    for (int32_t i = 0; i < h->meta_count && i < 16; ++i) exercise_meta(dr::meta_of_row(lib, i), sink);
}

