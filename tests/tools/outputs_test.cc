// Every drtool command that writes a file, to what a user may name as its output: devices, a
// FIFO, a symlink, and files it cannot write whole. Nothing may be destroyed or cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "tests/support/image_builder.h"
#include "tests/tools/run.h"

namespace {

namespace fs = std::filesystem;
using drtest::drtool;
using drtest::sample;

const std::string kLib = sample("proto.tlb");

// One command line per kind of output, the output path left to fill in.
struct Writer {
    std::string name;
    std::vector<std::string> args;  // "OUT" stands for the output path
};

std::vector<Writer> writers(const std::string &net) {
    std::vector<Writer> w = {
        {"header", {"header", kLib, "OUT"}},
        {"header --classic", {"header", kLib, "OUT", "--classic"}},
        {"xml -o", {"xml", kLib, "-o", "OUT"}},
        {"xml --source -o", {"xml", kLib, "--source", "-o", "OUT"}},
        {"encode -o", {"encode", kLib, "Message", sample("login.host"), "-o", "OUT"}},
        {"decode -o", {"decode", kLib, "Message", net, "-o", "OUT"}},
    };
#if DRTOOL_HAS_JSON
    w.push_back({"decode --json -o", {"decode", kLib, "Message", net, "--json", "-o", "OUT"}});
    w.push_back({"host -o", {"host", kLib, "Message", sample("login.json"), "-o", "OUT"}});
#endif
#if DRTOOL_HAS_COMPILER
    w.push_back({"compile -o", {"compile", sample("lobby.xml"), "-o", "OUT"}});
    w.push_back({"compile --header", {"compile", sample("lobby.xml"), "--header", "OUT"}});
#endif
    return w;
}

std::vector<std::string> with_output(const Writer &w, const std::string &out) {
    std::vector<std::string> args = w.args;
    std::replace(args.begin(), args.end(), std::string("OUT"), out);
    return args;
}

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class DrtoolOutputs : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = drtest::scratch_dir("outputs");
        const std::string net = dir_ + "/login.net";
        ASSERT_EQ(drtool({"encode", kLib, "Message", sample("login.host"), "-o", net}).status, 0);
        writers_ = writers(net);
        // What each command writes into a plain new file: the bytes every other output must get.
        // Every output is named out.h, since a header's include guard comes from its name.
        fs::create_directory(dir_ + "/plain");
        for (const Writer &w : writers_) {
            const std::string out = dir_ + "/plain/out.h";
            const drtest::Run r = drtool(with_output(w, out));
            ASSERT_EQ(r.status, 0) << w.name << ": " << r.err;
            expected_.push_back(drtest::read_text(out));
            fs::remove(out);
        }
    }

    // A fresh directory for one case.
    std::string case_dir(const std::string &name) {
        const std::string d = dir_ + "/" + name;
        fs::remove_all(d);
        fs::create_directories(d);
        return d;
    }

    // A character device like /dev/<name>: a node of our own where root may make one, so that
    // a tool that replaced devices would not replace the system's.
    std::string device(const std::string &name, unsigned minor) {
        const std::string own = dir_ + "/" + name;
        if (::mknod(own.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0) {
            const int fd = ::open(own.c_str(), O_WRONLY);
            if (fd >= 0) return ::close(fd), own;
        }
        return "/dev/" + name;
    }

    std::string dir_;
    std::vector<Writer> writers_;
    std::vector<std::string> expected_;
};

