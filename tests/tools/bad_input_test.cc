// bad_input_test.cc: drtool's help, its usage mistakes, and bad files and names: one line on
// standard error, nothing on standard output, and the documented exit status.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/image_builder.h"
#include "tests/tools/run.h"

namespace {

using drtest::drtool;
using drtest::sample;

const std::vector<std::string> kCommands = {"summary", "xml", "header", "encode", "decode", "print"};

void expect_failure(const drtest::Run &r, int status, const std::string &err, const std::string &what) {
    EXPECT_EQ(r.status, status) << what;
    EXPECT_EQ(r.err, err) << what;
    EXPECT_EQ(r.out, "") << what;
}

TEST(DrtoolHelp, ToolHelpListsEveryCommand) {
    for (const char *ask : {"--help", "-h", "help"}) {
        const drtest::Run r = drtool({ask});
        EXPECT_EQ(r.status, 0) << ask;
        EXPECT_EQ(r.err, "") << ask;
        EXPECT_EQ(r.out.rfind("usage: drtool COMMAND", 0), 0u) << ask;
        for (const std::string &c : kCommands) EXPECT_NE(r.out.find("\n  " + c + " "), std::string::npos) << c;
        EXPECT_NE(r.out.find("2 a usage error"), std::string::npos);
        std::string names;
        for (int i = 0; i < 19; ++i) names += std::string(" ") + dr_type_at(i)->name;
        EXPECT_NE(r.out.find("the 19 names a typelib's members use:\n " + names + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("no value for longlong, ulonglong, date, time, datetime\nand money members"),
                  std::string::npos);
    }
}

// The version is the build's project version; anything after it is a usage mistake.
TEST(DrtoolHelp, VersionIsTheProjectVersion) {
    const drtest::Run r = drtool({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("drtool ") + PROJECT_VERSION + "\n");
    EXPECT_EQ(r.err, "");
    const drtest::Run extra = drtool({"--version", "x"});
    EXPECT_EQ(extra.status, 2);
    EXPECT_EQ(extra.out, "");
    EXPECT_EQ(extra.err, "drtool: --version takes no arguments (see 'drtool --help')\n");
    EXPECT_NE(drtool({"--help"}).out.find("'drtool --version' shows the version"), std::string::npos);
}

// The types the help says print shows without a value are exactly those the renderer
// writes no value for: a one-member record of each scalar type rendered as text.
TEST(DrtoolHelp, TypesListedWithoutAValueAreThoseTheRendererLeavesEmpty) {
    std::vector<std::string> without;
    for (int i = 2; i < 18; ++i) {
        drtest::Image img = drtest::build(drtest::library({drtest::record("R", 1, {drtest::field("v", dr_type_at(i)->name)})}));
        std::vector<char> host(8, 1), text(256);
        DrBuffer h{host.data(), 8}, out{text.data(), 256};
        dr_sprint_data(img.meta("R"), &out, &h, 0);
        const std::string line = text.data();
        const size_t value = line.find(" v=") + 3;
        if (value >= line.size() || !std::isdigit(static_cast<unsigned char>(line[value])))
            without.push_back(dr_type_at(i)->name);
    }
    std::string listed;
    for (size_t k = 0; k < without.size(); ++k)
        listed += (k == 0 ? "" : k + 1 == without.size() ? "\nand " : ", ") + without[k];
    EXPECT_EQ(listed, "longlong, ulonglong, date, time, datetime\nand money");
    EXPECT_NE(drtool({"--help"}).out.find("shows no value for " + listed + " members"), std::string::npos);
}

TEST(DrtoolHelp, EachCommandHasItsOwnHelp) {
    for (const std::string &c : kCommands) {
        const drtest::Run r = drtool({c, "--help"});
        EXPECT_EQ(r.status, 0) << c;
        EXPECT_EQ(r.err, "") << c;
        EXPECT_EQ(r.out.rfind("usage: drtool " + c + " LIB", 0), 0u) << c;
        EXPECT_NE(r.out.find("-h, --help"), std::string::npos) << c;
        EXPECT_EQ(drtool({"help", c}).out, r.out) << c;
        // Help wins over everything else on the line, even over missing files.
        EXPECT_EQ(drtool({c, "/nonexistent.tlb", "-h"}).out, r.out) << c;
    }
    EXPECT_NE(drtool({"encode", "--help"}).out.find("  -v VERSION "), std::string::npos);
    EXPECT_NE(drtool({"print", "--help"}).out.find("  --xml "), std::string::npos);
}

TEST(DrtoolUsage, MistakesOnTheCommandLineExitWithTwo) {
    const std::string lib = sample("proto.tlb"), host = sample("login.host");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{}, "drtool: missing command (see 'drtool --help')\n"},
        {{"frobnicate", lib}, "drtool: unknown command 'frobnicate' (see 'drtool --help')\n"},
        {{"help", "encode", "decode"}, "drtool: help takes one command name (see 'drtool --help')\n"},
        {{"summary"}, "drtool summary: missing LIB (see 'drtool summary --help')\n"},
        {{"encode", lib, "Message"}, "drtool encode: missing HOSTFILE (see 'drtool encode --help')\n"},
        {{"header", lib}, "drtool header: missing OUT.h (see 'drtool header --help')\n"},
        {{"summary", lib, "extra"}, "drtool summary: unexpected argument 'extra' (see 'drtool summary --help')\n"},
        {{"print", lib, "Message", host, "--yaml"},
         "drtool print: unknown option '--yaml' (see 'drtool print --help')\n"},
        {{"xml", lib, "--xml"}, "drtool xml: unknown option '--xml' (see 'drtool xml --help')\n"},
        {{"decode", lib, "Message", host, "-v"},
         "drtool decode: option -v needs a value (see 'drtool decode --help')\n"},
        {{"encode", lib, "Message", host, "-o", "a", "-o", "b"},
         "drtool encode: option -o given twice (see 'drtool encode --help')\n"},
        // A malformed version is found before any file is opened.
        {{"encode", "/nonexistent.tlb", "Message", host, "-v", "new"},
         "drtool encode: VERSION must be a whole number, not 'new' (see 'drtool encode --help')\n"},
        {{"print", lib, "Message", host, "-v", "2x"},
         "drtool print: VERSION must be a whole number, not '2x' (see 'drtool print --help')\n"},
        {{"decode", lib, "Message", host, "-v", "99999999999"},
         "drtool decode: VERSION must be a whole number, not '99999999999' (see 'drtool decode --help')\n"},
    };
    for (const Case &c : cases) {
        std::string what;
        for (const std::string &a : c.args) what += a + " ";
        expect_failure(drtool(c.args), 2, c.err, what);
    }
}

TEST(DrtoolBadInput, MissingAndUnreadableFiles) {
    const std::string lib = sample("proto.tlb");
    expect_failure(drtool({"summary", "/nonexistent/x.tlb"}), 1,
                   "drtool: cannot open /nonexistent/x.tlb: No such file or directory\n", "missing typelib");
    expect_failure(drtool({"encode", lib, "Message", "/nonexistent/a.host"}), 1,
                   "drtool: cannot open /nonexistent/a.host: No such file or directory\n", "missing host file");
    expect_failure(drtool({"decode", lib, "Message", "/nonexistent/a.net"}), 1,
                   "drtool: cannot open /nonexistent/a.net: No such file or directory\n", "missing network file");
    const std::string dir = drtest::scratch_dir("unreadable");
    expect_failure(drtool({"xml", dir}), 1, "drtool: cannot read " + dir + ": Is a directory\n", "directory");
}

TEST(DrtoolBadInput, FilesThatAreNotTypelibsSayWhichCheckFailed) {
    const std::string dir = drtest::scratch_dir("not_typelib");
    const std::vector<uint8_t> good = drtest::build(drtest::demo_lib()).vec();
    const std::string size = std::to_string(good.size());
    struct Case {
        std::string name, reason;  // the reason follows the path
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"empty", " is not a typelib: the file is empty", {}},
        {"short", " is not a typelib: 50 bytes, shorter than the 112-byte header", {good.begin(), good.begin() + 50}},
        {"cut", " is not a typelib: the file holds " + std::to_string(good.size() - 1) + " bytes, but its header announces " + size,
         {good.begin(), good.end() - 1}},
        {"magic", " is not a typelib (no typelib mark)", good},
        {"build", " is a typelib of format level 104; this tool reads level 103 only", good},
        // The mark is looked at first, even in a file too short for a header.
        {"tiny", " is not a typelib (no typelib mark)", {'U', 'X'}},
        {"text", " is not a typelib (no typelib mark)", {'h', 'e', 'l', 'l', 'o', '\n'}},
    };
    cases[3].bytes[0] = 0x56;
    cases[4].bytes[2] = 0x68;
    drtest::Image self = drtest::build(drtest::demo_lib());
    self.meta("Point")->self_off += 4;
    cases.push_back({"self", " is not a typelib: meta self offset does not match its place", self.vec()});
    for (const Case &c : cases) {
        const std::string path = dir + "/" + c.name + ".tlb";
        drtest::write_bytes(path, c.bytes);
        expect_failure(drtool({"summary", path}), 1, "drtool: " + path + c.reason + "\n", c.name);
    }
    // A host record is no typelib either, whatever the command: its first bytes say so.
    const std::string host = sample("login.host");
    expect_failure(drtool({"print", host, "Message", host}), 1,
                   "drtool: " + host + " is not a typelib (no typelib mark)\n", "host as typelib");
}

