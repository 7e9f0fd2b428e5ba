// lib_io.cc: creating an empty image, loading an image whole from a stream, saving it.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "dr/platform/staged_file.h"
#include "dr/text/error.h"
#include "dr/typelib/image.h"
#include "dr/typelib/load.h"
#include "dr/typelib/verify.h"

extern "C" int dr_init_lib(void *buf, const DrLibParams *p) {
    if (buf == nullptr || p == nullptr) return -1;
    // Each meta has a row in the id index, the name index and the directory.
    const int64_t tables = int64_t{dr::kMacroRow} * p->max_macros +
                           int64_t{dr::kIdRow + dr::kNameRow + dr::kDirRow} * p->max_metas;
    if (p->size <= 0 || p->max_metas <= 0 || p->max_macros < 0 || dr::kHeaderSize + tables >= p->size)
        return -1;
    std::memset(buf, 0, static_cast<size_t>(p->size));
    DrLibHeader *h = static_cast<DrLibHeader *>(buf);
    h->magic = dr::kMagic;
    h->build = dr::kBuild;
    h->id = p->id;
    h->size = p->size;
    h->version = p->version;
    h->padding = p->padding;
    h->max_metas = p->max_metas;
    h->max_macros = p->max_macros;
    h->macro_off = 0;
    h->id_index_off = dr::kMacroRow * p->max_macros;
    h->name_index_off = h->id_index_off + dr::kIdRow * p->max_metas;
    h->dir_off = h->name_index_off + dr::kNameRow * p->max_metas;
    h->data_off = h->dir_off + dr::kDirRow * p->max_metas;
    h->free_off = h->data_off;
    const void *nul = std::memchr(p->name, 0, sizeof h->name - 1);
    std::memcpy(h->name, p->name, nul ? static_cast<const char *>(nul) - p->name : sizeof h->name - 1);
    return 0;
}

