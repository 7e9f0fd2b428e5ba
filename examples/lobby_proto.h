// lobby_proto.h: the sample protocol of a small multiplayer game lobby, as an image description.
#pragma once

#include "tests/support/image_builder.h"

namespace lobby {

// Values the sample records use: the command ids that choose a message body, and the
// mark every message starts with.
inline constexpr int kCmdLogin = 1, kCmdLoginRes = 2, kCmdChat = 3, kCmdRoster = 4;
inline constexpr int kMagic = 0x4C42;

// The whole protocol: ten record types, from Position up to Message.
drtest::Lib protocol();

}  // namespace lobby