// drtool under a time limit: a typelib that never ends must not keep it reading.
drtest::Run drtool_within_10s(const std::vector<std::string> &args) {
    std::vector<std::string> all = {"10", DRTOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    return drtest::run_program("/usr/bin/timeout", all);
}

TEST(DrtoolBadInput, DevicesAndPipesAreReadUpToTheAnnouncedSize) {
    expect_failure(drtool_within_10s({"summary", "/dev/zero"}), 1,
                   "drtool: /dev/zero is not a typelib (no typelib mark)\n", "/dev/zero");

    // A named pipe: the typelib, then the same with a byte too many and cut short.
    const std::string dir = drtest::scratch_dir("fifo"), fifo = dir + "/lib.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<uint8_t> lib = drtest::read_file(sample("proto.tlb"));
    const std::string size = std::to_string(lib.size());
    auto through_pipe = [&](std::vector<uint8_t> bytes) {
        std::thread writer([&] { drtest::write_bytes(fifo, bytes); });
        const drtest::Run r = drtool_within_10s({"summary", fifo});
        const int unblock = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // frees a writer left waiting
        writer.join();
        ::close(unblock);
        return r;
    };
    const drtest::Run whole = through_pipe(lib);
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(whole.out, drtool({"summary", sample("proto.tlb")}).out);
    std::vector<uint8_t> longer = lib;
    longer.push_back(0);
    expect_failure(through_pipe(longer), 1,
                   "drtool: " + fifo + " is not a typelib: the input goes on past the " + size +
                       " bytes its header announces\n",
                   "a byte too many");
    expect_failure(through_pipe({lib.begin(), lib.begin() + 5000}), 1,
                   "drtool: " + fifo + " is not a typelib: the input ended after 5000 of the " + size +
                       " bytes its header announces\n",
                   "cut short");
}

TEST(DrtoolBadInput, UnknownTypeNamesAndIds) {
    const std::string lib = sample("proto.tlb"), host = sample("login.host");
    expect_failure(drtool({"encode", lib, "Mesage", host}), 1, "drtool: " + lib + " has no type named 'Mesage'\n",
                   "misspelt name");
    expect_failure(drtool({"print", lib, "message", host}), 1, "drtool: " + lib + " has no type named 'message'\n",
                   "names are case-sensitive");
    expect_failure(drtool({"print", lib, "41", host}), 1, "drtool: " + lib + " has no type with id 41\n",
                   "unknown id");
    expect_failure(drtool({"decode", lib, "-3", host}), 1, "drtool: " + lib + " has no type with id -3\n",
                   "negative id");
}

TEST(DrtoolBadInput, HostFileShorterThanTheType) {
    const std::string dir = drtest::scratch_dir("short_host");
    const std::string lib = sample("proto.tlb"), path = dir + "/short.host";
    std::vector<uint8_t> bytes = drtest::read_file(sample("login.host"));
    ASSERT_EQ(bytes.size(), 822u);
    bytes.pop_back();
    drtest::write_bytes(path, bytes);
    for (const char *cmd : {"encode", "print"})
        expect_failure(drtool({cmd, lib, "Message", path}), 1,
                       "drtool: " + path + " holds 821 bytes, but a Message record takes 822\n", cmd);
    bytes.resize(9);
    drtest::write_bytes(path, bytes);
    expect_failure(drtool({"encode", lib, "10", path}), 1,
                   "drtool: " + path + " holds 9 bytes, but a Position record takes 10\n", "by id");
}

}  // namespace
