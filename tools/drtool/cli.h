// cli.h: subcommand descriptions, argument parsing against them, and their help texts.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace drtool {

inline constexpr int kExitOk = 0;      // the operation succeeded
inline constexpr int kExitFailed = 1;  // bad input or a failed library call
inline constexpr int kExitUsage = 2;   // the command line itself is wrong

struct Option {
    std::string_view name;   // "-o", "--xml"
    std::string_view value;  // the value's placeholder ("FILE"); empty for a flag
    std::string_view help;
};

class Args;

struct Command {
    std::string_view name;
    std::vector<std::string_view> positionals;  // placeholders, all required
    std::vector<Option> options;
    std::string_view summary;                   // one line for the tool's own help
    std::string_view details;                   // the rest of the command's help
    int (*run)(const Args &);
};

// The arguments of one subcommand, checked against its Command.
class Args {
public:
    const std::string &operator[](size_t i) const { return positionals_[i]; }
    bool has(std::string_view option) const { return options_.count(std::string(option)) != 0; }
    // The option's value, or nullptr when it was not given.
    const std::string *value(std::string_view option) const;

private:
    friend int parse_args(const Command &, const std::vector<std::string> &, Args &);
    std::vector<std::string> positionals_;
    std::map<std::string, std::string> options_;
};

inline constexpr int kParsedHelp = -1;

// Fills `out` from the words after the subcommand's name. Returns kExitOk, kParsedHelp
// when help was asked for, or kExitUsage after reporting the mistake on standard error.
[[nodiscard]] int parse_args(const Command &cmd, const std::vector<std::string> &words, Args &out);

// "LIB TYPE HOSTFILE [-v VERSION] [-o NETFILE]"
std::string synopsis(const Command &cmd);
void print_command_help(const Command &cmd, FILE *fp);

// Reports a usage mistake in one line and gives the status for it.
int usage_error(std::string_view command, const std::string &what);

}  // namespace drtool
