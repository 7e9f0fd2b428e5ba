// hooks.cc: two hooks that do nothing, on every platform.
#include "dr/dr.h"

extern "C" void dr_empty_hook1(void) {}
extern "C" void dr_empty_hook2(void) {}
