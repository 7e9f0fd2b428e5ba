// lib_entry.cc: the C entry points that load and free an image. They live above the typelib
// layer because a loaded, verified image gets its plans here and drops them when freed.
#include <cstdlib>

#include "dr/plan/plan.h"
#include "dr/text/error.h"
#include "dr/typelib/load.h"

extern "C" int dr_load_lib_ex(DrLib **out, FILE *fp, DrError *err) {
    if (out == nullptr || fp == nullptr) return dr::set_error(err, DR_E_ARGUMENT);
    const int rc = dr::load_error(dr::load_image(fp, out), err);
    if (rc == 0) dr::plan::attach(*out);  // a verified image gets its plans
    return rc;
}

extern "C" void dr_free_lib(DrLib *lib) {
    dr::plan::detach(lib);
    std::free(lib);
}
