// fuzz_compile.cc: arbitrary bytes as a typelib source. Whatever compiles must be an image
// the loader accepts and every operation can walk, and its complete source must compile
// back to the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dr/dr_compile.h"
#include "fuzz/exercise.h"

namespace {

[[noreturn]] void broken(const char *what, const DrCompileError &err) {
    std::fprintf(stderr, "fuzz_compile: %s (%d:%d: %s)\n", what, err.line, err.column, err.message);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    DrLib *lib = nullptr;
    DrCompileError err{};
    if (dr_compile(&lib, reinterpret_cast<const char *>(data), size, &err) != 0) {
        if (!std::memchr(err.message, 0, sizeof err.message) || err.message[0] == 0 || err.line < 0 || err.column < 0)
            broken("a failure without a message or with a bad place", err);
        return 0;
    }
    const DrLibHeader *h = reinterpret_cast<const DrLibHeader *>(lib);
    const size_t length = static_cast<size_t>(h->size);

    FILE *fp = std::tmpfile();
    if (fp == nullptr) std::abort();
    DrLib *loaded = nullptr;
    if (dr_save_lib(lib, fp) != 0 || dr_load_lib(&loaded, fp) != 0) broken("the loader refused a compiled image", err);
    std::fclose(fp);
    exercise_lib(loaded);
    dr_free_lib(loaded);

    fp = std::tmpfile();
    if (fp == nullptr) std::abort();
    dr_print_lib_source(lib, fp);
    std::string source(static_cast<size_t>(std::ftell(fp)), '\0');
    std::rewind(fp);
    if (std::fread(source.data(), 1, source.size(), fp) != source.size()) std::abort();
    std::fclose(fp);
    DrLib *again = nullptr;
    if (dr_compile(&again, source.data(), source.size(), &err) != 0) broken("the complete source does not compile", err);
    if (std::memcmp(again, lib, length) != 0 || reinterpret_cast<const DrLibHeader *>(again)->size != h->size)
        broken("the complete source compiles to other bytes", err);
    dr_free_lib(again);
    dr_free_lib(lib);
    return 0;
}
