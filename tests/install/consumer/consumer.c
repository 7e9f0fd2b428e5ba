/* consumer.c: loads a typelib through the installed library and encodes one record. */
#include <stdio.h>

#include "dr/dr.h"

int main(int argc, char **argv) {
    DrLib *lib;
    const DrMeta *meta;
    char host[64] = {0}, net[64];
    DrBuffer out = {net, sizeof net}, in = {host, sizeof host};
    if (argc != 2 || dr_load_lib_file(&lib, argv[1]) != 0) return 1;
    if (dr_meta_by_name(lib, "Position", &meta) != 0 || dr_host_to_net(meta, &out, &in, 0) != 0) {
        dr_free_lib(lib);
        return 1;
    }
    printf("%s: %d host bytes, %d network bytes\n", meta->name, (int)meta->datasize, (int)out.len);
    dr_free_lib(lib);
    return 0;
}
