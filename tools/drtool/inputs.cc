// inputs.cc: reading and checking what the tool is given, with one clear message per mistake.
#include "tools/drtool/inputs.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tools/drtool/cli.h"

namespace drtool {

void report(const char *format, ...) {
    std::fputs("drtool: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

std::optional<int> parse_int(const std::string &text) {
    int value = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::optional<int> parse_version(std::string_view command, const std::string *text) {
    if (text == nullptr) return 0;
    const std::optional<int> v = parse_int(*text);
    if (!v) usage_error(command, "VERSION must be a whole number, not '" + *text + "'");
    return v;
}

std::optional<std::vector<char>> read_file(const std::string &path) {
    errno = 0;
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) {
        report("cannot open %s: %s", path.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    std::vector<char> bytes;
    char chunk[65536];
    bool too_large = false;
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, fp)) > 0) {
        if (got > INT32_MAX - bytes.size()) {
            too_large = true;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const int read_error = std::ferror(fp) ? errno : 0;
    std::fclose(fp);
    if (too_large) {
        report("%s is larger than the 2 GiB a record buffer can reach", path.c_str());
        return std::nullopt;
    }
    if (read_error != 0) {
        report("cannot read %s: %s", path.c_str(), std::strerror(read_error));
        return std::nullopt;
    }
    return bytes;
}

LibPtr load_typelib(const std::string &path) {
    DrLib *lib = nullptr;
    DrError err;
    if (dr_load_lib_file_ex(&lib, path.c_str(), &err) == 0) return LibPtr(lib);
    const char *p = path.c_str();
    switch (err.code) {
    case DR_E_OPEN: report("cannot open %s: %s", p, err.text); break;
    case DR_E_READ: report("cannot read %s: %s", p, err.text); break;
    case DR_E_NOT_TYPELIB: report("%s is not a typelib (%s)", p, err.text); break;
    case DR_E_FORMAT_LEVEL: report("%s is a typelib of %s; this tool reads level 103 only", p, err.text); break;
    case DR_E_IMAGE: report("%s is not a typelib: %s", p, err.text); break;
    default: report("cannot load %s: %s", p, err.text); break;
    }
    return nullptr;
}

const DrMeta *find_type(const DrLib *lib, const std::string &lib_path, const std::string &type) {
    const DrMeta *meta = nullptr;
    if (const std::optional<int> id = parse_int(type)) {
        if (dr_meta_by_id(lib, *id, &meta) != 0) report("%s has no type with id %d", lib_path.c_str(), *id);
    } else if (dr_meta_by_name(lib, type.c_str(), &meta) != 0) {
        report("%s has no type named '%s'", lib_path.c_str(), type.c_str());
    }
    return meta;
}

bool host_record_fits(const std::string &path, size_t size, const DrMeta *meta) {
    if (meta->datasize <= 0 || size >= static_cast<size_t>(meta->datasize)) return true;
    report("%s holds %d bytes, but a %s record takes %d", path.c_str(), static_cast<int>(size), meta->name,
           meta->datasize);
    return false;
}

std::optional<std::vector<char>> read_host_record(const std::string &path, const DrMeta *meta) {
    std::optional<std::vector<char>> bytes = read_file(path);
    if (bytes && !host_record_fits(path, bytes->size(), meta)) return std::nullopt;
    return bytes;
}

}  // namespace drtool
