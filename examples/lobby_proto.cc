// lobby_proto.cc: the lobby protocol's record types, leaf types first.
//
// Library version 3. Members without a version have been there from the start; LoginReq
// gained `device` in version 2 and `locale` in version 3, LoginRes gained `coins` in 2.
// Every base type of the format appears at least once.
#include "examples/lobby_proto.h"

#include <utility>

namespace lobby {
namespace {

using drtest::Entry;
using drtest::field;
using drtest::Meta;
using drtest::nested;

constexpr int kMaxNameLen = 32, kMaxTextLen = 128, kMaxPlayers = 8, kMaxItems = 4;

// A struct of version 1 whose members are numbered 1, 2, ... in declaration order.
Meta message_struct(std::string name, int32_t id, std::vector<Entry> members) {
    for (size_t k = 0; k < members.size(); ++k) members[k].id(static_cast<int32_t>(k + 1));
    Meta m = drtest::record(std::move(name), id, std::move(members));
    m.version = 1;
    return m;
}

Meta position() {
    return message_struct("Position", 10, {
        field("x", "float"),
        field("y", "float"),
        field("heading", "short").describe("degrees, 0 = north"),
    });
}

Meta item() {
    return message_struct("Item", 11, {
        field("itemId", "uint"),
        field("quantity", "ushort"),
        field("price", "money").describe("unit: cent"),
        field("rarity", "uchar"),
    });
}

// One player of a room. Each carried item travels behind a one-byte length, so a newer
// peer may append fields to Item without breaking older readers.
Meta player() {
    return message_struct("Player", 12, {
        field("uin", "uint"),
        field("name", "string", kMaxNameLen).count_macro("MAX_NAME_LEN"),
        field("clan", "char", 4).describe("clan tag"),
        field("level", "uchar"),
        field("score", "int"),
        nested("pos", "Position"),
        field("itemCount", "ushort"),
        nested("items", "Item", kMaxItems).count_macro("MAX_ITEMS").refer("itemCount").netlen(-1, 1),
    });
}

Meta login_req() {
    return message_struct("LoginReq", 20, {
        field("uin", "uint"),
        field("account", "string", kMaxNameLen).count_macro("MAX_NAME_LEN"),
        field("password", "string", kMaxNameLen)
            .count_macro("MAX_NAME_LEN")
            .io(DR_IO_NO_XML)
            .describe("kept out of XML"),
        field("clientVersion", "int"),
        field("device", "string", 16).version(2).describe("client model"),
        field("locale", "ushort").version(3).describe("Windows LCID"),
    });
}

Meta loginRes() {
    return message_struct("LoginRes", 21, {
        field("result", "int").describe("0 = welcome"),
        field("sessionId", "ulonglong"),
        field("serverTime", "datetime"),
        field("coins", "longlong").version(2),
        field("motd", "string", 64).describe("message of the day"),
    });
}

Meta chat_msg() {
    return message_struct("ChatMsg", 22, {
        field("fromUin", "uint"),
        field("toUin", "uint").describe("0 = the whole room"),
        field("channel", "uchar"),
        field("sentOn", "date"),
        field("sentAt", "time"),
        field("text", "string", kMaxTextLen).count_macro("MAX_TEXT_LEN"),
    });
}

// The players of a room, each behind a two-byte length.
Meta roster() {
    return message_struct("Roster", 23, {
        field("roomId", "ushort"),
        field("playerCount", "ushort"),
        nested("players", "Player", kMaxPlayers).count_macro("MAX_PLAYERS").refer("playerCount").netlen(-2, 2),
    });
}

Meta ping() {
    return message_struct("Ping", 24, {
        field("clientTick", "long"),
        field("flags", "ulong"),
        field("rttMs", "double").describe("last round trip"),
    });
}

// The body of a message, chosen by its command id; an unknown command reads as a ping.
Meta msg_body() {
    Meta m = drtest::union_of("MsgBody", 30, {
        nested("ping", "Ping").id(-1).describe("any other command"),
        nested("login", "LoginReq").id(kCmdLogin).id_macro("CMD_LOGIN"),
        nested("loginRes", "LoginRes").id(kCmdLoginRes).id_macro("CMD_LOGIN_RES"),
        nested("chat", "ChatMsg").id(kCmdChat).id_macro("CMD_CHAT"),
        nested("roster", "Roster").id(kCmdRoster).id_macro("CMD_ROSTER"),
    });
    m.version = 1;
    return m;
}

// Every message: a fixed head, then the body. The encoder writes the body's length over
// `bodyLen`, the two bytes at network offset 2.
Meta message() {
    return message_struct("Message", 40, {
        field("magic", "ushort").describe("always 0x4C42"),
        field("bodyLen", "ushort").describe("set by the encoder"),
        field("cmd", "ushort"),
        field("seq", "uint"),
        nested("body", "MsgBody").select("cmd").netlen(2, 2),
    });
}

}  // namespace

drtest::Lib protocol() {
    drtest::Lib lib;
    lib.name = "lobby";
    lib.id = 1;
    lib.version = 3;
    lib.macros = {
        {"CMD_LOGIN", kCmdLogin},       {"CMD_LOGIN_RES", kCmdLoginRes}, {"CMD_CHAT", kCmdChat},
        {"CMD_ROSTER", kCmdRoster},     {"MAX_NAME_LEN", kMaxNameLen},   {"MAX_TEXT_LEN", kMaxTextLen},
        {"MAX_PLAYERS", kMaxPlayers},   {"MAX_ITEMS", kMaxItems},
    };
    lib.metas = {position(), item(), player(), login_req(), loginRes(), chat_msg(),
                 roster(),   ping(), msg_body(), message()};
    return lib;
}

}  // namespace lobby
