/* dr_compile.h: the typelib compiler, from an XML source to a typelib image.
 *
 * The source is the XML that `drtool xml` writes (docs/typelib-xml.md describes every
 * element, attribute and default). The image that comes out is one block made with
 * malloc, released with dr_free_lib, and always accepted by dr_load_lib.
 *
 * Link the CMake target `dr_compile` (which links expat) besides `dr`.
 */
#ifndef DR_DR_COMPILE_H
#define DR_DR_COMPILE_H

#include <stddef.h>

#include "dr/dr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Why a compile failed and where: the caller's own storage, filled on failure. */
typedef struct DrCompileError {
    int line;           /* 1-based source line; 0 when the error has no place in the source */
    int column;         /* 1-based byte column on that line; 0 likewise */
    char message[256];  /* one line without the place, e.g. "unknown type 'Pos'" */
} DrCompileError;

/* Compiles `len` bytes of XML source. On success *out holds a new image and 0 is returned;
   on failure -1, *out is unchanged and *err (when not NULL) says why and where. */
int dr_compile(DrLib **out, const char *source, size_t len, DrCompileError *err);
/* As dr_compile, reading the source from a file; an unreadable file is an error at line 0. */
int dr_compile_file(DrLib **out, const char *path, DrCompileError *err);

/* Where `len` bytes of XML source declare the type named `type` (member NULL or empty) or
   its member named `member`: the 1-based line and byte column of that element. 0 when found;
   -1 when the source is not well-formed or declares no such element (*line and *column 0). */
int dr_compile_place(const char *source, size_t len, const char *type, const char *member, int *line, int *column);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DR_DR_COMPILE_H */
