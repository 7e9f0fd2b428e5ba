// outputs.h: every file the tool writes, through one path: whole or not at all, and never a
// device or a symlink replaced by a regular file.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dr/dr.h"
#include "dr/platform/staged_file.h"

namespace drtool {

// The files one command writes. Each regular file (or symlink to one) is written to a scratch
// file beside it and keeps its mode; anything else (a device, a FIFO, /dev/stdout) is
// written in place. No target is replaced until every file was written and closed.
class Outputs {
public:
    // The stream that writes `path`, or null after reporting why it cannot be created.
    std::FILE *open(const std::string &path, bool text);
    // Checks every file's writes and close, then replaces the targets: kExitOk, or
    // kExitFailed after reporting the first failure, every target then left as it was.
    // Files not committed are removed when the Outputs goes away.
    [[nodiscard]] int commit();

private:
    struct File {
        std::string path;
        std::unique_ptr<dr::StagedFile> file;
    };
    std::vector<File> files_;
};

// One file through Outputs: write(FILE *) gives kExitOk, or reports its own failure.
[[nodiscard]] int write_output(const std::string &path, bool text, const std::function<int(std::FILE *)> &write);

// Writes the bytes to the stream of the file `path`; reports a failed write.
[[nodiscard]] int put_bytes(std::FILE *fp, const std::string &path, const char *data, size_t size);

// Writes the C header of a typelib (DR_HEADER_* flags) to the stream; the include guard
// comes from the file name of `path`.
[[nodiscard]] int put_header(std::FILE *fp, const DrLib *lib, const std::string &path, const char *prefix, int flags);

// The C header of a typelib as the file `path`.
[[nodiscard]] int write_header(const DrLib *lib, const std::string &path, const char *prefix, int flags);

// Writes the complete XML source of a typelib to `path`, or to standard output when null.
[[nodiscard]] int write_source(const DrLib *lib, const std::string *path);

}  // namespace drtool
