// The library's writers of files by path: each write and the close are checked, and a file
// they would replace stays whole when they fail.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dr/dr.h"
#include "tests/support/image_builder.h"

namespace {

namespace fs = std::filesystem;

std::string text_of(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class FileWriters : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(dr_load_lib_file(&lib_, (std::string(EXAMPLES_DIR) + "/proto.tlb").c_str()), 0);
        ASSERT_EQ(dr_meta_by_name(lib_, "Message", &message_), 0);
        host_ = drtest::read_file(std::string(EXAMPLES_DIR) + "/roster.host");
        dir_ = (fs::temp_directory_path() / ("dr_file_writers_" + std::to_string(::getpid()))).string();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        dr_free_lib(lib_);
        fs::remove_all(dir_);
    }

    // Each writer of a file by path, all of whose outputs pass 512 bytes.
    std::vector<std::pair<const char *, std::function<int(const char *)>>> writers() {
        return {
            {"dr_save_lib_file", [this](const char *p) { return dr_save_lib_file(lib_, p); }},
            {"dr_write_header_file", [this](const char *p) { return dr_write_header_file(lib_, p, nullptr); }},
            {"dr_write_header_file_ex",
             [this](const char *p) { return dr_write_header_file_ex(lib_, p, "m_", DR_HEADER_PORTABLE); }},
            {"dr_print_lib_xml_file", [this](const char *p) { return dr_print_lib_xml_file(lib_, p); }},
            {"dr_print_data_xml_file",
             [this](const char *p) {
                 DrBuffer host{reinterpret_cast<char *>(host_.data()), static_cast<int32_t>(host_.size())};
                 return dr_print_data_xml_file(message_, p, &host, 0);
             }},
        };
    }

    DrLib *lib_ = nullptr;
    const DrMeta *message_ = nullptr;
    std::vector<uint8_t> host_;
    std::string dir_;
};

// Runs the writer in a child whose files may not pass `limit` bytes; its result.
int under_size_limit(const std::function<int(const char *)> &write, const std::string &path, rlim_t limit) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        ::_exit(write(path.c_str()) == -1 ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1 ? -1 : 0;
}

TEST_F(FileWriters, AFailedWriteIsReportedAndReplacesNothing) {
    // /dev/full, or a node of our own like it where one can be made.
    std::string full = dir_ + "/full";
    if (::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0 || ::access(full.c_str(), W_OK) != 0)
        full = "/dev/full";
    for (const auto &[name, write] : writers()) {
        EXPECT_EQ(write(full.c_str()), -1) << name;
        struct stat st;
        EXPECT_TRUE(::lstat(full.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << name << " replaced the device";

        const std::string old = dir_ + "/old";
        std::ofstream(old) << "old";
        EXPECT_EQ(under_size_limit(write, old, 512), -1) << name;
        EXPECT_EQ(text_of(old), "old") << name;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), full == "/dev/full" ? 1 : 2)
            << name << ": a scratch file stayed";

        // Through a symlink: the file it names is replaced, the link stays.
        fs::create_symlink("old", dir_ + "/link");
        EXPECT_EQ(write((dir_ + "/link").c_str()), 0) << name;
        EXPECT_TRUE(fs::is_symlink(dir_ + "/link")) << name;
        EXPECT_GT(text_of(old).size(), 512u) << name;
        fs::remove(dir_ + "/link");
    }
}

}  // namespace
