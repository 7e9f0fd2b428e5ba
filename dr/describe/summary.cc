// summary.cc: a plain-text listing of a typelib with the raw numbers of every member.
#include <cstdio>

#include "dr/text/text.h"
#include "dr/typelib/image.h"

namespace {

// Prints a name or description field up to its NUL, never past the field.
struct Text {
    int len;
    const char *ptr;
    explicit Text(const char (&field)[32]) {
        const std::string_view t = dr::field_text(field);
        len = static_cast<int>(t.size());
        ptr = t.data();
    }
};

const char *size_text(int32_t sizewidth) {
    switch (sizewidth) {
    case 1: return "uchar";
    case 2: return "ushort";
    case 4: return "int";
    default: return "";
    }
}

}  // namespace

extern "C" void dr_print_lib_summary(FILE *fp, const DrLib *lib) {
    if (!fp || !lib) return;
    const DrLibHeader *h = dr::header(lib);
    const Text lib_name(h->name);
    std::fprintf(fp, "\nLIB(\"%.*s\"): ID=%d ver=%d Metas %d/%d Macros:%d/%d pad:%d:\n\n", lib_name.len, lib_name.ptr,
                 h->id, h->version, h->meta_count, h->max_metas, h->macro_count, h->max_macros, h->padding);
    for (int32_t i = 0; i < h->macro_count; ++i) {
        const DrMacro &m = dr::macros(lib)[i];
        const Text name(m.name);
        std::fprintf(fp, "Macro Name=\"%.*s\" id=%d\n", name.len, name.ptr, m.id);
    }
    for (int32_t i = 0; i < h->meta_count; ++i) {
        const DrMeta *m = dr::meta_of_row(lib, i);
        const Text name(m->name);
        std::fprintf(fp, "Meta(size=\"%s\") Name=\"%.*s\" idxType=%d id=%d entries=%d data=%d.\n",
                     size_text(m->sizewidth), name.len, name.ptr, m->idxtype, m->id, m->count, m->datasize);
        for (int32_t k = 0; k < m->count; ++k) {
            const DrEntry &e = m->entries[k];
            const Text ename(e.name), desc(e.desc);
            std::fprintf(fp, "\tEntry:\tName=\"%.*s\" ID=%d Desc=\"%.*s\" type=%d meta=%d off=%d count=%d\n",
                         ename.len, ename.ptr, e.id, desc.len, desc.ptr, e.type, e.meta_off, e.off, e.count);
            std::fprintf(fp, "\t\t unit=%d size=%d select=(%d, %d) refer=(%d, %d) target=(%d, %d)\n", e.unit, e.size,
                         e.select_off, e.select_size, e.refer_off, e.refer_size, e.target_off, e.target_size);
        }
    }
    std::fputs("\n", fp);
}
