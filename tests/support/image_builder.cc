// image_builder.cc: lays out a Lib description as a typelib image.
#include "tests/support/image_builder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include <unistd.h>

namespace drtest {
namespace {

DrEntry fresh_entry() {
    DrEntry e{};
    e.meta_off = -1;
    e.io_macro = e.version_macro = e.count_macro = e.id_macro = -1;
    e.type = -1;
    e.off = e.size = e.unit = e.type_code = kAuto;
    return e;
}

void put_text(char (&dst)[32], const std::string &s) {
    std::memset(dst, 0, sizeof dst);
    std::memcpy(dst, s.data(), std::min(s.size(), sizeof dst - 1));
}

struct Resolved {
    const Meta *desc;
    std::vector<DrEntry> entries;
    int32_t datasize = 0;
    int32_t offset = 0;
    bool done = false, busy = false;
};

class Builder {
public:
    explicit Builder(const Lib &lib) : lib_(lib) {
        macros_ = lib.macros;
        if (!lib.keep_macro_order)
            std::stable_sort(macros_.begin(), macros_.end(),
                             [](const Macro &a, const Macro &b) { return std::strcmp(a.name.c_str(), b.name.c_str()) < 0; });
        for (const Meta &m : lib.metas) {
            if (metas_.count(m.name)) throw std::invalid_argument("duplicate meta " + m.name);
            metas_[m.name] = Resolved{&m, {}, 0, 0, false, false};
        }
    }

    Image run() {
        for (const Meta &m : lib_.metas) resolve(m.name);
        const int32_t nmac = static_cast<int32_t>(macros_.size());
        const int32_t nmeta = static_cast<int32_t>(lib_.metas.size());
        const int32_t max_macros = lib_.max_macros == kAuto ? nmac : lib_.max_macros;
        const int32_t max_metas = lib_.max_metas == kAuto ? nmeta : lib_.max_metas;
        const Layout &L = lib_.layout;
        const int32_t macro_off = L.macro_off == kAuto ? 0 : L.macro_off;
        const int32_t id_off = L.id_index_off == kAuto ? 36 * max_macros : L.id_index_off;
        const int32_t name_off = L.name_index_off == kAuto ? 36 * max_macros + 8 * max_metas : L.name_index_off;
        const int32_t dir_off = L.dir_off == kAuto ? 36 * max_macros + 44 * max_metas : L.dir_off;
        int32_t data_off = L.data_off;
        if (data_off == kAuto)
            data_off = std::max({36 * max_macros + 52 * max_metas, macro_off + 36 * max_macros,
                                 id_off + 8 * max_metas, name_off + 36 * max_metas, dir_off + 8 * max_metas});
        int32_t end = data_off;
        for (const Meta &m : lib_.metas) {
            Resolved &r = metas_[m.name];
            r.offset = end;
            end += 88 + 152 * static_cast<int32_t>(r.entries.size());
        }
        std::vector<uint8_t> out(static_cast<size_t>(112 + end + L.tail), 0);
        auto *h = reinterpret_cast<DrLibHeader *>(out.data());
        h->magic = 0x4455;
        h->build = 103;
        h->id = lib_.id;
        h->size = static_cast<int32_t>(out.size());
        h->version = lib_.version;
        h->padding = lib_.padding;
        h->max_metas = max_metas;
        h->meta_count = nmeta;
        h->max_macros = max_macros;
        h->macro_count = nmac;
        h->free_off = end;
        h->macro_off = macro_off;
        h->id_index_off = id_off;
        h->name_index_off = name_off;
        h->dir_off = dir_off;
        h->data_off = data_off;
        put_text(h->name, lib_.name);
        uint8_t *data = out.data() + 112;

        for (int32_t i = 0; i < nmac; ++i) {
            DrMacro row{};
            put_text(row.name, macros_[i].name);
            row.id = macros_[i].value;
            std::memcpy(data + macro_off + 36 * i, &row, sizeof row);
        }
        std::vector<int32_t> by_id(nmeta), by_name(nmeta);
        for (int32_t i = 0; i < nmeta; ++i) by_id[i] = by_name[i] = i;
        std::stable_sort(by_id.begin(), by_id.end(),
                         [&](int32_t a, int32_t b) { return lib_.metas[a].id < lib_.metas[b].id; });
        std::stable_sort(by_name.begin(), by_name.end(), [&](int32_t a, int32_t b) {
            return std::strcmp(lib_.metas[a].name.c_str(), lib_.metas[b].name.c_str()) < 0;
        });
        for (int32_t i = 0; i < nmeta; ++i) {
            const int32_t id_row[2] = {lib_.metas[by_id[i]].id, by_id[i]};
            std::memcpy(data + id_off + 8 * i, id_row, sizeof id_row);
            char name_row[36] = {};
            put_text(*reinterpret_cast<char(*)[32]>(name_row), lib_.metas[by_name[i]].name);
            std::memcpy(name_row + 32, &by_name[i], 4);
            std::memcpy(data + name_off + 36 * i, name_row, sizeof name_row);
            const int32_t dir_row[2] = {metas_[lib_.metas[i].name].offset, 0};
            std::memcpy(data + dir_off + 8 * i, dir_row, sizeof dir_row);
        }
        for (const Meta &m : lib_.metas) {
            Resolved &r = metas_[m.name];
            DrMeta head{};
            head.sizewidth = m.sizewidth;
            head.sizetype = m.sizetype;
            head.id = m.id;
            head.id_macro = m.id_macro_name.empty() ? m.id_macro : macro_index(m.id_macro_name);
            head.datasize = r.datasize;
            head.self_off = r.offset;
            head.count = static_cast<int32_t>(r.entries.size());
            head.idxtype = m.idxtype;
            head.is_struct = m.is_struct;
            head.version_macro = m.version_macro_name.empty() ? m.version_macro : macro_index(m.version_macro_name);
            head.version = m.version;
            put_text(head.name, m.name);
            std::memcpy(data + r.offset, &head, 88);
            for (size_t k = 0; k < r.entries.size(); ++k) {
                DrEntry e = r.entries[k];
                const Entry &source = m.entries[k];
                if (!source.meta.empty()) e.meta_off = metas_[source.meta].offset;
                std::memcpy(data + r.offset + 88 + 152 * k, &e, sizeof e);
            }
        }
        return Image(std::move(out));
    }

private:
    int32_t macro_index(const std::string &name) const {
        for (size_t i = 0; i < macros_.size(); ++i)
            if (macros_[i].name == name) return static_cast<int32_t>(i);
        throw std::invalid_argument("unknown macro " + name);
    }

