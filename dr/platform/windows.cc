// windows.cc: sleeping, the page size, memory protection and output files on Windows.
#ifdef _WIN32

#include <windows.h>

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "dr/dr.h"
#include "dr/platform/staged_file.h"

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

namespace dr::os {

namespace {

// NUL, CON, PRN, AUX, COM1-9 and LPT1-9 name a device in every directory and with any
// extension; \\.\ names the device namespace.
bool names_device(const std::string &path) {
    if (path.rfind("\\\\.\\", 0) == 0) return true;
    const size_t slash = path.find_last_of("/\\:");
    std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char &c : base) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (base == "NUL" || base == "CON" || base == "PRN" || base == "AUX" || base == "CONIN$" || base == "CONOUT$")
        return true;
    return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

}  // namespace

// Only a regular file is replaced; devices (NUL, CON) and pipes are written in place.
OutputTarget resolve_output(const char *path) {
    if (names_device(path)) return {path, true, true};
    struct _stat64 st;
    if (::_stat64(path, &st) != 0) return {path, false, false};
    return {path, (st.st_mode & _S_IFREG) == 0, true};
}

int create_new(const std::string &name, const OutputTarget &, bool text, std::FILE **fp) {
    const int fd = ::_open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | (text ? _O_TEXT : _O_BINARY),
                           _S_IREAD | _S_IWRITE);
    if (fd < 0) return errno;
    *fp = ::_fdopen(fd, text ? "w" : "wb");
    if (*fp != nullptr) return 0;
    const int error = errno;
    ::_close(fd);
    ::_unlink(name.c_str());
    return error;
}

int replace_file(const std::string &from, const std::string &to) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    switch (::GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EACCES;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND: return ENOENT;
    default: return EIO;
    }
}

}  // namespace dr::os

#endif  // _WIN32
