// commands.h: the table of drtool's subcommands.
#pragma once

#include <vector>

#include "tools/drtool/cli.h"

namespace drtool {

// Every subcommand, in the order the tool's help lists them.
const std::vector<Command> &commands();

// `compile`, defined with the compiler's interface (compile.cc).
Command compile_command();

// `compat`, the check of a typelib against the one it replaces (compat.cc).
Command compat_command();

}  // namespace drtool
