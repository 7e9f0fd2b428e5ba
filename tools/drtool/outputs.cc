// outputs.cc: the one way the tool writes files, and the headers and sources it writes.
#include "tools/drtool/outputs.h"

#include <cerrno>
#include <cstring>

#include "tools/drtool/cli.h"
#include "tools/drtool/inputs.h"

namespace drtool {

std::FILE *Outputs::open(const std::string &path, bool text) {
    auto file = std::make_unique<dr::StagedFile>();
    if (const int error = file->open(path.c_str(), text); error != 0) {
        report("cannot create %s: %s", path.c_str(), std::strerror(error));
        return nullptr;
    }
    std::FILE *fp = file->stream();
    files_.push_back({path, std::move(file)});
    return fp;
}

int Outputs::commit() {
    for (File &f : files_) {
        if (const int error = f.file->finish(); error != 0) {
            report("cannot write %s: %s", f.path.c_str(), std::strerror(error));
            files_.clear();
            return kExitFailed;
        }
    }
    for (File &f : files_) {
        if (const int error = f.file->commit(); error != 0) {
            report("cannot replace %s: %s", f.path.c_str(), std::strerror(error));
            files_.clear();
            return kExitFailed;
        }
    }
    files_.clear();
    return kExitOk;
}

int write_output(const std::string &path, bool text, const std::function<int(std::FILE *)> &write) {
    Outputs out;
    std::FILE *fp = out.open(path, text);
    if (fp == nullptr) return kExitFailed;
    if (const int rc = write(fp); rc != kExitOk) return rc;
    return out.commit();
}

int put_bytes(std::FILE *fp, const std::string &path, const char *data, size_t size) {
    errno = 0;
    if (std::fwrite(data, 1, size, fp) == size) return kExitOk;
    report("cannot write %s: %s", path.c_str(), std::strerror(errno != 0 ? errno : EIO));
    return kExitFailed;
}

bool write_file(const std::string &path, const char *data, size_t size) {
    return write_output(path, false, [&](std::FILE *fp) { return put_bytes(fp, path, data, size); }) == kExitOk;
}

// The library makes the include guard of everything after the name's last slash or
// backslash, so the guard of out/lobby.h is LOBBY_H.
int put_header(std::FILE *fp, const DrLib *lib, const std::string &path, const char *prefix, int flags) {
    if (dr_write_header(lib, fp, path.c_str(), prefix, flags) == 0 || std::ferror(fp)) return kExitOk;
    report("cannot write the header %s: out of memory", path.c_str());
    return kExitFailed;
}

int write_header(const DrLib *lib, const std::string &path, const char *prefix, int flags) {
    return write_output(path, true, [&](std::FILE *fp) { return put_header(fp, lib, path, prefix, flags); });
}

int write_source(const DrLib *lib, const std::string *path) {
    if (!path) return dr_print_lib_source(lib, stdout) == 0 ? kExitOk : kExitFailed;
    return write_output(*path, true, [&](std::FILE *fp) { return dr_print_lib_source(lib, fp) == 0 ? kExitOk : kExitFailed; });
}

}  // namespace drtool
