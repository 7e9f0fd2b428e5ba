// posix.cc: sleeping, the page size and memory protection on POSIX systems.
#ifndef _WIN32

#include <cerrno>
#include <ctime>

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include "dr/dr.h"

// Whole milliseconds, as the Windows sleep counts them: under 1000 us gives up the time
// slice and returns. -1 sleeps forever; any other negative duration returns at once rather
// than being read as an endless sleep.
extern "C" int dr_usleep(int usec) {
    if (usec == -1)
        for (;;) ::pause();
    const int ms = usec / 1000;
    if (ms <= 0) {
        ::sched_yield();
        return 0;
    }
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    return 0;
}

extern "C" int dr_getpagesize(void) { return static_cast<int>(::sysconf(_SC_PAGESIZE)); }

// `prot` is a PROT_ code passed through unchanged.
extern "C" int dr_mprotect(void *addr, size_t len, int prot) { return ::mprotect(addr, len, prot) == 0 ? 0 : -1; }

#endif  // _WIN32
