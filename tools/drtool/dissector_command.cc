// dissector_command.cc: drtool dissector, a Wireshark dissector in Lua for a record type.
#include "tools/drtool/dissector_command.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "tools/dissector/dissector.h"
#include "tools/drtool/inputs.h"
#include "tools/drtool/outputs.h"

namespace drtool {
namespace {

// A list of ports, "7000" or "7000,7001"; reports a malformed one as a usage error.
bool parse_ports(const std::string *text, const char *option, std::vector<int> *out) {
    if (text == nullptr) return true;
    std::stringstream in(*text);
    std::string piece;
    while (std::getline(in, piece, ',')) {
        const std::optional<int> port = parse_int(piece);
        if (!port || *port < 1 || *port > 65535) {
            usage_error("dissector", std::string(option) + " takes port numbers 1 to 65535, not '" + piece + "'");
            return false;
        }
        out->push_back(*port);
    }
    return true;
}

int run_dissector(const Args &args) {
    drdissector::Options o;
    const std::optional<int> version = parse_version("dissector", args.value("-v"));
    if (!version) return kExitUsage;
    o.version = *version;
    if (!parse_ports(args.value("--tcp"), "--tcp", &o.tcp_ports) || !parse_ports(args.value("--udp"), "--udp", &o.udp_ports))
        return kExitUsage;
    if (const std::string *name = args.value("--name")) o.name = *name;
    const LibPtr lib = load_typelib(args[0]);
    if (!lib) return kExitFailed;
    const DrMeta *meta = find_type(lib.get(), args[0], args[1]);
    if (meta == nullptr) return kExitFailed;
    auto write = [&](FILE *fp) {
        if (drdissector::write_dissector(fp, lib.get(), meta, o) == 0) return kExitOk;
        report("the types of %s cannot be described: a member names a type outside the typelib", meta->name);
        return kExitFailed;
    };
    const std::string *path = args.value("-o");
    if (path == nullptr) return write(stdout);
    return write_whole(*path, [&](const std::string &tmp) {
        errno = 0;
        FILE *fp = std::fopen(tmp.c_str(), "w");
        if (fp == nullptr) return report_unwritable(tmp);
        const int rc = write(fp);
        return std::fclose(fp) == 0 || rc != kExitOk ? rc : report_unwritable(*path);
    });
}

}  // namespace

Command dissector_command() {
    return {"dissector", {"LIB", "TYPE"},
            {{"-o", "FILE", "write the dissector to FILE (proto.lua) instead of standard output"},
             {"--name", "PROTO", "the protocol's name and filter prefix; the typelib's name by default"},
             {"--tcp", "PORT[,PORT]", "decode TCP traffic on these ports"},
             {"--udp", "PORT[,PORT]", "decode UDP datagrams on these ports"},
             {"-v", "VERSION", "the default of the dissector's version preference; 0 is the newest"}},
            "Write a Wireshark dissector in Lua for records of a type",
            "Writes one self-contained Lua file. Load it with 'tshark -X lua_script:FILE' or put it\n"
            "in Wireshark's personal Lua plugins folder; packets on the given ports, or any given\n"
            "with 'Decode As' (-d tcp.port==N,PROTO), then show every record decoded. Every member\n"
            "is a field with the filter name PROTO.Type.member. Over TCP, records cut across\n"
            "segments are put back together and several in one segment are all shown. The\n"
            "dissector's preferences give the version the peers speak and the byte order of\n"
            "8-byte integers and doubles (little-endian by default).\n",
            run_dissector};
}

}  // namespace drtool
