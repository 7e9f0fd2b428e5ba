// cli.cc: parses a subcommand's words and writes its help.
#include "tools/drtool/cli.h"

#include <cctype>

namespace drtool {
namespace {

const Option *find_option(const Command &cmd, std::string_view word) {
    for (const Option &o : cmd.options)
        if (o.name == word) return &o;
    return nullptr;
}

// "-12" is a negative number (a type id), not an option.
bool is_option_word(const std::string &word) {
    return word.size() > 1 && word[0] == '-' && !std::isdigit(static_cast<unsigned char>(word[1]));
}

}  // namespace

const std::string *Args::value(std::string_view option) const {
    const auto it = options_.find(std::string(option));
    return it == options_.end() ? nullptr : &it->second;
}

int usage_error(std::string_view command, const std::string &what) {
    std::fprintf(stderr, "drtool %.*s: %s (see 'drtool %.*s --help')\n", static_cast<int>(command.size()),
                 command.data(), what.c_str(), static_cast<int>(command.size()), command.data());
    return kExitUsage;
}

int parse_args(const Command &cmd, const std::vector<std::string> &words, Args &out) {
    bool options_done = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (!options_done && (word == "--help" || word == "-h")) return kParsedHelp;
        if (!options_done && word == "--") {
            options_done = true;
            continue;
        }
        if (options_done || !is_option_word(word)) {
            if (out.positionals_.size() == cmd.positionals.size())
                return usage_error(cmd.name, "unexpected argument '" + word + "'");
            out.positionals_.push_back(word);
            continue;
        }
        const Option *opt = find_option(cmd, word);
        if (opt == nullptr) return usage_error(cmd.name, "unknown option '" + word + "'");
        if (out.has(opt->name)) return usage_error(cmd.name, "option " + word + " given twice");
        std::string value;
        if (!opt->value.empty()) {
            if (i + 1 == words.size()) return usage_error(cmd.name, "option " + word + " needs a value");
            value = words[++i];
        }
        out.options_.emplace(std::string(opt->name), std::move(value));
    }
    if (out.positionals_.size() < cmd.positionals.size())
        return usage_error(cmd.name, "missing " + std::string(cmd.positionals[out.positionals_.size()]));
    return kExitOk;
}

std::string synopsis(const Command &cmd) {
    std::string s;
    for (std::string_view p : cmd.positionals) (s += p) += ' ';
    for (const Option &o : cmd.options) {
        ((s += '[') += o.name);
        if (!o.value.empty()) (s += ' ') += o.value;
        s += "] ";
    }
    if (!s.empty()) s.pop_back();
    return s;
}

void print_command_help(const Command &cmd, FILE *fp) {
    std::fprintf(fp, "usage: drtool %.*s %s\n\n%.*s.\n", static_cast<int>(cmd.name.size()), cmd.name.data(),
                 synopsis(cmd).c_str(), static_cast<int>(cmd.summary.size()), cmd.summary.data());
    if (!cmd.details.empty())
        std::fprintf(fp, "\n%.*s", static_cast<int>(cmd.details.size()), cmd.details.data());
    std::fprintf(fp, "\nOptions:\n");
    for (const Option &o : cmd.options) {
        std::string left(o.name);
        if (!o.value.empty()) (left += ' ') += o.value;
        std::fprintf(fp, "  %-14s %.*s\n", left.c_str(), static_cast<int>(o.help.size()), o.help.data());
    }
    std::fprintf(fp, "  %-14s %s\n", "-h, --help", "show this help");
}

}  // namespace drtool
