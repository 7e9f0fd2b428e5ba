/* dr_compat.h: whether a new typelib still speaks every version of an old one.
 *
 * dr_compat_check compares two loaded images. For every type of OLD that NEW keeps
 * (matched by name), and at every version a peer of OLD may request, NEW must put the same
 * bytes on the wire and read them back to the same values: the same members in the same
 * order with the same base type and width, the same fixed counts and bounds, the same count
 * and selector members, the same union ids choosing the same members, the same element
 * length fields, nested types alike. docs/evolution.md gives every rule with an example.
 *
 * The versions checked for a type run from its own version (at least 1) to OLD's newest:
 * the highest version that OLD's header, types or members name (at least 1). Version 0
 * asks for the newest members of whichever typelib a peer holds, so it is not one of them.
 *
 * Each finding is handed to the caller as a DrCompatFinding: a break, which changes the
 * network form or the values read at the versions it names, or a note, a change that is
 * fine on the wire but matters elsewhere (host layout, type ids). Part of the core library
 * dr; it reads the two images and nothing else.
 */
#ifndef DR_DR_COMPAT_H
#define DR_DR_COMPAT_H

#include "dr/dr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What a finding is about (DrCompatFinding.kind). */
typedef enum DrCompatKind {
    DR_COMPAT_TYPE_REMOVED = 1, /* break: NEW has no type of this name or id */
    DR_COMPAT_TYPE_CLASS,       /* break: a struct became a union or the reverse */
    DR_COMPAT_TYPE_VERSION,     /* break when raised (older versions now refused); note when lowered */
    DR_COMPAT_TYPE_ID,          /* note: the id changed; callers that name the type by id must follow */
    DR_COMPAT_TYPE_RENAMED,     /* note: kept by id under another name */
    DR_COMPAT_HOST_LAYOUT,      /* note: host offsets or size changed; clients must be recompiled */
    DR_COMPAT_MEMBER_REMOVED,   /* break: a member OLD sends is gone at these versions */
    DR_COMPAT_MEMBER_ADDED,     /* break: a member added without a version above OLD's newest */
    DR_COMPAT_MEMBER_MOVED,     /* break: a member in another place among the others */
    DR_COMPAT_MEMBER_RENAMED,   /* note: same place and form under another name */
    DR_COMPAT_MEMBER_TYPE,      /* break: another base type, width or kind of member */
    DR_COMPAT_MEMBER_COUNT,     /* break: another fixed count, array bound or string capacity */
    DR_COMPAT_MEMBER_REFER,     /* break: another count member, or a count member added or dropped */
    DR_COMPAT_MEMBER_SELECT,    /* break: another selector member */
    DR_COMPAT_MEMBER_LENGTH,    /* break: another element length field (width or position) */
    DR_COMPAT_UNION_ID          /* break: a selector value chooses another member, or none */
} DrCompatKind;

/* One finding, in the caller's storage while the callback runs. */
typedef struct DrCompatFinding {
    int is_break;          /* 1: a break at versions [first, last]; 0: a note */
    int kind;              /* a DrCompatKind */
    int32_t first, last;   /* the versions broken (0, 0 for a note) */
    char path[256];        /* OLD's type and member: "Position.x"; "Pos(Spot).x" when NEW holds
                              OLD's Pos under the name Spot, as a member's type; cut to 255 bytes */
    char new_type[32];     /* NEW's type and member that the finding names, to find them in */
    char new_member[32];   /* NEW's source; new_member is empty for a finding about a whole type */
    char text[256];        /* what changed: "was float (4 bytes), now double (8 bytes)" */
} DrCompatFinding;

/* Receives each finding; ctx is dr_compat_check's. */
typedef void (*DrCompatSink)(const DrCompatFinding *finding, void *ctx);

/* Compares NEW with OLD, both images as dr_load_lib or dr_compile give them, and hands each
   finding to sink (when not NULL), breaks and notes in the order of OLD's types. Returns the
   number of breaks (0: every peer of OLD still exchanges the same records with NEW), or -1
   when an image is NULL. */
int dr_compat_check(const DrLib *old_lib, const DrLib *new_lib, DrCompatSink sink, void *ctx);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DR_DR_COMPAT_H */