namespace dr {
namespace {

// Reads up to n bytes; a read error is told apart from the end of the stream.
size_t read_some(std::FILE *fp, char *to, size_t n, LoadResult &r) {
    const size_t got = std::fread(to, 1, n, fp);
    if (got < n && std::ferror(fp)) {
        r.why = LoadResult::kReadError;
        r.error = errno;
    }
    return got;
}

struct FreeImage {
    void operator()(void *p) const { std::free(p); }
};

}  // namespace

LoadResult load_image(std::FILE *fp, DrLib **out) {
    LoadResult r;
    errno = 0;
    const bool seekable = std::fseek(fp, 0, SEEK_SET) == 0;
    DrLibHeader head;
    char *const head_bytes = reinterpret_cast<char *>(&head);
    const size_t got = read_some(fp, head_bytes, sizeof head, r);
    if (r.why != LoadResult::kLoaded) return r;
    // The mark is checked on whatever part of it is there, before any length.
    const unsigned char mark[2] = {kMagic & 0xFF, kMagic >> 8};
    if (got == 0) return r.why = LoadResult::kEmpty, r;
    if (std::memcmp(head_bytes, mark, got < 2 ? got : 2) != 0) return r.why = LoadResult::kNoMark, r;
    if (got < sizeof head) return r.why = LoadResult::kShort, r.have = static_cast<int64_t>(got), r;
    if (head.magic != kMagic) return r.why = LoadResult::kNoMark, r;
    if (head.build != kBuild) return r.why = LoadResult::kFormatLevel, r.have = head.build, r;
    r.want = head.size;
    if (head.size < kHeaderSize) return r.why = LoadResult::kBadSize, r;
    if (seekable) {
        if (std::fseek(fp, 0, SEEK_END) != 0) return r.why = LoadResult::kReadError, r.error = errno, r;
        const long length = std::ftell(fp);
        if (length < 0 || std::fseek(fp, kHeaderSize, SEEK_SET) != 0)
            return r.why = LoadResult::kReadError, r.error = errno, r;
        if (length != head.size) return r.why = LoadResult::kLength, r.have = length, r;
    }
    // A stream that cannot tell its length is read in growing steps, so that a header
    // announcing more than the stream holds costs no more memory than the bytes that came.
    const size_t size = static_cast<size_t>(head.size);
    size_t cap = seekable ? size : std::min<size_t>(size, size_t{1} << 16);
    std::unique_ptr<char, FreeImage> image(static_cast<char *>(std::calloc(1, cap)));
    if (!image) return r.why = LoadResult::kNoMemory, r;
    std::memcpy(image.get(), head_bytes, sizeof head);
    size_t have = sizeof head;
    while (have < size) {
        if (have == cap) {
            cap = std::min(size, cap * 2);
            char *grown = static_cast<char *>(std::realloc(image.get(), cap));
            if (!grown) return r.why = LoadResult::kNoMemory, r;
            image.release();
            image.reset(grown);
        }
        const size_t n = read_some(fp, image.get() + have, cap - have, r);
        if (r.why != LoadResult::kLoaded) return r;
        have += n;
        if (n == 0) return r.why = LoadResult::kEndedEarly, r.have = static_cast<int64_t>(have), r;
    }
    if (!seekable && std::fgetc(fp) != EOF) return r.why = LoadResult::kGoesOn, r;
    if (!seekable && std::ferror(fp)) return r.why = LoadResult::kReadError, r.error = errno, r;
    try {
        r.check = verify_image(image.get(), head.size);
    } catch (const std::bad_alloc &) {
        return r.why = LoadResult::kNoMemory, r;
    }
    if (r.check != nullptr) return r.why = LoadResult::kContent, r;
    *out = reinterpret_cast<DrLib *>(image.release());
    return r;
}

// The reason of a refused load as a DrError: the code, and the text that completes
// "<file> is not a typelib: ..." (or names the mark, the format level or the errno).
int load_error(const LoadResult &r, DrError *err) {
    char text[96];
    const long long have = r.have, want = r.want;
    switch (r.why) {
    case LoadResult::kLoaded: return set_error(err, DR_OK);
    case LoadResult::kEmpty: return set_error(err, DR_E_IMAGE, "the file is empty");
    case LoadResult::kNoMark: return set_error(err, DR_E_NOT_TYPELIB, "no typelib mark");
    case LoadResult::kShort:
        std::snprintf(text, sizeof text, "%lld bytes, shorter than the 112-byte header", have);
        return set_error(err, DR_E_IMAGE, text);
    case LoadResult::kFormatLevel:
        std::snprintf(text, sizeof text, "format level %lld", have);
        return set_error(err, DR_E_FORMAT_LEVEL, text);
    case LoadResult::kBadSize:
        std::snprintf(text, sizeof text, "its header announces %lld bytes, fewer than the header itself", want);
        return set_error(err, DR_E_IMAGE, text);
    case LoadResult::kLength:
        std::snprintf(text, sizeof text, "the file holds %lld bytes, but its header announces %lld", have, want);
        return set_error(err, DR_E_IMAGE, text);
    case LoadResult::kEndedEarly:
        std::snprintf(text, sizeof text, "the input ended after %lld of the %lld bytes its header announces", have,
                      want);
        return set_error(err, DR_E_IMAGE, text);
    case LoadResult::kGoesOn:
        std::snprintf(text, sizeof text, "the input goes on past the %lld bytes its header announces", want);
        return set_error(err, DR_E_IMAGE, text);
    case LoadResult::kContent: return set_error(err, DR_E_IMAGE, r.check);
    case LoadResult::kReadError: return set_error(err, DR_E_READ, std::strerror(r.error));
    case LoadResult::kNoMemory: return set_error(err, DR_E_MEMORY);
    }
    return set_error(err, DR_E_READ);
}

}  // namespace dr

extern "C" int dr_load_lib(DrLib **out, FILE *fp) { return dr_load_lib_ex(out, fp, nullptr); }

extern "C" int dr_load_lib_file_ex(DrLib **out, const char *path, DrError *err) {
    if (path == nullptr) return dr::set_error(err, DR_E_ARGUMENT);
    FILE *fp = std::fopen(path, "rb");
    if (fp == nullptr) return dr::set_error(err, DR_E_OPEN, std::strerror(errno));
    const int rc = dr_load_lib_ex(out, fp, err);
    std::fclose(fp);
    return rc;
}

extern "C" int dr_load_lib_file(DrLib **out, const char *path) { return dr_load_lib_file_ex(out, path, nullptr); }

extern "C" int dr_save_lib(const DrLib *lib, FILE *fp) {
    if (lib == nullptr || fp == nullptr) return -1;
    const int32_t size = dr::header(lib)->size;
    if (size < dr::kHeaderSize) return -1;  // no image is shorter than its header
    return std::fwrite(lib, 1, static_cast<size_t>(size), fp) == static_cast<size_t>(size) ? 0 : -1;
}

extern "C" int dr_save_lib_file(const DrLib *lib, const char *path) {
    if (lib == nullptr) return -1;
    return dr::write_whole_file(path, false, [&](std::FILE *fp) { return dr_save_lib(lib, fp); });
}

