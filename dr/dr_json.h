/* dr_json.h: records as JSON, both ways (library dr_json, which links dr).
 *
 * A struct record is an object of its members in member order; an array member is an
 * array of the elements in use; a string is a JSON string; a union member is an object
 * with one key, the selected member. docs/json.md gives the whole mapping. Members newer
 * than the requested version are absent, as in the codec, whose member walk both
 * directions follow.
 *
 * Conventions as in dr.h: 0 is success and -1 failure, and a DrBuffer's length is a
 * capacity (or readable size) on entry and a cursor offset on return.
 */
#ifndef DR_DR_JSON_H
#define DR_DR_JSON_H

#include "dr/dr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Why a JSON text was refused, and where. */
typedef struct DrJsonError {
    int32_t offset;     /* byte offset in the JSON text */
    int32_t line;       /* 1-based line of that offset */
    int32_t column;     /* 1-based column, in bytes */
    char path[256];     /* JSON path of the value, such as players[3].pos.x; empty for the
                           whole record; a longer one keeps its ends around "..." */
    char message[512];  /* "line L, column C: what is wrong (at PATH)", the path shortened
                           in the middle so that the reason always fits */
} DrJsonError;

/* Writes the host record as JSON to the stream, ending with a line feed. indent 0 writes
   one line without blanks; indent N > 0 puts each member on its own line, N blanks deeper
   per level (at most 16). host->len becomes the host cursor, as for dr_print_data. -1 when the walk
   stops at a member that the codec would refuse (the text written so far stays). */
int dr_print_data_json(const DrMeta *meta, FILE *fp, DrBuffer *host, int version, int indent);
/* As dr_print_data_json into out (capacity >= 1 in, text length out), without the final
   line feed. The text is cut at the first piece that does not fit, the buffer's last byte
   staying its terminator: -1 then, with out->len the length of the pieces kept. */
int dr_sprint_data_json(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version, int indent);

/* Reads a record of type meta from the JSON text in json (json->len bytes; no terminator
   needed; a leading UTF-8 byte-order mark is passed over) into host. The whole host capacity (host->len) is cleared first, so whatever the
   JSON leaves out is 0; count and selector members left out are set from the array or the
   union member they govern. Nothing is written at or past host->data + host->len.
   On return host->len is the host cursor and json->len the bytes read: all of them on
   success, the offset of the fault on failure. -1 refuses malformed or truncated JSON and
   any value that does not fit its member: err (when not NULL) then says why and where. */
int dr_json_to_host(const DrMeta *meta, DrBuffer *host, DrBuffer *json, int version, DrJsonError *err);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DR_DR_JSON_H */
