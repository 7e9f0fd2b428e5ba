/* dr.h: the public C interface of the typelib-driven record codec.
 *
 * A typelib is one contiguous little-endian image (a DrLibHeader and a data area)
 * describing C record types. With it these functions convert a record between host
 * form (a C struct in memory) and network form (packed, big-endian), render a record
 * as text or XML, and describe a whole typelib as XML, a C header or a listing.
 *
 * Conventions: 0 is success and -1 failure; out-parameters of lookups get a sentinel
 * (-1 or NULL) on failure. No function prints a message of its own. A DrBuffer's
 * length is a capacity (or readable size) on entry and a cursor offset on return.
 *
 * Files written by path (dr_save_lib_file, dr_print_data_xml_file, dr_print_lib_xml_file,
 * dr_write_header_file, dr_write_header_file_ex) appear whole or not at all. A regular file,
 * or a symlink to one, is written to a scratch file beside it and renamed over it once every
 * write and the close succeeded: a symlink stays a symlink and the file keeps its mode. A
 * device or FIFO is written in place. They return -1 when the file cannot be created, the
 * content cannot be written whole, or a write or the close fails; a file they would have
 * replaced is then left as it was.
 */
#ifndef DR_DR_H
#define DR_DR_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Frames of the member walk, the top-level record included: 31 nested levels below it. */
#define DR_MAX_DEPTH 32

/* Type codes (DrEntry.type_code, DrBaseType.code). The walk descends into a union or
   struct member, carries a string with its length and converts every other code as a
   scalar. No base type row carries 8 or 9; the renderers treat them as 6 and 7. */
#define DR_TYPE_UNION 0
#define DR_TYPE_STRUCT 1
#define DR_TYPE_CHAR 2
#define DR_TYPE_UCHAR 3
#define DR_TYPE_SHORT 4
#define DR_TYPE_USHORT 5
#define DR_TYPE_INT 6
#define DR_TYPE_UINT 7
#define DR_TYPE_LONG 8
#define DR_TYPE_ULONG 9
#define DR_TYPE_LONGLONG 10
#define DR_TYPE_ULONGLONG 11
#define DR_TYPE_DATE 12
#define DR_TYPE_TIME 13
#define DR_TYPE_DATETIME 14
#define DR_TYPE_MONEY 15
#define DR_TYPE_FLOAT 16
#define DR_TYPE_DOUBLE 17
#define DR_TYPE_STRING 18

/* Rows of the base type table (DrEntry.type, DrMeta.sizetype) are 0..DR_BASE_TYPE_COUNT-1. */
#define DR_BASE_TYPE_COUNT 19

/* DrEntry.io bit: the member is left out of the XML rendering of a record. */
#define DR_IO_NO_XML 2

/* The 112-byte header at image offset 0. Table offsets count from the data area,
   which starts at image offset 112. */
typedef struct DrLibHeader {
    uint16_t magic;          /* 0x4455 */
    uint16_t build;          /* 103 */
    int32_t id;              /* library id; -1 = none */
    int32_t size;            /* bytes in the whole image, header included */
    int32_t reserved1, reserved2, reserved3, reserved4, reserved5;
    int32_t version;         /* library version */
    int32_t padding;         /* shown by the descriptions only */
    int32_t max_metas;       /* rows reserved in each meta table */
    int32_t meta_count;
    int32_t max_macros;      /* rows reserved in the macro table */
    int32_t macro_count;
    int32_t free_off;        /* first free byte after the meta records */
    int32_t macro_off;       /* macro table (36-byte rows, sorted by name) */
    int32_t id_index_off;    /* meta id index (8-byte rows, sorted by id) */
    int32_t name_index_off;  /* meta name index (36-byte rows, sorted by name) */
    int32_t dir_off;         /* meta directory (8-byte rows, presentation order) */
    int32_t data_off;        /* start of the meta records */
    char name[32];
} DrLibHeader;