    Resolved &resolve(const std::string &name) {
        auto it = metas_.find(name);
        if (it == metas_.end()) throw std::invalid_argument("unknown meta " + name);
        Resolved &r = it->second;
        if (r.done) return r;
        if (r.busy) throw std::invalid_argument("record type contains itself: " + name);
        r.busy = true;
        const Meta &m = *r.desc;
        int32_t end = 0, furthest = 0;
        for (const Entry &source : m.entries) {
            DrEntry e = source.raw;
            put_text(e.name, source.name);
            put_text(e.desc, source.desc);
            int32_t elem = 0;
            if (!source.meta.empty()) {
                Resolved &child = resolve(source.meta);
                const bool is_struct = child.desc->is_struct != 0;
                if (e.type == -1) e.type = is_struct ? 1 : 0;
                if (e.type_code == kAuto) e.type_code = is_struct ? DR_TYPE_STRUCT : DR_TYPE_UNION;
                elem = child.datasize;
            } else {
                const int row = dr_type_by_name(source.base.c_str());
                if (row < 0 && e.type_code == kAuto) throw std::invalid_argument("unknown base type " + source.base);
                if (e.type == -1 && row >= 0) e.type = row;
                if (e.type_code == kAuto) e.type_code = dr_type_at(row)->code;
                elem = row >= 0 ? std::max(dr_type_at(row)->size, 1) : 1;
            }
            if (e.unit == kAuto) e.unit = elem;
            if (e.size == kAuto) e.size = e.unit * std::max(e.count, 1);
            if (e.off == kAuto) e.off = m.is_struct ? end : 0;
            end = e.off + e.size;
            furthest = std::max(furthest, end);
            if (!source.id_macro_name.empty()) e.id_macro = macro_index(source.id_macro_name);
            if (!source.version_macro_name.empty()) e.version_macro = macro_index(source.version_macro_name);
            if (!source.count_macro_name.empty()) e.count_macro = macro_index(source.count_macro_name);
            if (!source.io_macro_name.empty()) e.io_macro = macro_index(source.io_macro_name);
            r.entries.push_back(e);
        }
        // References by member name need every member's place first.
        for (size_t k = 0; k < m.entries.size(); ++k) {
            const Entry &source = m.entries[k];
            DrEntry &e = r.entries[k];
            // A dotted path ("head.count") goes into nested records, at their first element.
            auto place = [&](const std::string &path, int32_t &off, int32_t &size) {
                if (path.empty()) return;
                const Meta *in = &m;
                const std::vector<DrEntry> *placed = &r.entries;
                int32_t at = 0;
                for (size_t from = 0; from <= path.size();) {
                    const size_t dot = std::min(path.find('.', from), path.size());
                    const std::string part = path.substr(from, dot - from);
                    from = dot + 1;
                    size_t j = 0;
                    while (j < in->entries.size() && in->entries[j].name != part) ++j;
                    if (j == in->entries.size()) throw std::invalid_argument("unknown member " + path + " in " + m.name);
                    at += (*placed)[j].off;
                    size = (*placed)[j].size;
                    if (from <= path.size()) {
                        const Resolved &child = metas_.at(in->entries[j].meta);
                        in = child.desc;
                        placed = &child.entries;
                    }
                }
                off = at;
            };
            place(source.refer_to, e.refer_off, e.refer_size);
            place(source.select_to, e.select_off, e.select_size);
            place(source.target_to, e.target_off, e.target_size);
        }
        r.datasize = m.datasize == kAuto ? furthest : m.datasize;
        r.busy = false;
        r.done = true;
        return r;
    }

