// gen_proto.cc: writes a few sample host records of the lobby protocol to a directory.
//
//   gen_proto LIB DIR   ->  DIR/login.host, DIR/chat.host, DIR/roster.host, DIR/ping.host
//
// LIB is the lobby typelib that `drtool compile examples/lobby.xml` makes. A host record is
// the packed little-endian C layout that the typelib describes (what a program compiled
// from the generated header on an x86 host holds in memory). Members are set by dotted
// paths resolved through the typelib, so the records follow it wherever its offsets move.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dr/dr.h"

namespace {

// Values the sample records use: the command ids that choose a message body, and the
// mark every message starts with.
constexpr int kCmdLogin = 1, kCmdChat = 3, kCmdRoster = 4;
constexpr int kMagic = 0x4C42;

// One zero-filled host record of a type, filled member by member.
class HostRecord {
public:
    HostRecord(const DrLib *lib, const std::string &type) : meta_(find(lib, type)), bytes_(static_cast<size_t>(meta_->datasize), 0) {}

    HostRecord &set_int(std::string_view path, int64_t value) {
        const Member m = find(path);
        const int32_t code = m.entry->type_code;
        if (code < DR_TYPE_CHAR || code >= DR_TYPE_FLOAT) fail(path, "is not an integer member");
        put_le(m.offset, static_cast<uint64_t>(value), m.entry->unit);
        return *this;
    }
    HostRecord &set_real(std::string_view path, double value) {
        const Member m = find(path);
        if (m.entry->type_code == DR_TYPE_FLOAT)
            put_le(m.offset, std::bit_cast<uint32_t>(static_cast<float>(value)), 4);
        else if (m.entry->type_code == DR_TYPE_DOUBLE)
            put_le(m.offset, std::bit_cast<uint64_t>(value), 8);
        else
            fail(path, "is not a float or double member");
        return *this;
    }
    // A string, or a char array holding text; the NUL must fit as well.
    HostRecord &set_text(std::string_view path, std::string_view text) {
        const Member m = find(path);
        const int32_t code = m.entry->type_code;
        if (m.entry->unit != 1 || (code != DR_TYPE_STRING && code != DR_TYPE_CHAR)) fail(path, "holds no text");
        if (text.size() >= static_cast<size_t>(m.entry->size)) fail(path, "is too small for the text");
        std::memcpy(bytes_.data() + m.offset, text.data(), text.size());
        return *this;
    }

    const std::vector<uint8_t> &bytes() const { return bytes_; }

private:
    struct Member {
        const DrEntry *entry;
        size_t offset;
    };

    static const DrMeta *find(const DrLib *lib, const std::string &type) {
        const DrMeta *meta = nullptr;
        if (dr_meta_by_name(lib, type.c_str(), &meta) != 0) throw std::invalid_argument("no type " + type);
        return meta;
    }

    [[noreturn]] static void fail(std::string_view path, const char *why) {
        throw std::invalid_argument(std::string(path) + " " + why);
    }

    // "a.b[2].c": member names of nested records, with an element index where needed.
    Member find(std::string_view path) const {
        const DrMeta *meta = meta_;
        size_t offset = 0;
        const DrEntry *entry = nullptr;
        for (std::string_view rest = path; !rest.empty();) {
            if (entry != nullptr) {
                if (entry->meta_off == -1) fail(path, "goes below a base type member");
                meta = meta_at(meta, entry->meta_off);
            }
            const size_t dot = rest.find('.');
            std::string_view part = rest.substr(0, dot);
            rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
            size_t index = 0;
            if (const size_t bracket = part.find('['); bracket != std::string_view::npos) {
                index = std::stoul(std::string(part.substr(bracket + 1)));
                part = part.substr(0, bracket);
            }
            entry = nullptr;
            for (int32_t k = 0; k < meta->count; ++k)
                if (part == meta->entries[k].name) entry = &meta->entries[k];
            if (entry == nullptr) fail(path, "names no member");
            if (index >= static_cast<size_t>(std::max(entry->count, 1))) fail(path, "indexes past the array");
            const int32_t stride = entry->meta_off == -1 ? entry->unit : meta_at(meta, entry->meta_off)->datasize;
            offset += static_cast<size_t>(entry->off) + index * static_cast<size_t>(stride);
        }
        if (entry == nullptr) fail(path, "is empty");
        return {entry, offset};
    }

    // A nested member's type: its data-area offset counted from the image that holds `in`.
    static const DrMeta *meta_at(const DrMeta *in, int32_t data_off) {
        const char *data_area = reinterpret_cast<const char *>(in) - in->self_off;
        return reinterpret_cast<const DrMeta *>(data_area + data_off);
    }

