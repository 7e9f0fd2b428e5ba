// outputs.cc: writes headers and sources, and files that appear whole or not at all.
#include "tools/drtool/outputs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/drtool/cli.h"
#include "tools/drtool/inputs.h"

namespace drtool {

namespace fs = std::filesystem;

int report_unwritable(const std::string &path) {
    if (errno != 0)
        report("cannot create %s: %s", path.c_str(), std::strerror(errno));
    else
        report("cannot create %s", path.c_str());
    return kExitFailed;
}

// The library makes the include guard of everything after the path's last backslash, so a
// path with forward slashes would give a guard such as OUT/LOBBY_H. The header is therefore
// written from inside its directory, under its file name alone.
int write_header(const DrLib *lib, const std::string &path, const char *prefix, int flags) {
    errno = 0;
    const int rc = dr_write_header_file_ex(lib, path.c_str(), prefix, flags);
    return rc == 0 ? kExitOk : report_unwritable(path);
}

int write_source(const DrLib *lib, const std::string *path) {
    if (!path) return dr_print_lib_source(lib, stdout) == 0 ? kExitOk : kExitFailed;
    errno = 0;
    FILE *fp = std::fopen(path->c_str(), "w");
    if (!fp) return report_unwritable(*path);
    const int rc = dr_print_lib_source(lib, fp);
    if (std::fclose(fp) != 0 || rc != 0) {
        report("cannot write %s", path->c_str());
        return kExitFailed;
    }
    return kExitOk;
}

int write_whole(const std::string &path, const std::function<int(const std::string &)> &write) {
    // A temporary directory beside the target: same file system, so the rename is atomic,
    // and the file keeps its own name inside it (a header's include guard comes from it).
    const fs::path target(path);
    fs::path scratch = target.parent_path() / (".drtool-" + target.filename().string() + ".tmp");
    std::error_code ec;
    fs::remove_all(scratch, ec);
    if (!fs::create_directory(scratch, ec)) {
        report("cannot create %s: %s", path.c_str(), ec.message().c_str());
        return kExitFailed;
    }
    const fs::path staged = scratch / target.filename();
    int rc = write(staged.string());
    if (rc == kExitOk) {
        fs::rename(staged, target, ec);
        if (ec) {
            report("cannot create %s: %s", path.c_str(), ec.message().c_str());
            rc = kExitFailed;
        }
    }
    fs::remove_all(scratch, ec);
    return rc;
}

}  // namespace drtool
