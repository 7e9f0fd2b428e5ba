// compile.cc: the C entry points of the compiler; errors become a message and a place.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "dr/compile/build.h"
#include "dr/dr_compile.h"
#include "dr/plan/plan.h"
#include "dr/typelib/verify.h"

namespace {

int fail(DrCompileError *err, dr::compile::Pos pos, const char *message) {
    if (err) {
        err->line = pos.line;
        err->column = pos.column;
        std::snprintf(err->message, sizeof err->message, "%s", message);
    }
    return -1;
}

}  // namespace

extern "C" int dr_compile(DrLib **out, const char *source, size_t len, DrCompileError *err) {
    if (!out || (!source && len > 0)) return fail(err, {}, "no output or no source given");
    try {
        const std::vector<uint8_t> bytes =
            dr::compile::build_image(dr::compile::parse_source(std::string_view(source ? source : "", len)));
        void *image = std::malloc(bytes.size());
        if (!image) return fail(err, {}, "out of memory");
        std::memcpy(image, bytes.data(), bytes.size());
        *out = static_cast<DrLib *>(image);
        // A compiled image gets the plans a loaded one gets, once the loader's checks pass it.
        if (dr::verify_image(image, static_cast<int64_t>(bytes.size())) == nullptr) dr::plan::attach(*out);
        return 0;
    } catch (const dr::compile::Error &e) {
        return fail(err, e.pos, e.what());
    } catch (const std::bad_alloc &) {
        return fail(err, {}, "out of memory");
    }
}

extern "C" int dr_compile_file(DrLib **out, const char *path, DrCompileError *err) {
    if (!path) return fail(err, {}, "no source path given");
    std::FILE *fp = std::fopen(path, "rb");
    if (!fp) return fail(err, {}, (std::string("cannot open ") + path).c_str());
    std::string text;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, fp)) > 0;) text.append(chunk, n);
    const bool bad = std::ferror(fp) != 0;
    std::fclose(fp);
    if (bad) return fail(err, {}, (std::string("cannot read ") + path).c_str());
    return dr_compile(out, text.data(), text.size(), err);
}

extern "C" int dr_compile_place(const char *source, size_t len, const char *type, const char *member, int *line,
                                int *column) {
    int found_line = 0, found_column = 0;
    if ((source || len == 0) && type) {
        try {
            const dr::compile::LibSource src = dr::compile::parse_source(std::string_view(source ? source : "", len));
            for (const dr::compile::TypeSource &t : src.types) {
                if (!t.name || *t.name != type) continue;
                dr::compile::Pos at = member && *member ? dr::compile::Pos{} : t.pos;
                for (const dr::compile::ItemSource &i : t.items)
                    if (member && *member && i.name && *i.name == member && at.line == 0) at = i.pos;
                found_line = at.line, found_column = at.column;
                break;
            }
        } catch (const dr::compile::Error &) {
        } catch (const std::bad_alloc &) {
        }
    }
    if (line) *line = found_line;
    if (column) *column = found_column;
    return found_line > 0 ? 0 : -1;
}
