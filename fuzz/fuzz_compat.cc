// fuzz_compat.cc: two typelib images in one input (a 4-byte little-endian length, OLD's bytes,
// then NEW's). Whatever images the loader accepts, the check ends, hands over findings whose
// texts end inside their fields and counts its breaks right, and finds an image compatible
// with itself without a single finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dr/dr_compat.h"

namespace {

DrLib *load(const uint8_t *data, size_t size) {
    FILE *fp = std::tmpfile();
    if (fp == nullptr) return nullptr;
    if (size > 0) std::fwrite(data, 1, size, fp);
    DrLib *lib = nullptr;
    if (dr_load_lib(&lib, fp) != 0) lib = nullptr;
    std::fclose(fp);
    return lib;
}

struct Seen {
    int breaks = 0, findings = 0;
};

void seen(const DrCompatFinding *f, void *ctx) {
    Seen &s = *static_cast<Seen *>(ctx);
    ++s.findings;
    s.breaks += f->is_break;
    const bool ended = std::memchr(f->path, 0, sizeof f->path) && std::memchr(f->text, 0, sizeof f->text) &&
                       std::memchr(f->new_type, 0, sizeof f->new_type) &&
                       std::memchr(f->new_member, 0, sizeof f->new_member);
    if (!ended || f->kind < DR_COMPAT_TYPE_REMOVED || f->kind > DR_COMPAT_UNION_ID ||
        (f->is_break && f->first > f->last))
        std::abort();
}

void check(const DrLib *a, const DrLib *b, bool same) {
    Seen s;
    const int breaks = dr_compat_check(a, b, seen, &s);
    if (breaks != s.breaks || (same && s.findings != 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    uint32_t split = 0;
    for (int i = 0; i < 4; ++i) split |= uint32_t{data[i]} << (8 * i);
    if (split > size - 4) split = static_cast<uint32_t>(size - 4);
    DrLib *a = load(data + 4, split);
    DrLib *b = load(data + 4 + split, size - 4 - split);
    if (a) check(a, a, true);
    if (b) check(b, b, true);
    if (a && b) {
        check(a, b, false);
        check(b, a, false);
    }
    dr_free_lib(a);
    dr_free_lib(b);
    return 0;
}
