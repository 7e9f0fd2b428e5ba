// lookup.cc: binary searches over the sorted tables of an image, and members by id.
#include "dr/typelib/image.h"

extern "C" int dr_macro_by_name(const DrLib *lib, const char *name, int *value) {
    *value = -1;
    if (lib == nullptr || name == nullptr) return -1;
    const DrMacro *rows = dr::macros(lib);
    const int row = dr::binary_search_rows(dr::header(lib)->macro_count,
                                           [&](int32_t mid) { return std::strcmp(name, rows[mid].name); });
    if (row < 0) return -1;
    *value = rows[row].id;
    return 0;
}

extern "C" int dr_meta_by_name(const DrLib *lib, const char *name, const DrMeta **meta) {
    *meta = nullptr;
    if (lib == nullptr || name == nullptr) return -1;
    const dr::NameIndexRow *rows = dr::name_index(lib);
    const int row = dr::binary_search_rows(dr::header(lib)->meta_count,
                                           [&](int32_t mid) { return std::strcmp(name, rows[mid].name); });
    if (row < 0) return -1;
    *meta = dr::meta_of_row(lib, rows[row].index);
    return 0;
}

extern "C" int dr_meta_by_id(const DrLib *lib, int id, const DrMeta **meta) {
    *meta = nullptr;
    if (lib == nullptr) return -1;
    const dr::IdIndexRow *rows = dr::id_index(lib);
    const int row = dr::binary_search_rows(dr::header(lib)->meta_count,
                                           [&](int32_t mid) { return dr::compare_ids(id, rows[mid].id); });
    if (row < 0) return -1;
    *meta = dr::meta_of_row(lib, rows[row].index);
    return 0;
}

extern "C" int dr_entry_by_id(const DrMeta *meta, int id, int *pos) {
    *pos = -1;
    if (meta == nullptr) return -1;
    if (meta->is_struct != 0) {
        for (int32_t k = 0; k < meta->count; ++k)
            if (meta->entries[k].id == id) return *pos = k, 0;
        return -1;
    }
    *pos = dr::binary_search_rows(meta->count,
                                  [&](int32_t mid) { return dr::compare_ids(id, meta->entries[mid].id); });
    return *pos < 0 ? -1 : 0;
}