bool is_char_device(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

TEST_F(DrtoolOutputs, DevicesAndFifosAreWrittenInPlace) {
    const std::string null = device("null", 3), full = device("full", 7);
    fs::create_directory(dir_ + "/fifo");
    const std::string fifo = dir_ + "/fifo/out.h";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (size_t i = 0; i < writers_.size(); ++i) {
        const Writer &w = writers_[i];
        drtest::Run r = drtool(with_output(w, null));
        EXPECT_EQ(r.status, 0) << w.name << ": " << r.err;
        EXPECT_TRUE(is_char_device(null)) << w.name << " replaced " << null;

        r = drtool(with_output(w, full));
        EXPECT_EQ(r.status, 1) << w.name;
        EXPECT_EQ(r.err, "drtool: cannot write " + full + ": No space left on device\n") << w.name;
        EXPECT_TRUE(is_char_device(full)) << w.name << " replaced " << full;

        // The reader is open before the tool starts, and the pipe holds the whole output.
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        r = drtool(with_output(w, fifo));
        std::string got;
        char chunk[4096];
        for (ssize_t n; (n = ::read(reader, chunk, sizeof chunk)) > 0;) got.append(chunk, static_cast<size_t>(n));
        ::close(reader);
        EXPECT_EQ(r.status, 0) << w.name << ": " << r.err;
        EXPECT_TRUE(got == expected_[i]) << w.name << ": " << got.size() << " bytes, not " << expected_[i].size();
        struct stat st;
        EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << w.name << " replaced the FIFO";
    }
}

TEST_F(DrtoolOutputs, SymlinkStaysAndTheFileItNamesKeepsItsMode) {
    for (size_t i = 0; i < writers_.size(); ++i) {
        const Writer &w = writers_[i];
        const std::string d = case_dir("link");
        fs::create_directory(d + "/real");
        std::ofstream(d + "/real/T") << "old";
        ASSERT_EQ(::chmod((d + "/real/T").c_str(), 0640), 0);
        fs::create_symlink("real/T", d + "/L");   // relative: resolved from the link's directory
        fs::create_symlink("L", d + "/out.h");    // a chain of two
        const drtest::Run r = drtool(with_output(w, d + "/out.h"));
        EXPECT_EQ(r.status, 0) << w.name << ": " << r.err;
        EXPECT_TRUE(fs::is_symlink(d + "/out.h") && fs::is_symlink(d + "/L")) << w.name;
        EXPECT_TRUE(drtest::read_text(d + "/real/T") == expected_[i]) << w.name;
        struct stat st;
        ASSERT_EQ(::stat((d + "/real/T").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << w.name;
        EXPECT_EQ(files_in(d), (std::vector<std::string>{"L", "out.h", "real"})) << w.name;
        EXPECT_EQ(files_in(d + "/real"), std::vector<std::string>{"T"}) << w.name << ": a scratch file stayed";
    }
}

// Runs drtool with the file-size limit in 1 KiB blocks, SIGXFSZ ignored so that writes fail,
// and standard output (which the limit would cut too) discarded.
drtest::Run drtool_limited(int blocks, const std::vector<std::string> &args) {
    std::vector<std::string> sh = {"-c", "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; exec \"$0\" \"$@\" >/dev/null",
                                   DRTOOL_PATH};
    sh.insert(sh.end(), args.begin(), args.end());
    return drtest::run_program("/bin/bash", sh);
}

TEST_F(DrtoolOutputs, AFailedWriteLeavesTheOldFileWhole) {
    for (size_t i = 0; i < writers_.size(); ++i) {
        const Writer &w = writers_[i];
        if (expected_[i].size() <= 1024) continue;  // fits under the limit
        const std::string d = case_dir("limit");
        std::ofstream(d + "/out") << "old";
        const drtest::Run r = drtool_limited(1, with_output(w, d + "/out"));
        EXPECT_EQ(r.status, 1) << w.name;
        EXPECT_EQ(r.err, "drtool: cannot write " + d + "/out: File too large\n") << w.name;
        EXPECT_EQ(drtest::read_text(d + "/out"), "old") << w.name;
        EXPECT_EQ(files_in(d), std::vector<std::string>{"out"}) << w.name << ": a scratch file stayed";
    }
#if DRTOOL_HAS_COMPILER
    // The header fits under 8 KiB, the typelib does not: neither replaces its old file.
    const std::string d = case_dir("both");
    std::ofstream(d + "/a.tlb") << "old tlb";
    std::ofstream(d + "/a.h") << "old h";
    const drtest::Run r = drtool_limited(8, {"compile", sample("lobby.xml"), "-o", d + "/a.tlb", "--header", d + "/a.h"});
    ASSERT_LT(fs::file_size(sample("lobby.xml")), 8192u);
    ASSERT_GT(fs::file_size(kLib), 8192u);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "drtool: cannot write " + d + "/a.tlb: File too large\n");
    EXPECT_EQ(drtest::read_text(d + "/a.tlb"), "old tlb");
    EXPECT_EQ(drtest::read_text(d + "/a.h"), "old h");
    EXPECT_EQ(files_in(d), (std::vector<std::string>{"a.h", "a.tlb"}));
#endif
}

// A file the user may write, in a directory the user may not: the tool cannot put a scratch
// file beside it, and says so rather than write the file in place.
TEST_F(DrtoolOutputs, AReadOnlyDirectoryKeepsItsFiles) {
    const std::string d = case_dir("readonly");
    std::ofstream(d + "/out") << "old";
    ASSERT_EQ(::chmod((d + "/out").c_str(), 0666), 0);
    ASSERT_EQ(::chmod(d.c_str(), 0555), 0);
    // Root writes anywhere, so as root the tool runs as nobody.
    std::vector<std::string> prefix;
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root without setpriv to drop privileges";
        prefix = {"--reuid=65534", "--regid=65534", "--clear-groups", DRTOOL_PATH};
    }
    for (const Writer &w : writers_) {
        std::vector<std::string> args = prefix;
        const std::vector<std::string> tail = with_output(w, d + "/out");
        args.insert(args.end(), tail.begin(), tail.end());
        const drtest::Run r = prefix.empty() ? drtool(args) : drtest::run_program("/usr/bin/setpriv", args);
        EXPECT_EQ(r.status, 1) << w.name;
        EXPECT_EQ(r.err, "drtool: cannot create " + d + "/out: Permission denied\n") << w.name;
        EXPECT_EQ(drtest::read_text(d + "/out"), "old") << w.name;
    }
    ASSERT_EQ(::chmod(d.c_str(), 0755), 0);
}

}  // namespace
