/* dr_stream.h: records back to back in a byte stream.
 *
 * Over a stream (a TCP connection, a pipe, a file of records) network forms follow one
 * another without separators and arrive cut at arbitrary points. These functions tell, for
 * the bytes at the front of such a stream, whether a whole record is there and how long it
 * is, whether more bytes are needed and how many at least, or whether the bytes can never
 * start a record.
 *
 * A record's length is what dr_net_to_host consumes when it decodes the record's own bytes,
 * and nothing more, into a zeroed host record of the type's datasize bytes. A record of a
 * type whose last member carries its length at a fixed place in a fixed head (the sample's
 * Message, whose body length lies in bodyLen) is measured from that field alone, without
 * decoding: its body is judged only when it is decoded. Any other record is measured by
 * walking it with the decoder's rules, without heap memory (but see dr_measure_record),
 * within the walk's step budget and never reading past the bytes given.
 *
 * Every function is reentrant: state lives only in the caller's storage.
 */
#ifndef DR_DR_STREAM_H
#define DR_DR_STREAM_H

#include "dr/dr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Outcome of dr_measure_record. */
typedef enum DrStreamStatus {
    DR_STREAM_RECORD = 0, /* a whole record starts the bytes; *record_len is its network length */
    DR_STREAM_MORE = 1,   /* the bytes are a prefix of a record; *record_len is the least total
                             number of bytes to have before asking again (> len) */
    DR_STREAM_BAD = -1    /* the bytes can never start a record; *err says why and where */
} DrStreamStatus;

/* Measures the record of type `meta` at the start of the `len` bytes at `net` for `version`
   (0 = newest). Returns a DrStreamStatus. *record_len (never NULL) is set on every return: the
   record's length, the least number of bytes to have before asking again, or on DR_STREAM_BAD
   the network offset of the piece that failed. *err (when not NULL) says why a record is bad
   (DR_E_VERSION, DR_E_STRING, DR_E_COUNT, ...; net_offset as for dr_net_to_host_ex) and is
   DR_OK otherwise. Bytes after the record are never looked at. A measured record always
   decodes: dr_net_to_host over its *record_len bytes succeeds and consumes them all, except
   that the body of a record measured from its length field is not judged here.
   The host record the walk fills lives on the stack for types of up to
   DR_STREAM_STACK_HOST bytes; a larger type takes one heap allocation per call (DR_E_MEMORY
   when that fails): a DrStreamReader with scratch of the caller's avoids it. */
int dr_measure_record(const DrMeta *meta, const char *net, int32_t len, int version, int32_t *record_len,
                      DrError *err);

/* Host bytes dr_measure_record keeps on its own stack. */
#define DR_STREAM_STACK_HOST 4096

/* The state of one reader of a stream, in the caller's storage: it measures the record at
   the front of the bytes not yet taken, and while fewer bytes than a previous answer asked
   for are there it answers DR_STREAM_MORE again without walking. So a caller may ask after
   every piece that arrives; a record cut into many pieces is walked only when the bytes
   asked for have come. Fields are read-only for the caller but `walks`. */
typedef struct DrStreamReader {
    const DrMeta *meta;
    int version;
    char *scratch;        /* host record of the walk: the caller's, or NULL for the call's own */
    int32_t scratch_len;  /* its bytes: at least the type's datasize when scratch is not NULL */
    int32_t need;         /* bytes to have before the record at the front is walked again */
    int32_t walks;        /* walks made since init: what the reader cost */
} DrStreamReader;

/* Sets up a reader of records of `meta` at `version`. scratch (NULL, or scratch_len >= the
   type's datasize bytes) holds the host record while measuring; it is overwritten. Returns 0,
   or -1 for a NULL reader or meta or a scratch too small (then no scratch is used). */
int dr_stream_reader_init(DrStreamReader *reader, const DrMeta *meta, int version, char *scratch,
                          int32_t scratch_len);

/* As dr_measure_record for the bytes at the front of the stream, which must start at the
   same record on every call until one returns DR_STREAM_RECORD (the caller then takes
   *record_len bytes, and the next call measures the record after them) or DR_STREAM_BAD. */
int dr_stream_reader_measure(DrStreamReader *reader, const char *net, int32_t len, int32_t *record_len,
                             DrError *err);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DR_DR_STREAM_H */
