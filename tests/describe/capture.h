// capture.h: what a writer puts on a stream or into a file, as a string, for the describe tests.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "tests/support/image_builder.h"

namespace drtest {

// Runs write(FILE *) on a temporary stream and returns every byte it wrote.
template <class Write>
std::string capture(Write &&write) {
    std::FILE *fp = std::tmpfile();
    if (!fp) return "<no temporary stream>";
    write(fp);
    std::fflush(fp);
    std::rewind(fp);
    std::string out;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, fp)) > 0;) out.append(chunk, n);
    std::fclose(fp);
    return out;
}

// A fresh path under the test temp directory whose last component is `leaf`.
inline std::string temp_path(const std::string &leaf) {
    static int serial = 0;
    const auto dir = std::filesystem::temp_directory_path() / "dr_tests" /
                     ("describe_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    std::filesystem::create_directories(dir);
    return (dir / leaf).string();
}

inline std::string file_text(const std::string &path) {
    const std::vector<uint8_t> bytes = read_file(path);
    return {bytes.begin(), bytes.end()};
}

}  // namespace drtest
