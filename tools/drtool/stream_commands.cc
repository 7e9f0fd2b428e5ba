// stream_commands.cc: decode --stream and encode --stream, records back to back in a file or a pipe.
#include "tools/drtool/stream_commands.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "dr/dr_stream.h"
#include "tools/drtool/cli.h"
#include "tools/drtool/inputs.h"

#if DRTOOL_JSON
#include "dr/dr_json.h"
#endif
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace drtool {
namespace {

// Network forms are bytes: on Windows, standard input and output must not translate line ends.
void binary_mode(FILE *fp) {
#ifdef _WIN32
    (void)_setmode(_fileno(fp), _O_BINARY);
#else
    (void)fp;
#endif
}

// A file named by path, or standard input for "-"; closed when it was opened here.
class Input {
public:
    explicit Input(const std::string &path) : path_(path) {
        if (path == "-") {
            fp_ = stdin;
            binary_mode(stdin);
            name_ = "standard input";
            return;
        }
        errno = 0;
        fp_ = std::fopen(path.c_str(), "rb");
        name_ = path;
        if (fp_ == nullptr) report("cannot open %s: %s", path.c_str(), std::strerror(errno));
    }
    ~Input() {
        if (fp_ != nullptr && fp_ != stdin) std::fclose(fp_);
    }
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;

    FILE *get() const { return fp_; }
    const char *name() const { return name_.c_str(); }
    // Whether reading stopped on an error rather than at the end; reports it.
    bool failed() const {
        if (!std::ferror(fp_)) return false;
        report("cannot read %s: %s", name(), std::strerror(errno));
        return true;
    }

private:
    std::string path_, name_;
    FILE *fp_ = nullptr;
};

[[nodiscard]] bool stream_target(std::string_view command, const Args &args, int *version, LibPtr *lib,
                                 const DrMeta **meta, int *rc) {
    *rc = kExitUsage;
    if (args.value("-o") != nullptr) return usage_error(command, "--stream writes to standard output; -o does not apply"), false;
    const std::optional<int> v = parse_version(command, args.value("-v"));
    if (!v) return false;
    *version = *v;
    *rc = kExitFailed;
    *lib = load_typelib(args[0]);
    if (!*lib) return false;
    *meta = find_type(lib->get(), args[0], args[1]);
    return *meta != nullptr;
}

// Writes one decoded record as a line of JSON or of text.
[[nodiscard]] bool write_record(const DrMeta *meta, std::vector<char> &host, int version, bool json) {
    DrBuffer h{host.data(), static_cast<int32_t>(std::min<size_t>(host.size(), INT32_MAX))};
#if DRTOOL_JSON
    if (json) return dr_print_data_json(meta, stdout, &h, version, 0) == 0;
#else
    if (json) {
        report("this drtool was built without JSON support (RapidJSON was missing)");
        return false;
    }
#endif
    return dr_print_data(meta, stdout, &h, version) == 0;
}

}  // namespace

int run_decode_stream(const Args &args) {
    int version = 0, rc = kExitOk;
    LibPtr lib;
    const DrMeta *meta = nullptr;
    if (!stream_target("decode", args, &version, &lib, &meta, &rc)) return rc;
    Input in(args[2]);
    if (in.get() == nullptr) return kExitFailed;
    const bool json = args.has("--json");

    const size_t host_size = static_cast<size_t>(std::max(meta->datasize, 0));
    std::vector<char> scratch(std::max<size_t>(host_size, 1)), host(std::max<size_t>(host_size, 1));
    DrStreamReader reader;
    (void)dr_stream_reader_init(&reader, meta, version, scratch.data(), static_cast<int32_t>(host_size));

    std::vector<char> bytes;  // bytes read and not yet taken, from stream offset `taken`
    long long taken = 0, records = 0;
    char chunk[65536];
    bool at_end = false;
    while (!at_end) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, in.get());
        if (got == 0) {
            if (in.failed()) return kExitFailed;
            at_end = true;
        }
        if (got > static_cast<size_t>(INT32_MAX) - bytes.size()) {
            report("a record of %s at offset %lld in %s is longer than the 2 GiB a record buffer can reach", meta->name,
                   taken, in.name());
            return kExitFailed;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
        size_t pos = 0;
        for (;;) {
            if (pos == bytes.size()) break;
            const int32_t left = static_cast<int32_t>(bytes.size() - pos);
            int32_t len = 0;
            DrError err;
            const int status = dr_stream_reader_measure(&reader, bytes.data() + pos, left, &len, &err);
            const long long at = taken + static_cast<long long>(pos);
            if (status == DR_STREAM_MORE) {
                if (!at_end) break;
                std::fflush(stdout);
                report("the input ends inside record %lld of %s, at offset %lld: %d bytes of it are there, at least "
                       "%d are needed",
                       records + 1, meta->name, at, left, len);
                return kExitFailed;
            }
            if (status == DR_STREAM_BAD) {
                std::fflush(stdout);
                report("the bytes at offset %lld are not a record of %s: %s at network offset %lld", at, meta->name,
                       err.text, at + std::max(err.net_offset, 0));
                return kExitFailed;
            }
            if (len == 0) {
                std::fflush(stdout);
                report("a record of %s takes no bytes at version %d, so a stream of them has no end", meta->name,
                       version);
                return kExitFailed;
            }
            std::fill(host.begin(), host.end(), 0);
            DrBuffer h{host.data(), static_cast<int32_t>(host_size)};
            DrBuffer n{bytes.data() + pos, len};
            if (dr_net_to_host_ex(meta, &h, &n, version, &err) != 0) {
                std::fflush(stdout);
                report("record %lld of %s, at offset %lld, does not decode: %s at network offset %lld", records + 1,
                       meta->name, at, err.text, at + std::max(err.net_offset, 0));
                return kExitFailed;
            }
            if (!write_record(meta, host, version, json)) {
                std::fflush(stdout);
                report("writing record %lld of %s stopped", records + 1, meta->name);
                return kExitFailed;
            }
            ++records;
            pos += static_cast<size_t>(len);
        }
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(pos));
        taken += static_cast<long long>(pos);
        std::fflush(stdout);  // a reader of a pipe sees each batch as it is decoded
    }
    return kExitOk;
}

