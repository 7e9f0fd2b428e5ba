// windows.cc: sleeping, the page size and memory protection on Windows.
#ifdef _WIN32

#include <windows.h>

#include "dr/dr.h"

// Whole milliseconds, not alertable: under 1000 us is a sleep of 0, which gives up the time
// slice. -1 sleeps forever; any other negative duration returns at once rather than being
// read as an endless sleep.
extern "C" int dr_usleep(int usec) {
    DWORD ms = INFINITE;
    if (usec != -1) ms = usec < 0 ? 0 : static_cast<DWORD>(usec / 1000);
    return static_cast<int>(::SleepEx(ms, FALSE));
}

extern "C" int dr_getpagesize(void) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return static_cast<int>(info.dwPageSize);
}

// `prot` is a PAGE_ code passed through unchanged; the previous protection is discarded.
extern "C" int dr_mprotect(void *addr, size_t len, int prot) {
    DWORD previous = 0;
    return ::VirtualProtect(addr, len, static_cast<DWORD>(prot), &previous) ? 0 : -1;
}

#endif  // _WIN32
