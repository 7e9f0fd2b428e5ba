// fuzz_load.cc: arbitrary bytes as a typelib file. An image the loader accepts must be safe
// for every operation: lookups, descriptions, member paths, encode, decode and rendering.
#include <cstdint>
#include <cstdio>

#include "dr/dr.h"
#include "fuzz/exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FILE *fp = std::tmpfile();
    if (fp == nullptr) return 0;
    if (size > 0) std::fwrite(data, 1, size, fp);
    DrLib *lib = nullptr;
    const int rc = dr_load_lib(&lib, fp);
    std::fclose(fp);
    if (rc != 0) return 0;
    exercise_lib(lib);
    dr_free_lib(lib);
    return 0;
}