int run_encode_stream(const Args &args) {
    int version = 0, rc = kExitOk;
    LibPtr lib;
    const DrMeta *meta = nullptr;
    if (!stream_target("encode", args, &version, &lib, &meta, &rc)) return rc;
#if DRTOOL_JSON
    Input in(args[2]);
    if (in.get() == nullptr) return kExitFailed;
    binary_mode(stdout);
    const size_t host_size = static_cast<size_t>(std::max(meta->datasize, 0));
    std::vector<char> host(std::max<size_t>(host_size, 1)), net;
    std::string line;
    long long number = 0;
    int c = 0;
    while (c != EOF) {
        line.clear();
        while ((c = std::fgetc(in.get())) != EOF && c != '\n') line.push_back(static_cast<char>(c));
        if (c == EOF && in.failed()) return kExitFailed;
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;  // blank lines separate nothing
        std::fill(host.begin(), host.end(), 0);
        DrBuffer h{host.data(), static_cast<int32_t>(host_size)};
        DrBuffer j{line.data(), static_cast<int32_t>(std::min<size_t>(line.size(), INT32_MAX))};
        DrJsonError jerr;
        if (dr_json_to_host(meta, &h, &j, version, &jerr) != 0) {
            std::fflush(stdout);
            report("%s line %lld: %s", in.name(), number, jerr.message);
            return kExitFailed;
        }
        DrError err;
        DrBuffer n{nullptr, 0};
        h.len = static_cast<int32_t>(host_size);
        int ok = dr_host_to_net_ex(meta, &n, &h, version, &err);
        if (ok == 0) {
            net.resize(std::max<size_t>(static_cast<size_t>(n.len), 1));
            n = {net.data(), n.len};
            h.len = static_cast<int32_t>(host_size);
            ok = dr_host_to_net_ex(meta, &n, &h, version, &err);
        }
        if (ok != 0) {
            std::fflush(stdout);
            report("%s line %lld: encoding %s failed: %s at network offset %d, host offset %d", in.name(), number,
                   meta->name, err.text, err.net_offset, err.host_offset);
            return kExitFailed;
        }
        if (std::fwrite(net.data(), 1, static_cast<size_t>(n.len), stdout) != static_cast<size_t>(n.len)) {
            report("cannot write to standard output");
            return kExitFailed;
        }
    }
    return kExitOk;
#else
    report("this drtool was built without JSON support (RapidJSON was missing)");
    return kExitFailed;
#endif
}

}  // namespace drtool
