// commands.h: the table of drtool's subcommands.
#pragma once

#include <vector>

#include "tools/drtool/cli.h"

namespace drtool {

// Every subcommand, in the order the tool's help lists them.
const std::vector<Command> &commands();

}  // namespace drtool
