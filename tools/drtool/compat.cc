// compat.cc: `drtool compat OLD NEW`, whether NEW still speaks every version of OLD.
#include <cstdio>
#include <string>
#include <vector>

#include "dr/dr_compat.h"
#include "tools/drtool/commands.h"
#include "tools/drtool/inputs.h"

#ifdef DRTOOL_HAVE_COMPILER
#include "dr/dr_compile.h"
#endif

namespace drtool {
namespace {

// One side: its image, and its source text when it was compiled from XML.
struct Side {
    LibPtr lib;
    std::vector<char> source;
};

bool is_typelib(const std::vector<char> &bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x55 && static_cast<unsigned char>(bytes[1]) == 0x44;
}

// A typelib file, or an XML source compiled here; reports what is wrong.
bool load_side(const std::string &path, Side &side) {
    std::optional<std::vector<char>> bytes = read_file(path);
    if (!bytes) return false;
    if (is_typelib(*bytes)) {
        side.lib = load_typelib(path);
        return side.lib != nullptr;
    }
#ifdef DRTOOL_HAVE_COMPILER
    DrLib *compiled = nullptr;
    DrCompileError err{};
    if (dr_compile(&compiled, bytes->data(), bytes->size(), &err) != 0) {
        if (err.line > 0)
            std::fprintf(stderr, "%s:%d:%d: %s\n", path.c_str(), err.line, err.column, err.message);
        else
            std::fprintf(stderr, "%s: %s\n", path.c_str(), err.message);
        return false;
    }
    side.lib.reset(compiled);
    side.source = std::move(*bytes);
    return true;
#else
    report("%s is not a typelib, and this drtool was built without the typelib compiler to read it as XML",
           path.c_str());
    return false;
#endif
}

struct Place {
    int line = 0, column = 0;
};

// Where NEW's source declares what a finding names; nothing for a typelib.
Place place_of(const Side &side, const DrCompatFinding &f) {
    Place at;
#ifdef DRTOOL_HAVE_COMPILER
    if (!side.source.empty() && f.new_type[0])
        dr_compile_place(side.source.data(), side.source.size(), f.new_type, f.new_member, &at.line, &at.column);
#else
    (void)side, (void)f;
#endif
    return at;
}

// A JSON string; bytes outside ASCII are taken as ISO-8859-1, as the typelib's 8-bit text is.
std::string json_text(const std::string &s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            (out += '\\') += c;
        } else if (u < 0x20 || u >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + '"';
}

const char *kind_name(int kind) {
    static const char *const names[] = {"",
                                        "type-removed",
                                        "type-class",
                                        "type-version",
                                        "type-id",
                                        "type-renamed",
                                        "host-layout",
                                        "member-removed",
                                        "member-added",
                                        "member-moved",
                                        "member-renamed",
                                        "member-type",
                                        "member-count",
                                        "member-refer",
                                        "member-select",
                                        "member-length",
                                        "union-id"};
    return kind > 0 && kind < static_cast<int>(sizeof names / sizeof names[0]) ? names[kind] : "other";
}

struct Collected {
    std::vector<DrCompatFinding> findings;
};

void collect(const DrCompatFinding *f, void *ctx) { static_cast<Collected *>(ctx)->findings.push_back(*f); }

std::string versions_text(const DrCompatFinding &f) {
    return f.first == f.last ? "breaks version " + std::to_string(f.first)
                             : "breaks versions " + std::to_string(f.first) + "-" + std::to_string(f.last);
}

void write_text(const std::string &new_path, const Side &side, const std::vector<DrCompatFinding> &all, int breaks,
                bool notes_too) {
    for (const DrCompatFinding &f : all) {
        if (!f.is_break && !notes_too) continue;
        const Place at = place_of(side, f);
        if (at.line > 0)
            std::printf("%s:%d:%d: ", new_path.c_str(), at.line, at.column);
        else
            std::printf("%s: ", new_path.c_str());
        std::printf("%s: %s: %s\n", f.path, f.text, f.is_break ? versions_text(f).c_str() : "note");
    }
    const size_t notes = all.size() - static_cast<size_t>(breaks);
    std::printf("%s: %s (%d break%s, %zu note%s)\n", new_path.c_str(),
                breaks ? "not compatible" : "compatible", breaks, breaks == 1 ? "" : "s", notes, notes == 1 ? "" : "s");
}

void write_json(const std::string &old_path, const std::string &new_path, const Side &side,
                const std::vector<DrCompatFinding> &all, int breaks) {
    std::printf("{\"old\":%s,\"new\":%s,\"compatible\":%s,\"breaks\":%d,\"notes\":%zu,\"findings\":[",
                json_text(old_path).c_str(), json_text(new_path).c_str(), breaks ? "false" : "true", breaks,
                all.size() - static_cast<size_t>(breaks));
    for (size_t i = 0; i < all.size(); ++i) {
        const DrCompatFinding &f = all[i];
        const Place at = place_of(side, f);
        std::printf("%s\n{\"break\":%s,\"kind\":\"%s\",\"path\":%s,\"message\":%s", i ? "," : "",
                    f.is_break ? "true" : "false", kind_name(f.kind), json_text(f.path).c_str(),
                    json_text(f.text).c_str());
        if (f.is_break) std::printf(",\"versions\":[%d,%d]", f.first, f.last);
        std::printf(",\"file\":%s", json_text(new_path).c_str());
        if (at.line > 0) std::printf(",\"line\":%d,\"column\":%d", at.line, at.column);
        std::printf("}");
    }
    std::printf("%s]}\n", all.empty() ? "" : "\n");
}

int run_compat(const Args &args) {
    Side old_side, new_side;
    if (!load_side(args[0], old_side) || !load_side(args[1], new_side)) return kExitFailed;
    Collected found;
    const int breaks = dr_compat_check(old_side.lib.get(), new_side.lib.get(), collect, &found);
    if (breaks < 0) {
        report("out of memory");
        return kExitFailed;
    }
    if (args.has("--json"))
        write_json(args[0], args[1], new_side, found.findings, breaks);
    else
        write_text(args[1], new_side, found.findings, breaks, !args.has("--no-notes"));
    return breaks ? kExitFailed : kExitOk;
}

}  // namespace

Command compat_command() {
    return {"compat",
            {"OLD", "NEW"},
            {{"--json", "", "write the findings as one JSON object, for CI"},
             {"--no-notes", "", "list only the breaks (the last line still counts the notes)"}},
            "Check that NEW still exchanges the same records with every peer of OLD",
            "OLD and NEW are each a typelib or an XML source. For every type of OLD that NEW keeps\n"
            "(by name) and every version from the type's own to OLD's newest, NEW must put the\n"
            "same bytes on the wire and read them back to the same values. Each finding names\n"
            "the type and member, says what changed, and either the versions it breaks or that\n"
            "it is a note: a change that is fine on the wire (host offsets, padding, sizes, type\n"
            "ids) but needs recompiled clients or callers. With an XML NEW each finding starts\n"
            "with FILE:LINE:COL of the declaration. docs/evolution.md gives the rules.\n"
            "Exit status: 0 compatible, 1 a break (or a side that cannot be read), 2 a usage error.\n",
            run_compat};
}

}  // namespace drtool
