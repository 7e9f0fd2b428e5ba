// json_commands.cc: JSON records in and out of drtool, over the dr_json library. A build
// without RapidJSON has no dr_json; its JSON options then say so and fail.
#include "tools/drtool/json_commands.h"

#include <algorithm>
#include <climits>

#include "tools/drtool/hexdump.h"
#include "tools/drtool/inputs.h"
#include "tools/drtool/outputs.h"

#if DRTOOL_JSON
#include "dr/dr_json.h"
#endif

namespace drtool {
namespace {

bool named_json(const std::string &path) {
    if (path.size() < 5) return false;
    std::string ext = path.substr(path.size() - 5);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".json";
}

// Text whose first and last non-blank characters are braces, with no NUL byte: a host
// record of the packed C layout practically always holds a 0 byte somewhere.
bool looks_like_json(const std::vector<char> &bytes) {
    if (std::find(bytes.begin(), bytes.end(), '\0') != bytes.end()) return false;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    const auto first = std::find_if_not(bytes.begin(), bytes.end(), blank);
    const auto last = std::find_if_not(bytes.rbegin(), bytes.rend(), blank);
    return first != bytes.end() && *first == '{' && *last == '}';
}

#if DRTOOL_JSON
// The host record is the type's datasize bytes (at least 1, for a real pointer).
size_t host_size(const DrMeta *meta) { return static_cast<size_t>(std::max(meta->datasize, 0)); }

std::optional<std::vector<char>> host_from_json(const std::string &path, std::vector<char> &text, const DrMeta *meta,
                                                int version) {
    std::vector<char> host(std::max<size_t>(host_size(meta), 1));
    DrBuffer h{host.data(), static_cast<int32_t>(host_size(meta))};
    DrBuffer j{text.data(), static_cast<int32_t>(text.size())};
    DrJsonError err;
    if (dr_json_to_host(meta, &h, &j, version, &err) != 0) {
        report("%s: %s", path.c_str(), err.message);
        return std::nullopt;
    }
    host.resize(host_size(meta));
    return host;
}
#else
std::optional<std::vector<char>> host_from_json(const std::string &path, std::vector<char> &, const DrMeta *, int) {
    report("%s: this drtool was built without JSON support (RapidJSON was missing)", path.c_str());
    return std::nullopt;
}
#endif

}  // namespace

std::optional<std::vector<char>> read_record(const Args &args, const std::string &path, const DrMeta *meta,
                                             int version) {
    std::optional<std::vector<char>> bytes = read_file(path);
    if (!bytes) return std::nullopt;
    if (args.has("--json") || named_json(path) || looks_like_json(*bytes))
        return host_from_json(path, *bytes, meta, version);
    if (!host_record_fits(path, bytes->size(), meta)) return std::nullopt;
    return bytes;
}

int emit_json(const Args &args, const DrMeta *meta, std::vector<char> &host, int version) {
#if DRTOOL_JSON
    auto write = [&](FILE *fp) {
        DrBuffer h{host.data(), static_cast<int32_t>(std::min<size_t>(host.size(), INT32_MAX))};
        if (dr_print_data_json(meta, fp, &h, version, 2) == 0) return kExitOk;
        std::fflush(stdout);
        report("writing %s as JSON stopped at host offset %d", meta->name, h.len);
        return kExitFailed;
    };
    if (const std::string *path = args.value("-o")) return write_output(*path, true, write);
    return write(stdout);
#else
    (void)args, (void)meta, (void)host, (void)version;
    report("this drtool was built without JSON support (RapidJSON was missing)");
    return kExitFailed;
#endif
}

int run_host(const Args &args) {
    const std::optional<int> version = parse_version("host", args.value("-v"));
    if (!version) return kExitUsage;
    const LibPtr lib = load_typelib(args[0]);
    if (!lib) return kExitFailed;
    const DrMeta *meta = find_type(lib.get(), args[0], args[1]);
    if (meta == nullptr) return kExitFailed;
    std::optional<std::vector<char>> text = read_file(args[2]);
    if (!text) return kExitFailed;
    const std::optional<std::vector<char>> host = host_from_json(args[2], *text, meta, *version);
    if (!host) return kExitFailed;
    if (const std::string *path = args.value("-o"))
        return write_file(*path, host->data(), host->size()) ? kExitOk : kExitFailed;
    hex_dump(stdout, host->data(), host->size());
    return kExitOk;
}

}  // namespace drtool