/* The image itself: a DrLib* is the address of its first byte, where its header lies. */
typedef struct DrLib DrLib;

/* A named integer constant, 36 bytes. */
typedef struct DrMacro {
    char name[32];
    int32_t id; /* the macro's value */
} DrMacro;

/* One member of a record type, 152 bytes. The (offset, width) pairs point at other
   members of the same host record; a width of 0 means none. */
typedef struct DrEntry {
    int32_t id;            /* entry id; in a union, the selector value (-1 first = default) */
    int32_t meta_off;      /* data-area offset of the member's DrMeta; -1 for a base type */
    int32_t io;            /* flag bits; DR_IO_NO_XML = left out of the XML rendering */
    int32_t io_macro;      /* macro index for io, or -1 */
    int32_t version;       /* version that introduced the member */
    int32_t version_macro;
    int32_t size;          /* host bytes of the member (all declared elements) */
    int32_t off;           /* host offset inside the enclosing record */
    int32_t count;         /* declared element count: 1 single, N array, 0 unbounded */
    int32_t unit;          /* bytes of one element */
    int32_t count_macro;
    int32_t id_macro;
    int32_t type;          /* base type row 0..18, or -1 */
    int32_t type_code;     /* dispatch code: DR_TYPE_UNION, DR_TYPE_STRUCT, DR_TYPE_STRING, else scalar */
    int32_t target_off;    /* described only */
    int32_t target_size;
    int32_t netlen_pos;    /* < 0: inline length field of -netlen_pos bytes; >= 0: fixed position */
    int32_t netlen_size;   /* width of the element length field: 2, 4, other nonzero = 1, 0 none */
    int32_t refer_off;     /* host offset of the member holding the element count */
    int32_t refer_size;    /* its width; <= 0 = no count member */
    int32_t select_off;    /* host offset of the union selector member */
    int32_t select_size;   /* its width */
    char name[32];
    char desc[32];
} DrEntry;

/* One struct or union type: an 88-byte head followed by `count` entries. */
typedef struct DrMeta {
    int32_t reserved0;
    int32_t reserved1;
    int32_t sizewidth;     /* width of the type's size field (described only) */
    int32_t sizetype;      /* base type row of that field (described only) */
    int32_t id;            /* type id, key of the id index */
    int32_t id_macro;
    int32_t datasize;      /* host size of one record; the stride of an array */
    int32_t self_off;      /* data-area offset of this record: leads back to the image */
    int32_t reserved2;
    int32_t count;         /* number of entries */
    int32_t idxtype;       /* described only */
    int32_t is_struct;     /* nonzero struct, 0 union */
    int32_t version_macro;
    int32_t version;       /* a request below this version is refused */
    char name[32];
    DrEntry entries[];     /* `count` entries follow the head */
} DrMeta;

/* One row of the constant base type table. */
typedef struct DrBaseType {
    const char *name;      /* type name; key of dr_type_by_name */
    const char *cname;     /* C type written by the header generator */
    const char *prefix;    /* member name prefix when count is 1 */
    const char *arrprefix; /* member name prefix when count is not 1 */
    int32_t code;          /* the type code stored in an entry's type_code */
    int32_t size;          /* bytes of one value; 0 for union and struct */
    int32_t byteorder;     /* 1 for numbers of two or more bytes */
} DrBaseType;

/* A byte pointer and a signed length (capacity or readable size in; cursor out). */
typedef struct DrBuffer {
    char *data;
    int32_t len;
} DrBuffer;

/* What dr_init_lib needs to create an empty image. */
typedef struct DrLibParams {
    int32_t version;
    int32_t padding;
    int32_t size;          /* bytes in the caller's buffer */
    int32_t id;
    int32_t max_macros;
    int32_t max_metas;
    char name[32];
} DrLibParams;

