// staged_file.h: output files that appear whole or not at all, and that never replace what
// is not a plain file.
#pragma once

#include <cstdio>
#include <string>

namespace dr {

// A file written as the replacement of a path. When the path names a regular file (through
// any symlinks) or nothing yet, the bytes go to a scratch file beside the file the path
// resolves to; commit() renames it over that file, so a symlink stays a symlink, the old
// file stays whole until then, and the new one takes its mode. Anything else (a device, a
// FIFO, /dev/stdout) is written in place. Failures are errno values.
class StagedFile {
public:
    StagedFile() = default;
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;
    ~StagedFile() { discard(); }

    // Opens the stream, in text or binary mode: 0 or an errno value.
    [[nodiscard]] int open(const char *path, bool text);
    std::FILE *stream() const { return fp_; }
    // Whether the path named a file that commit() replaces.
    bool replaces() const { return replaces_; }
    // Flushes and closes the stream, checking both and the stream's error flag: 0, or an
    // errno value (EIO when the stream kept none). A failure removes the scratch file.
    [[nodiscard]] int finish();
    // After finish(): renames the scratch file over its target; 0 or an errno value.
    [[nodiscard]] int commit();
    // Closes the stream and removes the scratch file, replacing nothing.
    void discard();

private:
    std::FILE *fp_ = nullptr;
    std::string target_;   // the file the scratch file replaces
    std::string scratch_;  // empty when written in place
    bool replaces_ = false;
};

// Opens `path` as a StagedFile, runs write(FILE *) and keeps the file only when write gave
// 0 and every write and the close succeeded. -1 on any failure, which replaces nothing.
template <class Write>
int write_whole_file(const char *path, bool text, Write &&write) {
    if (path == nullptr) return -1;
    StagedFile out;
    if (out.open(path, text) != 0) return -1;
    if (write(out.stream()) != 0) return -1;
    return out.finish() == 0 && out.commit() == 0 ? 0 : -1;
}

// The operating system's part (posix.cc, windows.cc).
namespace os {

struct OutputTarget {
    std::string path;  // the file to replace: the path's last symlink followed
    bool in_place;     // not a regular file: written through the path itself
    bool exists;
};

OutputTarget resolve_output(const char *path);
// Creates `name` anew (failing with EEXIST when it is there), with the mode and owner of
// `like` when that exists; 0 or an errno value.
int create_new(const std::string &name, const OutputTarget &like, bool text, std::FILE **fp);
// Renames `from` over `to`; 0 or an errno value.
int replace_file(const std::string &from, const std::string &to);

}  // namespace os
}  // namespace dr
