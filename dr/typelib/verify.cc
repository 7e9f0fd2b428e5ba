// verify.cc: refuses images whose content would lead an operation outside the image.
#include "dr/typelib/verify.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dr/typelib/image.h"

namespace dr {
namespace {

bool terminated(const char (&text)[32]) { return std::memchr(text, 0, sizeof text) != nullptr; }

class Verifier {
public:
    Verifier(const void *image, int64_t length)
        : lib_(static_cast<const DrLib *>(image)), h_(header(lib_)), data_len_(length - kHeaderSize) {}

    const char *run() {
        if (h_->max_macros < 0 || h_->max_metas < 0) return "negative table capacity";
        if (h_->macro_count < 0 || h_->macro_count > h_->max_macros) return "macro count outside capacity";
        if (h_->meta_count < 0 || h_->meta_count > h_->max_metas) return "meta count outside capacity";
        if (!region(h_->macro_off, h_->max_macros, kMacroRow)) return "macro table outside the image";
        if (!region(h_->id_index_off, h_->max_metas, kIdRow)) return "meta id index outside the image";
        if (!region(h_->name_index_off, h_->max_metas, kNameRow)) return "meta name index outside the image";
        if (!region(h_->dir_off, h_->max_metas, kDirRow)) return "meta directory outside the image";
        if (!terminated(h_->name)) return "library name not terminated";
        for (int32_t i = 0; i < h_->macro_count; ++i)
            if (!terminated(macros(lib_)[i].name)) return "macro name not terminated";
        for (int32_t i = 0; i < h_->meta_count; ++i) {
            if (!row_index(id_index(lib_)[i].index)) return "id index row names no meta";
            if (!row_index(name_index(lib_)[i].index)) return "name index row names no meta";
            if (!terminated(name_index(lib_)[i].name)) return "name index name not terminated";
        }
        for (int32_t i = 0; i < h_->meta_count; ++i)
            if (const char *why = walk_from(directory(lib_)[i].offset)) return why;
        for (const auto &[off, s] : state_)
            if (const char *why = check_extents(meta_at(lib_, off))) return why;
        return check_indexes();
    }

private:
    // `rows` rows of `row_size` bytes at data-area offset `off`, 4-byte aligned, inside the image.
    bool region(int64_t off, int64_t rows, int64_t row_size) const {
        return off >= 0 && off % 4 == 0 && rows >= 0 && off + rows * row_size <= data_len_;
    }
    bool row_index(int32_t index) const { return index >= 0 && index < h_->meta_count; }
    bool macro_index(int32_t k) const { return k == -1 || (k >= 0 && k < h_->macro_count); }

    // The binary searches find a meta through its index row: each row's key must be the key
    // of the meta it names, and the rows must ascend.
    const char *check_indexes() const {
        const IdIndexRow *ids = id_index(lib_);
        const NameIndexRow *names = name_index(lib_);
        for (int32_t i = 0; i < h_->meta_count; ++i) {
            if (ids[i].id != meta_of_row(lib_, ids[i].index)->id) return "id index row differs from its meta's id";
            if (field_text(names[i].name) != field_text(meta_of_row(lib_, names[i].index)->name))
                return "name index row differs from its meta's name";
            if (i > 0 && ids[i].id < ids[i - 1].id) return "id index not sorted";
            if (i > 0 && std::strcmp(names[i].name, names[i - 1].name) < 0) return "name index not sorted";
        }
        return nullptr;
    }

    // Every member's declared elements lie inside one host record of its parent, so a walk
    // that keeps counted elements inside their enclosing element covers each host byte a
    // bounded number of times.
    const char *check_extents(const DrMeta *m) const {
        if (m->datasize < 0) return "negative host size";
        for (int32_t k = 0; k < m->count; ++k) {
            const DrEntry &e = m->entries[k];
            const bool nested = nested_code(e.type_code) && e.meta_off != -1;
            const int64_t unit = nested                            ? meta_at(lib_, e.meta_off)->datasize
                                 : e.type_code == DR_TYPE_STRING ? 1
                                                                 : e.unit;
            const int64_t extent = int64_t{std::max(e.count, 0)} * std::max<int64_t>(unit, 0);
            if (e.off < 0 || e.off + extent > m->datasize) return "member reaches outside its record";
        }
        return nullptr;
    }

    const char *check_meta(int32_t off) const {
        if (!region(off, 1, kMetaHead)) return "meta record outside the image";
        const DrMeta *m = meta_at(lib_, off);
        if (m->count < 0 || !region(off, 1, kMetaHead + int64_t{kEntrySize} * m->count))
            return "meta entries outside the image";
        if (m->self_off != off) return "meta self offset does not match its place";
        if (!terminated(m->name)) return "meta name not terminated";
        if (!macro_index(m->id_macro) || !macro_index(m->version_macro)) return "meta macro index outside the macro table";
        for (int32_t k = 0; k < m->count; ++k) {
            const DrEntry &e = m->entries[k];
            if (!terminated(e.name) || !terminated(e.desc)) return "entry name or description not terminated";
            if (!macro_index(e.io_macro) || !macro_index(e.version_macro) || !macro_index(e.count_macro) ||
                !macro_index(e.id_macro))
                return "entry macro index outside the macro table";
            // Union members are chosen by a halving search over their ids.
            if (m->is_struct == 0 && k > 0 && e.id < m->entries[k - 1].id) return "union members not sorted by id";
        }
        return nullptr;
    }

    // Depth-first over meta references with an explicit stack: checks each meta once and
    // finds a reference back to a meta still being walked (a type containing itself).
    const char *walk_from(int32_t root) {
        enum : uint8_t { kOpen = 1, kDone = 2 };
        if (state_[root] == kDone) return nullptr;
        if (const char *why = check_meta(root)) return why;
        std::vector<std::pair<int32_t, int32_t>> stack{{root, 0}};  // (meta offset, next entry)
        state_[root] = kOpen;
        while (!stack.empty()) {
            // Copied, not referenced: the emplace_back below may move the stack's rows.
            const int32_t off = stack.back().first;
            const int32_t next = stack.back().second++;
            const DrMeta *m = meta_at(lib_, off);
            if (next == m->count) {
                state_[off] = kDone;
                stack.pop_back();
                continue;
            }
            const int32_t child = m->entries[next].meta_off;
            if (child == -1) continue;
            uint8_t &s = state_[child];
            if (s == kOpen) return "record type contains itself";
            if (s == kDone) continue;
            if (const char *why = check_meta(child)) return why;
            s = kOpen;
            stack.emplace_back(child, 0);
        }
        return nullptr;
    }

    const DrLib *lib_;
    const DrLibHeader *h_;
    int64_t data_len_;
    std::unordered_map<int32_t, uint8_t> state_;
};

}  // namespace

const char *verify_image(const void *image, int64_t length) {
    if (length < kHeaderSize) return "shorter than the 112-byte header";
    const DrLibHeader *h = static_cast<const DrLibHeader *>(image);
    if (h->size != length) return "length differs from the header's size";
    if (h->magic != kMagic) return "wrong magic";
    if (h->build != kBuild) return "wrong build";
    return Verifier(image, length).run();
}

}  // namespace dr
