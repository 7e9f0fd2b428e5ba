// commands.cc: the subcommands, each a thin layer over one library call.
#include "tools/drtool/commands.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "tools/drtool/hexdump.h"
#include "tools/drtool/inputs.h"
#include "tools/drtool/outputs.h"
#include "tools/drtool/json_commands.h"
#include "tools/drtool/stream_commands.h"
#include "tools/drtool/dissector_command.h"

namespace drtool {
namespace {

int32_t buffer_len(size_t n) { return static_cast<int32_t>(std::min<size_t>(n, INT32_MAX)); }

// What encode, decode and print share: a version, a typelib and a type in it.
struct Target {
    int version = 0;
    LibPtr lib;
    const DrMeta *meta = nullptr;
};

[[nodiscard]] int open_target(std::string_view command, const Args &args, Target &t) {
    const std::optional<int> version = parse_version(command, args.value("-v"));
    if (!version) return kExitUsage;
    t.version = *version;
    t.lib = load_typelib(args[0]);
    if (!t.lib) return kExitFailed;
    t.meta = find_type(t.lib.get(), args[0], args[1]);
    return t.meta != nullptr ? kExitOk : kExitFailed;
}

[[nodiscard]] int report_refused(const Target &t) {
    report("type %s starts at version %d, after the requested version %d", t.meta->name, t.meta->version, t.version);
    return kExitFailed;
}

[[nodiscard]] int report_codec_failure(const char *what, const Target &t, int32_t net_at, int32_t host_at) {
    report("%s %s failed at network offset %d, host offset %d", what, t.meta->name, net_at, host_at);
    return kExitFailed;
}

// Binary output goes to the file named by -o, else to standard output as a hex dump.
[[nodiscard]] int emit(const Args &args, const char *data, size_t size) {
    if (const std::string *path = args.value("-o")) return write_file(*path, data, size) ? kExitOk : kExitFailed;
    hex_dump(stdout, data, size);
    return kExitOk;
}

int run_summary(const Args &args) {
    const LibPtr lib = load_typelib(args[0]);
    if (!lib) return kExitFailed;
    dr_print_lib_summary(stdout, lib.get());
    return kExitOk;
}

int run_xml(const Args &args) {
    const LibPtr lib = load_typelib(args[0]);
    if (!lib) return kExitFailed;
    if (args.has("--source")) return write_source(lib.get(), args.value("-o"));
    if (const std::string *path = args.value("-o")) {
        errno = 0;
        return dr_print_lib_xml_file(lib.get(), path->c_str()) == 0 ? kExitOk : report_unwritable(*path);
    }
    return dr_print_lib_xml(lib.get(), stdout) == 0 ? kExitOk : kExitFailed;
}

// The portable header by default: fixed-width integer types, each type defined before its
// users, and compile-time checks of the layout. --classic writes the library's classic text.
int run_header(const Args &args) {
    const LibPtr lib = load_typelib(args[0]);
    if (!lib) return kExitFailed;
    const std::string *prefix = args.value("--prefix");
    const int flags = args.has("--classic") ? 0 : DR_HEADER_PORTABLE;
    return write_header(lib.get(), args[1], prefix ? prefix->c_str() : nullptr, flags);
}

int run_encode(const Args &args) {
    if (args.has("--stream")) return run_encode_stream(args);
    Target t;
    if (const int rc = open_target("encode", args, t); rc != kExitOk) return rc;
    std::optional<std::vector<char>> host = read_record(args, args[2], t.meta, t.version);
    if (!host) return kExitFailed;
    // A first pass without a network buffer sizes it exactly.
    DrError err;
    DrBuffer net_buf{nullptr, 0};
    DrBuffer host_buf{host->data(), buffer_len(host->size())};
    int rc = dr_host_to_net_ex(t.meta, &net_buf, &host_buf, t.version, &err);
    std::vector<char> net(rc == 0 ? std::max<size_t>(static_cast<size_t>(net_buf.len), 1) : 0);
    if (rc == 0) {
        net_buf = {net.data(), net_buf.len};
        host_buf.len = buffer_len(host->size());
        rc = dr_host_to_net_ex(t.meta, &net_buf, &host_buf, t.version, &err);
    }
    if (rc != 0) {
        if (err.code == DR_E_VERSION) return report_refused(t);
        return report_codec_failure("encoding", t, err.net_offset, err.host_offset);
    }
    return emit(args, net.data(), static_cast<size_t>(net_buf.len));
}

int run_decode(const Args &args) {
    if (args.has("--stream")) return run_decode_stream(args);
    Target t;
    if (const int rc = open_target("decode", args, t); rc != kExitOk) return rc;
    std::optional<std::vector<char>> net = read_file(args[2]);
    if (!net) return kExitFailed;
    net->reserve(1);  // a real pointer even for an empty file
    // The record starts zeroed, so what the network form does not set reads as 0.
    const size_t host_size = static_cast<size_t>(std::max(t.meta->datasize, 0));
    std::vector<char> host(std::max<size_t>(host_size, 1), 0);
    DrBuffer host_buf{host.data(), buffer_len(host_size)};
    DrBuffer net_buf{net->data(), buffer_len(net->size())};
    const int64_t size = static_cast<int64_t>(net_buf.len);
    DrError err;
    if (dr_net_to_host_ex(t.meta, &host_buf, &net_buf, t.version, &err) != 0) {
        if (err.code == DR_E_VERSION) return report_refused(t);
        if (err.code == DR_E_LENGTH_PAST) {
            report("decoding %s failed: %s", t.meta->name, err.text);
            return kExitFailed;
        }
        // Offsets inside the input only: a cursor past the end means the input ended first.
        if (net_buf.len > size) {
            report("decoding %s failed: the input ends at network offset %lld, inside the record (host offset %d)",
                   t.meta->name, static_cast<long long>(size), host_buf.len);
            return kExitFailed;
        }
        return report_codec_failure("decoding", t, net_buf.len, host_buf.len);
    }
    if (err.text[0] != '\0') report("note: %s", err.text);  // what an element's length field did
    const int64_t unread = size - std::max<int64_t>(net_buf.len, err.net_offset);
    if (unread > 0)
        report("note: the last %lld bytes of %s follow the record and were not read", static_cast<long long>(unread),
               args[2].c_str());
    if (args.has("--json")) return emit_json(args, t.meta, host, t.version);
    return emit(args, host.data(), host_size);
}

int run_print(const Args &args) {
    Target t;
    if (const int rc = open_target("print", args, t); rc != kExitOk) return rc;
    std::optional<std::vector<char>> host = read_host_record(args[2], t.meta);
    if (!host) return kExitFailed;
    if (args.has("--json")) return emit_json(args, t.meta, *host, t.version);
    const bool xml = args.has("--xml");
    DrBuffer host_buf{host->data(), buffer_len(host->size())};
    DrError err;
    const int rc = xml ? dr_print_data_xml_ex(t.meta, stdout, &host_buf, t.version, &err)
                       : dr_print_data_ex(t.meta, stdout, &host_buf, t.version, &err);
    if (rc == 0) return kExitOk;
    if (err.code == DR_E_VERSION) return report_refused(t);
    std::fflush(stdout);
    report("rendering %s stopped at host offset %d", t.meta->name, err.host_offset);
    return kExitFailed;
}

constexpr Option kStream{"--stream", "", "records back to back, one per line of text or JSON"};
constexpr Option kVersion{"-v", "VERSION", "the version the peer speaks; 0, the default, is the newest"};

}  // namespace

const std::vector<Command> &commands() {
    static const std::vector<Command> table = {
        {"summary", {"LIB"}, {}, "List every macro, type and member of a typelib",
         "Shows the header's counts, every macro, and every type with the raw numbers of each\n"
         "member, as stored.\n",
         run_summary},
        {"xml", {"LIB"},
         {{"-o", "FILE", "write the description to FILE instead of standard output"},
          {"--source", "", "write the complete source that 'drtool compile' turns back into LIB"}},
         "Describe a typelib as XML",
         "Writes the typelib's macros and every type with its members as XML. The description\n"
         "leaves out what only layout needs (element length fields, type versions); with\n"
         "--source it keeps everything, so that compiling it gives LIB back byte for byte.\n",
         run_xml},
        {"header", {"LIB", "OUT.h"},
         {{"--prefix", "P", "put P before every member name (m_ gives m_iScore)"},
          {"--classic", "", "the classic text: host C types (long, longlong), no layout checks"}},
         "Write a C header that declares every macro and type of a typelib",
         "Declares each macro as a #define and each type as a packed struct or union, so that a\n"
         "C program can hold host records of these types. Member names get a prefix from their\n"
         "base type (score becomes iScore, name becomes szName). Integer members take the\n"
         "fixed-width types of <stdint.h> (a 4-byte long is int32_t), each type is defined\n"
         "before its users, and compile-time checks of every type's size and of member offsets\n"
         "make the header fail to compile on a host that would lay a type out otherwise.\n"
         "The include guard is made of OUT.h's file name, every character that cannot stand in\n"
         "a C identifier turned into an underscore (my-proto.v2.h gives MY_PROTO_V2_H).\n",
         run_header},
        {"encode", {"LIB", "TYPE", "HOSTFILE"},
         {kVersion, {"-o", "NETFILE", "write the network form to NETFILE instead of a hex dump"},
          {"--json", "", "read HOSTFILE as a JSON record"}, kStream},
         "Encode a host record into its network form",
         "HOSTFILE holds a record of TYPE in host form: the packed C layout that the generated\n"
         "header declares, at least the type's datasize bytes; or a JSON record (docs/json.md),\n"
         "taken as such when it is named *.json, looks like a JSON object, or --json is given.\n"
         "TYPE is a type name or a numeric type id. Members added after VERSION are left out.\n"
         "With --stream, HOSTFILE (- for standard input) holds one JSON record per line, and\n"
         "their network forms go to standard output back to back.\n",
         run_encode},
        {"decode", {"LIB", "TYPE", "NETFILE"},
         {kVersion, {"-o", "HOSTFILE", "write the host record to HOSTFILE instead of a hex dump"},
          {"--json", "", "write the record as JSON instead"}, kStream},
         "Decode a network form into a host record",
         "The host record is the type's datasize bytes; whatever the network form does not set\n"
         "(members added after VERSION, unused array elements) stays 0. TYPE is a type name or\n"
         "a numeric type id.\n"
         "With --stream, NETFILE (- for standard input) holds records back to back, each shown\n"
         "on a line of its own as it arrives (text, or JSON with --json). A record cut at the end\n"
         "or bytes that are no record are reported with their offset, after every whole record\n"
         "before them, and the exit status is 1.\n",
         run_decode},
        {"print", {"LIB", "TYPE", "HOSTFILE"},
         {kVersion, {"--xml", "", "render as XML instead of one line of text"}, {"--json", "", "render as JSON"}},
         "Render a host record as text or XML",
         "Shows the record of TYPE in HOSTFILE (at least the type's datasize bytes), leaving\n"
         "out members added after VERSION. TYPE is a type name or a numeric type id.\n",
         run_print},
        compile_command(),
        dissector_command(),
        compat_command(),
        {"host", {"LIB", "TYPE", "JSONFILE"},
         {kVersion, {"-o", "HOSTFILE", "write the host record to HOSTFILE instead of a hex dump"}},
         "Turn a JSON record into a host record",
         "Reads the record of TYPE written as JSON (docs/json.md) and writes its host form, the\n"
         "type's datasize bytes that a C program compiled with the generated header reads.\n"
         "Members the JSON leaves out are 0; count and selector members left out are set from\n"
         "their array and union. A refused record is reported with its JSON path, line and column.\n",
         run_host},
    };
    return table;
}

}  // namespace drtool
