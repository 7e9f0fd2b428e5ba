// compile.cc: `drtool compile`, an XML source turned into a typelib (and its C header).
#include <cstdio>
#include <string>
#include <vector>

#include "tools/drtool/commands.h"
#include "tools/drtool/hexdump.h"
#include "tools/drtool/inputs.h"
#include "tools/drtool/outputs.h"

#ifdef DRTOOL_HAVE_COMPILER
#include "dr/dr_compile.h"
#endif

namespace drtool {
namespace {

#ifdef DRTOOL_HAVE_COMPILER

// The whole source: a file, or standard input for "-".
std::optional<std::vector<char>> read_source(const std::string &path) {
    if (path != "-") return read_file(path);
    std::vector<char> bytes;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    if (std::ferror(stdin)) {
        report("cannot read standard input");
        return std::nullopt;
    }
    return bytes;
}

int run_compile(const Args &args) {
    const std::string &src = args[0];
    const std::optional<std::vector<char>> text = read_source(src);
    if (!text) return kExitFailed;
    DrLib *compiled = nullptr;
    DrCompileError err{};
    if (dr_compile(&compiled, text->data(), text->size(), &err) != 0) {
        // FILE:LINE:COL: as compilers write it, so editors can jump to the place.
        const char *name = src == "-" ? "<stdin>" : src.c_str();
        if (err.line > 0)
            std::fprintf(stderr, "%s:%d:%d: %s\n", name, err.line, err.column, err.message);
        else
            std::fprintf(stderr, "%s: %s\n", name, err.message);
        return kExitFailed;
    }
    const LibPtr lib(compiled);
    const DrLibHeader *h = reinterpret_cast<const DrLibHeader *>(lib.get());
    const char *bytes = reinterpret_cast<const char *>(lib.get());
    const std::string *header = args.value("--header");
    const std::string *out = args.value("-o");
    // Both files are written before either replaces what was there.
    Outputs files;
    if (out) {
        std::FILE *fp = files.open(*out, false);
        if (fp == nullptr) return kExitFailed;
        if (const int rc = put_bytes(fp, *out, bytes, static_cast<size_t>(h->size)); rc != kExitOk) return rc;
    }
    if (header) {
        std::FILE *fp = files.open(*header, true);
        if (fp == nullptr) return kExitFailed;
        if (const int rc = put_header(fp, lib.get(), *header, nullptr, DR_HEADER_PORTABLE); rc != kExitOk) return rc;
    }
    if (!out) hex_dump(stdout, bytes, static_cast<size_t>(h->size));
    return files.commit();
}

#else

int run_compile(const Args &) {
    report("this drtool was built without the typelib compiler (expat was not found at build time)");
    return kExitFailed;
}

#endif

}  // namespace

Command compile_command() {
    return {"compile",
            {"SRC.xml"},
            {{"-o", "OUT.tlb", "write the typelib to OUT.tlb instead of a hex dump"},
             {"--header", "OUT.h", "also write the C header that declares its macros and types"}},
            "Compile an XML typelib source into a typelib",
            "SRC.xml is the XML that 'drtool xml' writes (or 'drtool xml --source', which\n"
            "keeps every detail); '-' reads standard input. Types may refer to types defined\n"
            "later in the file; ids, counts, versions and io flags may name macros. Offsets,\n"
            "sizes and the sorted tables are computed: every record is laid out as the packed\n"
            "C layout of the generated header. docs/typelib-xml.md describes the format.\n"
            "An error is reported as SRC:LINE:COL: what is wrong, with exit status 1, and no\n"
            "output file is written or changed.\n",
            run_compile};
}

}  // namespace drtool