    const Lib &lib_;
    std::vector<Macro> macros_;
    std::map<std::string, Resolved> metas_;
};

}  // namespace

Entry field(std::string name, std::string type, int32_t count) {
    Entry e;
    e.raw = fresh_entry();
    e.raw.count = count;
    e.name = std::move(name);
    e.base = std::move(type);
    return e;
}

Entry nested(std::string name, std::string meta, int32_t count) {
    Entry e = field(std::move(name), "", count);
    e.meta = std::move(meta);
    return e;
}

Meta record(std::string name, int32_t id, std::vector<Entry> entries) {
    Meta m;
    m.name = std::move(name);
    m.id = id;
    m.entries = std::move(entries);
    return m;
}

Meta union_of(std::string name, int32_t id, std::vector<Entry> entries) {
    Meta m = record(std::move(name), id, std::move(entries));
    m.is_struct = 0;
    return m;
}

Image::Image(std::vector<uint8_t> bytes) : words_((bytes.size() + 7) / 8), size_(bytes.size()) {
    std::memcpy(words_.data(), bytes.data(), bytes.size());
}

void Image::resize(size_t n) {
    words_.resize((n + 7) / 8 + 1, 0);
    if (n > size_) std::memset(bytes() + size_, 0, n - size_);
    size_ = n;
}

DrMeta *Image::meta(const std::string &name) {
    DrLibHeader &h = header();
    for (int32_t i = 0; i < h.meta_count; ++i) {
        int32_t off;
        std::memcpy(&off, data_area() + h.dir_off + 8 * i, 4);
        auto *m = reinterpret_cast<DrMeta *>(data_area() + off);
        if (name == m->name) return m;
    }
    throw std::invalid_argument("no meta " + name);
}

DrEntry &Image::entry(const std::string &meta_name, const std::string &member) {
    DrMeta *m = meta(meta_name);
    for (int32_t k = 0; k < m->count; ++k)
        if (member == m->entries[k].name) return m->entries[k];
    throw std::invalid_argument("no member " + member + " in " + meta_name);
}

Image build(const Lib &lib) { return Builder(lib).run(); }

std::string write_temp_file(const std::string &stem, const std::vector<uint8_t> &bytes) {
    static int serial = 0;
    const auto dir = std::filesystem::temp_directory_path() / "dr_tests";
    std::filesystem::create_directories(dir);
    const auto path = dir / (stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Lib demo_lib() {
    Lib lib;
    lib.name = "demo";
    lib.id = 7;
    lib.version = 1;
    lib.macros = {{"MAX_POINTS", 16}};
    Meta point = record("Point", 100, {field("x", "int").id(1).version(1), field("y", "int").id(2).version(1)});
    point.version = 1;
    lib.metas = {point};
    return lib;
}

}  // namespace drtest
