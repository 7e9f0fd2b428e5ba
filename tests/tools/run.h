// run.h: runs a built program with arguments and collects its exit status and output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace drtest {

struct Run {
    int status = -1;  // the exit status; -1 when the program did not exit normally
    std::string out, err;
};

Run run_program(const std::string &path, const std::vector<std::string> &args);
inline Run drtool(const std::vector<std::string> &args) { return run_program(DRTOOL_PATH, args); }

// A fresh empty directory for one test's files.
std::string scratch_dir(const std::string &name);

// The path of a committed sample file.
inline std::string sample(const std::string &file) { return std::string(EXAMPLES_DIR) + "/" + file; }

std::string read_text(const std::string &path);
void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes);

}  // namespace drtest
