// dissector_command.h: the drtool dissector command.
#pragma once

#include "tools/drtool/cli.h"

namespace drtool {

Command dissector_command();

}  // namespace drtool