/* Why a call failed (DrError.code). */
typedef enum DrErrorCode {
    DR_OK = 0,
    DR_E_ARGUMENT,     /* a null pointer, or an output buffer without room for its NUL */
    DR_E_OPEN,         /* the file cannot be opened (text: the system's reason) */
    DR_E_READ,         /* the stream cannot be read (text: the system's reason) */
    DR_E_MEMORY,       /* memory ran out */
    DR_E_NOT_TYPELIB,  /* the bytes do not begin with the typelib mark */
    DR_E_FORMAT_LEVEL, /* a typelib of another format level (text: "format level N") */
    DR_E_IMAGE,        /* a typelib image that is cut, too long or unsound (text: which check) */
    DR_E_VERSION,      /* the requested version is older than the record type */
    DR_E_COUNT,        /* a count member holds a negative count or one above the declared count */
    DR_E_DEPTH,        /* records nested deeper than DR_MAX_DEPTH frames */
    DR_E_STEPS,        /* overlapping members repeat the walk past its step budget */
    DR_E_TYPE,         /* a member's description cannot be followed (unit, type reference) */
    DR_E_HOST_END,     /* a member lies outside the host buffer */
    DR_E_STRING,       /* a string without its NUL, or a network string length out of range */
    DR_E_NET_END,      /* the network buffer ends before the record does */
    DR_E_LENGTH_FIELD, /* an element length field lies outside the network buffer */
    DR_E_LENGTH_PAST,  /* an element length field points past the end of the network bytes */
    DR_E_CUT           /* the text did not fit the output buffer, or a value has no text form */
} DrErrorCode;

/* Why and where a call failed, filled by the _ex variants in the caller's storage.
   Offsets are -1 where they do not apply. A codec or rendering failure gives the network
   offset of the piece that failed (for a length field, the field itself) and the host
   offset of the member being taken. On success code is DR_OK and the offsets are the
   returned lengths; a decode then gives as net_offset the end of the furthest byte it read
   (past the returned length when a length field moved it back), and as text a note on the
   first element whose length field disagreed with the bytes its members took, else "". */
typedef struct DrError {
    int code;            /* a DrErrorCode */
    int32_t net_offset;
    int32_t host_offset;
    char text[320];      /* one line, NUL-terminated */
} DrError;

/* ---- typelib ---------------------------------------------------------------------- */

/* Creates an empty image in buf (params->size bytes). -1 leaves buf untouched. */
int dr_init_lib(void *buf, const DrLibParams *params);
/* Reads an image from a stream and verifies it; *out is set only on success. The header
   comes first: without the mark and format level nothing more is read. A seekable stream is
   read from its start and must be exactly the header's size long; a pipe is read from where
   it stands up to that size and must end there. The stream is left open. */
int dr_load_lib(DrLib **out, FILE *fp);
/* As dr_load_lib, from a file opened by path in binary mode. */
int dr_load_lib_file(DrLib **out, const char *path);
/* As dr_load_lib and dr_load_lib_file; *err (when not NULL) says why an image was refused. */
int dr_load_lib_ex(DrLib **out, FILE *fp, DrError *err);
int dr_load_lib_file_ex(DrLib **out, const char *path, DrError *err);
/* Writes the image's `size` bytes to the stream; -1 when not all were written. */
int dr_save_lib(const DrLib *lib, FILE *fp);
/* As dr_save_lib, to the file at path (whole or not at all, see above). */
int dr_save_lib_file(const DrLib *lib, const char *path);
/* Releases an image made by dr_load_lib; NULL is ignored. */
void dr_free_lib(DrLib *lib);
/* Finds a macro by exact name; *value is its value, or -1 when absent. */
int dr_macro_by_name(const DrLib *lib, const char *name, int *value);
/* Finds a type by exact name; *meta points into the image, or is NULL when absent. */
int dr_meta_by_name(const DrLib *lib, const char *name, const DrMeta **meta);
/* Finds a type by id; *meta points into the image, or is NULL when absent. */
int dr_meta_by_id(const DrLib *lib, int id, const DrMeta **meta);
/* Finds a member by id: linear in a struct, binary search in a union. *pos = -1 when absent. */
int dr_entry_by_id(const DrMeta *meta, int id, int *pos);
/* Row index (0..18) of a base type by name, ASCII case ignored; -1 when none. */
int dr_type_by_name(const char *name);
/* Base type row by index 0..18; NULL for any other index (images may store such rows). */
const DrBaseType *dr_type_at(int index);
/* Row index of the first base type with this code; -1 when none. */
int dr_type_by_code(int code);

