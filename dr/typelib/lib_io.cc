// lib_io.cc: creating an empty image, loading an image whole from a stream, saving it.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "dr/text/error.h"
#include "dr/typelib/image.h"
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

extern "C" int dr_load_lib_ex(DrLib **out, FILE *fp, DrError *err) {
    using dr::set_error;
    if (out == nullptr || fp == nullptr) return set_error(err, DR_E_ARGUMENT);
    if (std::fseek(fp, 0, SEEK_END) != 0) return set_error(err, DR_E_READ, "the stream cannot seek");
    const long length = std::ftell(fp);
    if (length < 0) return set_error(err, DR_E_READ, "the stream cannot tell its length");
    // One byte read first tells a stream that cannot be read (a directory) from a long one.
    if (std::fseek(fp, 0, SEEK_SET) != 0 || (std::fgetc(fp) == EOF && std::ferror(fp)) ||
        std::fseek(fp, 0, SEEK_SET) != 0)
        return set_error(err, DR_E_READ);
    if (length == 0) return set_error(err, DR_E_IMAGE, "the file is empty");
    if (length > INT32_MAX) return set_error(err, DR_E_IMAGE, "longer than an image can be");
    void *image = std::calloc(1, static_cast<size_t>(length));
    if (image == nullptr) return set_error(err, DR_E_READ, "out of memory");
    const size_t got = std::fread(image, 1, static_cast<size_t>(length), fp);
    if (got < static_cast<size_t>(length) && std::ferror(fp)) {
        std::free(image);
        return set_error(err, DR_E_READ);
    }
    const char *why = nullptr;
    bool memory = false;
    try {
        why = dr::verify_image(image, static_cast<int64_t>(got));
    } catch (const std::bad_alloc &) {
        memory = true;
    }
    if (memory || why != nullptr) {
        std::free(image);
        return memory ? set_error(err, DR_E_READ, "out of memory") : set_error(err, DR_E_IMAGE, why);
    }
    *out = static_cast<DrLib *>(image);
    return set_error(err, DR_OK);
}

extern "C" int dr_load_lib(DrLib **out, FILE *fp) { return dr_load_lib_ex(out, fp, nullptr); }

extern "C" int dr_load_lib_file_ex(DrLib **out, const char *path, DrError *err) {
    if (path == nullptr) return dr::set_error(err, DR_E_ARGUMENT);
    FILE *fp = std::fopen(path, "rb");
    if (fp == nullptr) return dr::set_error(err, DR_E_OPEN);
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
    if (path == nullptr) return -1;
    FILE *fp = std::fopen(path, "wb");
    if (fp == nullptr) return -1;
    const int rc = dr_save_lib(lib, fp);
    std::fclose(fp);
    return rc;
}

extern "C" void dr_free_lib(DrLib *lib) { std::free(lib); }
