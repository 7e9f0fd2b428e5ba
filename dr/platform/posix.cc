// posix.cc: sleeping, the page size, memory protection and output files on POSIX systems.
#ifndef _WIN32

#include <cerrno>
#include <climits>
#include <ctime>

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dr/dr.h"
#include "dr/platform/staged_file.h"

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

namespace dr::os {
namespace {

bool starts_with(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

// Follows the last component's symlinks one by one, as the kernel would. What lies behind a
// process's descriptors (/dev/stdout, /proc/self/fd/1) is written in place: the descriptor,
// not the file it happens to name, is what the caller means.
OutputTarget resolve_output(const char *path) {
    std::string p = path;
    for (int hops = 0; hops <= 40; ++hops) {
        if (starts_with(p, "/proc/") || starts_with(p, "/dev/fd/")) break;
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0) return {p, false, false};  // creating it tells why
        if (S_ISREG(st.st_mode)) return {p, false, true};
        if (!S_ISLNK(st.st_mode)) break;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(p.c_str(), link, sizeof link - 1);
        if (n < 0) break;
        const std::string to(link, static_cast<size_t>(n));
        const size_t slash = p.rfind('/');
        p = to[0] == '/' || slash == std::string::npos ? to : p.substr(0, slash + 1) + to;
    }
    return {path, true, true};
}

int create_new(const std::string &name, const OutputTarget &like, bool, std::FILE **fp) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    struct stat st;
    if (like.exists && ::stat(like.path.c_str(), &st) == 0) {
        // The owner first: changing it may clear set-id bits that the mode then restores. Only a
        // privileged writer can give a file away; the mode applies either way.
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
            [[maybe_unused]] const int given = ::fchown(fd, st.st_uid, st.st_gid);
        }
        if (::fchmod(fd, st.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(name.c_str());
            return error;
        }
    }
    *fp = ::fdopen(fd, "wb");
    if (*fp != nullptr) return 0;
    const int error = errno;
    ::close(fd);
    ::unlink(name.c_str());
    return error;
}

int replace_file(const std::string &from, const std::string &to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace dr::os

#endif  // _WIN32