/* ---- codec ------------------------------------------------------------------------ */

/* The host and network buffers of one call must not overlap: elements are copied and
   byte-swapped on the assumption that source and destination are apart. */

/* Encodes the host record into network form for `version` (0 = newest).
   net->len: capacity in, bytes written out (never more than the capacity); host->len:
   readable bytes in, host cursor out. Fails (-1) rather than reach outside either buffer:
   members, count and selector members, fixed-position length fields, array elements that
   would start past the host end, and element units other than 1, 2, 4 and 8.
   An unresolved union selector inside one element of an array of records ends that
   element only: the following elements keep the array's count and host stride and start
   again at the first member of the element's type. */
int dr_host_to_net(const DrMeta *meta, DrBuffer *net, DrBuffer *host, int version);
/* Decodes network form into the host record (not cleared first), with the same walk and
   the same bounds as dr_host_to_net; a length field outside the input fails the call.
   host->len: capacity in, host cursor out; net->len: bytes available in, consumed out. */
int dr_net_to_host(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version);
/* As dr_host_to_net and dr_net_to_host, with the same results and lengths; *err (when
   not NULL) says why and where a call failed. Sizing: dr_host_to_net_ex with net->data NULL
   writes nothing and takes the capacity as unbounded; net->len returns the smallest
   capacity with which the same call succeeds. (dr_host_to_net takes a NULL pointer as an
   empty buffer.) */
int dr_host_to_net_ex(const DrMeta *meta, DrBuffer *net, DrBuffer *host, int version, DrError *err);
int dr_net_to_host_ex(const DrMeta *meta, DrBuffer *host, DrBuffer *net, int version, DrError *err);

/* ---- record rendering ------------------------------------------------------------- */

/* Writes the record as one line of text to the stream; host->len becomes the host cursor. */
int dr_print_data(const DrMeta *meta, FILE *fp, DrBuffer *host, int version);
/* As dr_print_data into out (capacity >= 1 in, text length out); -1 when cut. */
int dr_sprint_data(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version);
/* Writes the record as XML to the stream; host->len is left unchanged. */
int dr_print_data_xml(const DrMeta *meta, FILE *fp, DrBuffer *host, int version);
/* As dr_print_data_xml into out (capacity >= 1 in, text length out); -1 when cut. */
int dr_sprint_data_xml(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version);
/* As dr_print_data_xml, to the file at path (whole or not at all, see above): a rendering
   that stops leaves no file. */
int dr_print_data_xml_file(const DrMeta *meta, const char *path, DrBuffer *host, int version);
/* As the four renderers above, with the same results and lengths; *err (when not NULL)
   says why and where a rendering failed. */
int dr_print_data_ex(const DrMeta *meta, FILE *fp, DrBuffer *host, int version, DrError *err);
int dr_sprint_data_ex(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version, DrError *err);
int dr_print_data_xml_ex(const DrMeta *meta, FILE *fp, DrBuffer *host, int version, DrError *err);
int dr_sprint_data_xml_ex(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version, DrError *err);

/* ---- typelib description ---------------------------------------------------------- */

