/* json_consumer.c: compiles a typelib source and reads a record from JSON through the
   installed dr_compile and dr_json, linked by their pkg-config files alone. */
#include <stdio.h>
#include <string.h>

#include "dr/dr_compile.h"
#include "dr/dr_json.h"

int main(void) {
    static const char source[] =
        "<typelib name=\"t\"><type name=\"P\" id=\"1\"><item name=\"x\" type=\"short\"/></type></typelib>";
    char json[] = "{\"x\": -2}", host[2], net[2];
    DrLib *lib;
    const DrMeta *meta;
    DrCompileError cerr;
    DrJsonError jerr;
    if (dr_compile(&lib, source, strlen(source), &cerr) != 0) return 1;
    DrBuffer text = {json, (int32_t)strlen(json)}, rec = {host, sizeof host}, out = {net, sizeof net};
    int rc = dr_meta_by_name(lib, "P", &meta) == 0 && dr_json_to_host(meta, &rec, &text, 0, &jerr) == 0 &&
             (rec.len = sizeof host, dr_host_to_net(meta, &out, &rec, 0) == 0);
    if (rc) printf("P: %02x %02x\n", (unsigned char)net[0], (unsigned char)net[1]);
    dr_free_lib(lib);
    return rc ? 0 : 1;
}
