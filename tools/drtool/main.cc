// main.cc: drtool, the command line for looking at typelibs and the records they describe.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "tools/drtool/commands.h"
#include "tools/drtool/inputs.h"

namespace {

using drtool::Command;

void print_tool_help(FILE *fp) {
    std::fputs("usage: drtool COMMAND ARGUMENTS...\n\n"
               "Compiles typelibs from XML, and looks at typelibs and at the records they describe.\n\n"
               "Commands:\n",
               fp);
    for (const Command &c : drtool::commands())
        std::fprintf(fp, "  %.*s %s\n      %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                     drtool::synopsis(c).c_str(), static_cast<int>(c.summary.size()), c.summary.data());
    std::fputs("\nTYPE is a type name or a numeric type id; VERSION 0, the default, is the newest.\n"
               "Without -o, binary output is shown as a hex dump.\n"
               "'drtool COMMAND --help' tells more about one command; 'drtool --version' shows the version.\n\n"
               "Exit status: 0 success, 1 the operation failed, 2 a usage error.\n",
               fp);
    // The names come from the library's own table, so the list cannot drift from it.
    std::fputs("\nBase types, the 19 names a typelib's members use:\n ", fp);
    for (int i = 0; i < 19; ++i) std::fprintf(fp, " %s", dr_type_at(i)->name);
    std::fputs("\nprint (text and XML) shows no value for longlong, ulonglong, date, time, datetime\n"
               "and money members: only their names.\n",
               fp);
}

const Command *find_command(const std::string &name) {
    for (const Command &c : drtool::commands())
        if (c.name == name) return &c;
    return nullptr;
}

bool is_help(const std::string &word) { return word == "--help" || word == "-h" || word == "help"; }

int run(const std::vector<std::string> &words) {
    if (words.empty()) {
        drtool::report("missing command (see 'drtool --help')");
        return drtool::kExitUsage;
    }
    if (words[0] == "--version") {
        if (words.size() != 1) {
            drtool::report("--version takes no arguments (see 'drtool --help')");
            return drtool::kExitUsage;
        }
        std::printf("drtool %s\n", DRTOOL_VERSION);
        return drtool::kExitOk;
    }
    if (is_help(words[0])) {
        // "drtool help encode" is "drtool encode --help".
        if (words.size() == 2 && find_command(words[1]) != nullptr) {
            drtool::print_command_help(*find_command(words[1]), stdout);
        } else if (words.size() == 1) {
            print_tool_help(stdout);
        } else {
            drtool::report("help takes one command name (see 'drtool --help')");
            return drtool::kExitUsage;
        }
        return drtool::kExitOk;
    }
    const Command *cmd = find_command(words[0]);
    if (cmd == nullptr) {
        drtool::report("unknown command '%s' (see 'drtool --help')", words[0].c_str());
        return drtool::kExitUsage;
    }
    drtool::Args args;
    const int parsed = drtool::parse_args(*cmd, {words.begin() + 1, words.end()}, args);
    if (parsed == drtool::kParsedHelp) {
        drtool::print_command_help(*cmd, stdout);
        return drtool::kExitOk;
    }
    return parsed != drtool::kExitOk ? parsed : cmd->run(args);
}

}  // namespace

int main(int argc, char **argv) {
    int status;
    try {
        status = run({argv + 1, argv + argc});
    } catch (const std::bad_alloc &) {
        drtool::report("out of memory");
        status = drtool::kExitFailed;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        drtool::report("cannot write to standard output");
        status = drtool::kExitFailed;
    }
    return status;
}