/* Describes the whole typelib as XML to the stream; always 0. */
int dr_print_lib_xml(const DrLib *lib, FILE *fp);
/* As dr_print_lib_xml, to the file at path (whole or not at all, see above). */
int dr_print_lib_xml_file(const DrLib *lib, const char *path);
/* As dr_print_lib_xml into buf (*len: capacity in, text length out); -1 when cut. */
int dr_sprint_lib_xml(const DrLib *lib, char *buf, int *len);
/* Writes the dotted path of the member at host offset `offset` of meta; always 0. */
int dr_print_member_path(const DrMeta *meta, int entry, int offset, FILE *fp);
/* As dr_print_member_path at pos within `room` bytes; returns the room used. */
int dr_sprint_member_path(const DrMeta *meta, int entry, int offset, char *pos, int room);
/* As dr_print_lib_xml, but the complete source that the typelib compiler (dr_compile.h)
   turns back into the same image: text escaped, every value that differs from the
   compiler's default, and the element length fields. -1 for a NULL argument, else 0. */
int dr_print_lib_source(const DrLib *lib, FILE *fp);
/* Writes a C header declaring every macro and type to the file at path (whole or not at
   all, see above); its include guard comes from the path's file name (dr_file_to_guard). */
int dr_write_header_file(const DrLib *lib, const char *path, const char *member_prefix);
/* Flags of dr_write_header_file_ex; 0 writes exactly what dr_write_header_file writes. */
#define DR_HEADER_STDINT 1   /* <stdint.h> fixed-width types for every integer member but char */
#define DR_HEADER_CHECKS 2   /* compile-time checks of each type's size and a member offset or two */
#define DR_HEADER_ORDER 4    /* define each type before the types whose members use it */
#define DR_HEADER_PORTABLE (DR_HEADER_STDINT | DR_HEADER_CHECKS | DR_HEADER_ORDER)
/* As dr_write_header_file, with the flags above: with DR_HEADER_PORTABLE the header gives the
   typelib's layout on any host, or does not compile there. */
int dr_write_header_file_ex(const DrLib *lib, const char *path, const char *member_prefix, int flags);
/* As dr_write_header_file_ex, to a stream, with the include guard made from `name` as from a
   path; -1 for a NULL argument, when memory runs out, or when the stream reports an error. */
int dr_write_header(const DrLib *lib, FILE *fp, const char *name, const char *member_prefix, int flags);
/* Writes the C definition of one struct or union to the stream. */
void dr_write_struct_decl(const DrMeta *meta, FILE *fp, const char *member_prefix);
/* Derives an include-guard name (a C identifier) of at most `bound` characters from the text
   after a path's last backslash or slash; out holds bound+1. */
void dr_file_to_guard(char *out, int bound, const char *path);
/* Writes a plain-text listing of every macro, type and member. */
void dr_print_lib_summary(FILE *fp, const DrLib *lib);

/* ---- platform --------------------------------------------------------------------- */

/* Sleeps usec / 1000 whole milliseconds; -1 sleeps forever. Returns 0. */
int dr_usleep(int usec);
/* The memory page size in bytes. */
int dr_getpagesize(void);
/* Gives [addr, addr+len) the platform protection code prot; 0 or -1. */
int dr_mprotect(void *addr, size_t len, int prot);
/* Hooks that do nothing. */
void dr_empty_hook1(void);
void dr_empty_hook2(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
static_assert(sizeof(DrLibHeader) == 112, "DrLibHeader is 112 bytes");
static_assert(sizeof(DrMacro) == 36, "DrMacro is 36 bytes");
static_assert(sizeof(DrMeta) == 88, "DrMeta head is 88 bytes");
static_assert(sizeof(DrEntry) == 152, "DrEntry is 152 bytes");
#else
_Static_assert(sizeof(DrLibHeader) == 112, "DrLibHeader is 112 bytes");
_Static_assert(sizeof(DrMacro) == 36, "DrMacro is 36 bytes");
_Static_assert(sizeof(DrMeta) == 88, "DrMeta head is 88 bytes");
_Static_assert(sizeof(DrEntry) == 152, "DrEntry is 152 bytes");
#endif

#endif /* DR_DR_H */