    void put_le(size_t offset, uint64_t value, int32_t width) {
        for (int32_t i = 0; i < width; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }

    const DrMeta *meta_;
    std::vector<uint8_t> bytes_;
};

// Each message carries the length of its encoded body in bodyLen, as a sender that
// encodes it would find it; decoding the encoded record then gives the record back.
HostRecord message(const DrLib *image, int cmd, int seq, int bodyLen) {
    HostRecord r(image, "Message");
    r.set_int("magic", kMagic).set_int("cmd", cmd).set_int("seq", seq).set_int("bodyLen", bodyLen);
    return r;
}

HostRecord login(const DrLib *image) {
    HostRecord r = message(image, kCmdLogin, 1, 43);
    r.set_int("body.login.uin", 10001)
        .set_text("body.login.account", "alice")
        .set_text("body.login.password", "s3cret")
        .set_int("body.login.clientVersion", 30)
        .set_text("body.login.device", "pixel-7")
        .set_int("body.login.locale", 1033);
    return r;
}

HostRecord chat(const DrLib *image) {
    HostRecord r = message(image, kCmdChat, 7, 35);
    r.set_int("body.chat.fromUin", 10001)
        .set_int("body.chat.toUin", 0)
        .set_int("body.chat.channel", 1)
        .set_int("body.chat.sentOn", 20240314)
        .set_int("body.chat.sentAt", 93000)
        .set_text("body.chat.text", "hello, lobby!");
    return r;
}

HostRecord roster(const DrLib *image) {
    HostRecord r = message(image, kCmdRoster, 8, 100);
    r.set_int("body.roster.roomId", 7).set_int("body.roster.playerCount", 2);
    r.set_int("body.roster.players[0].uin", 10001)
        .set_text("body.roster.players[0].name", "alice")
        .set_text("body.roster.players[0].clan", "RED")
        .set_int("body.roster.players[0].level", 12)
        .set_int("body.roster.players[0].score", 1500)
        .set_real("body.roster.players[0].pos.x", 1.5)
        .set_real("body.roster.players[0].pos.y", -2.25)
        .set_int("body.roster.players[0].pos.heading", 90)
        .set_int("body.roster.players[0].itemCount", 2)
        .set_int("body.roster.players[0].items[0].itemId", 1001)
        .set_int("body.roster.players[0].items[0].quantity", 3)
        .set_int("body.roster.players[0].items[0].price", 250)
        .set_int("body.roster.players[0].items[0].rarity", 1)
        .set_int("body.roster.players[0].items[1].itemId", 1002)
        .set_int("body.roster.players[0].items[1].quantity", 1)
        .set_int("body.roster.players[0].items[1].price", 1999)
        .set_int("body.roster.players[0].items[1].rarity", 3);
    r.set_int("body.roster.players[1].uin", 10002)
        .set_text("body.roster.players[1].name", "bob")
        .set_text("body.roster.players[1].clan", "BLU")
        .set_int("body.roster.players[1].level", 7)
        .set_int("body.roster.players[1].score", -20)
        .set_real("body.roster.players[1].pos.y", 4)
        .set_int("body.roster.players[1].pos.heading", 180);
    return r;
}

// Command 99 is none of the known ones, so the body is the default member, a ping.
HostRecord ping(const DrLib *image) {
    HostRecord r = message(image, 99, 9, 16);
    r.set_int("body.ping.clientTick", 123456).set_int("body.ping.flags", 5).set_real("body.ping.rttMs", 12.5);
    return r;
}

bool write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (fp == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
    return std::fclose(fp) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gen_proto LIB DIR\n");
        return 2;
    }
    const std::string dir = argv[2];
    DrLib *image = nullptr;
    if (dr_load_lib_file(&image, argv[1]) != 0) {
        std::fprintf(stderr, "gen_proto: cannot load %s\n", argv[1]);
        return 1;
    }
    int status = 0;
    try {
        const std::pair<const char *, HostRecord> records[] = {
            {"login", login(image)}, {"chat", chat(image)}, {"roster", roster(image)}, {"ping", ping(image)}};
        for (const auto &[name, record] : records) {
            const std::string path = dir + "/" + name + ".host";
            if (!write_file(path, record.bytes())) {
                std::fprintf(stderr, "gen_proto: cannot write %s\n", path.c_str());
                status = 1;
                break;
            }
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "gen_proto: %s\n", e.what());
        status = 1;
    }
    dr_free_lib(image);
    return status;
}
