// exercise.h: every read-only operation of the library on an image the loader accepted.
#pragma once

#include "dr/dr.h"

// Runs lookups, descriptions, member paths, encode, decode and rendering over the image; a
// fault shows as a crash or a sanitizer report.
void exercise_lib(const DrLib *lib);
