/* usage.c: loads a typelib, finds a type, encodes a host record and decodes it back. */
#include <stdio.h>
#include <string.h>

#include "dr/dr.h"

#pragma pack(1)
typedef struct { float x; float y; short nHeading; } POSITION; /* as `drtool header` writes it */
#pragma pack()

int main(int argc, char **argv) {
    DrLib *lib;
    const DrMeta *meta;
    if (argc != 2 || dr_load_lib_file(&lib, argv[1]) != 0) return 1; /* examples/proto.tlb */
    if (dr_meta_by_name(lib, "Position", &meta) != 0) return dr_free_lib(lib), 1;

    POSITION pos = {1.5f, -2.25f, 90}, back = {0};
    char net[64];
    DrBuffer out = {net, sizeof net}, in = {(char *)&pos, sizeof pos};
    int rc = dr_host_to_net(meta, &out, &in, 0); /* 0: the newest version */
    printf("encoded %d bytes\n", (int)out.len); /* out.len: bytes written */

    DrBuffer wire = {net, out.len}, host = {(char *)&back, sizeof back};
    if (rc == 0) rc = dr_net_to_host(meta, &host, &wire, 0);
    printf("decoded: %s\n", rc == 0 && memcmp(&pos, &back, sizeof pos) == 0 ? "the same record" : "failed");
    dr_free_lib(lib);
    return rc == 0 ? 0 : 1;
}
