// header.cc: generates a C header declaring every macro, struct and union of a typelib.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dr/describe/header_names.h"
#include "dr/text/text.h"
#include "dr/text/sink.h"
#include "dr/typelib/image.h"

namespace {

// Text bounds in characters, without the terminating NUL; longer texts are cut.
constexpr int kGuardBound = 32;
constexpr int kTypeBound = 31;
constexpr int kMemberBound = 87;
constexpr int kVersionBound = 51;
constexpr int kIdMacroBound = 51;
constexpr int kNameBound = 31;  // names come from 32-byte fields
constexpr int kMemberWidth = 24;
constexpr int kMacroWidth = 40;
constexpr int kTagWidth = 32;

using dr::ascii_lower;
using dr::ascii_upper;

// A name field copied into a working buffer, upper-cased or as stored.
struct Name {
    char text[kNameBound + 2];  // a field without its NUL still fits, terminated
    Name(const char (&field)[32], bool upper) {
        const std::string_view src = dr::field_text(field);
        size_t n = 0;
        for (char c : src) text[n++] = upper ? ascii_upper(c) : c;
        text[n] = '\0';
    }
};

// The name prefix of a member: the row's prefix for a single value, its array prefix
// otherwise (by the stored count alone). An entry whose `type` names no row gets none,
// unless it names a meta: then it is prefixed as the struct and union rows prefix, "st"
// for a single value and nothing for an array.
const char *name_prefix(const DrEntry &e) {
    if (const DrBaseType *row = dr_type_at(e.type)) return e.count == 1 ? row->prefix : row->arrprefix;
    return e.meta_off != -1 && e.count == 1 ? "st" : "";
}

// The <stdint.h> type of an integer row whose C type depends on the host (rows 3 to 15);
// null for char and string (text), float, double, union and struct.
const char *fixed_width_type(int32_t row) {
    static const char *const kTypes[] = {"uint8_t", "int16_t", "uint16_t", "int32_t", "uint32_t",
                                         "int32_t", "uint32_t", "int64_t", "uint64_t", "int32_t",
                                         "int32_t", "int32_t", "int32_t"};
    return row >= 3 && row <= 15 ? kTypes[row - 3] : nullptr;
}

// The name prefix and the name of a member, the first letter upper-cased after a prefix and
// lower-cased without one; a name shorter than 2 characters takes no prefix.
struct MemberName {
    const char *prefix;
    Name name;
    explicit MemberName(const DrEntry &e) : name(e.name, false) {
        prefix = name.text[0] && name.text[1] ? name_prefix(e) : "";
        name.text[0] = *prefix ? ascii_upper(name.text[0]) : ascii_lower(name.text[0]);
    }
};

// The member text: member prefix, name prefix, name, array suffix and ";", cut at the bound.
void member_text(char (&member)[kMemberBound + 1], const DrMeta *meta, const DrEntry &e, const char *member_prefix) {
    char suffix[kNameBound + 4];
    if (e.count_macro != -1)
        std::snprintf(suffix, sizeof suffix, "[%s]", Name(dr::macro_of(meta, e.count_macro).name, true).text);
    else if (e.count == 1)
        suffix[0] = '\0';
    else
        std::snprintf(suffix, sizeof suffix, "[%d]", e.count == 0 ? 1 : e.count);

    const MemberName m(e);
    std::snprintf(member, sizeof member, "%s%s%s%s;", member_prefix, m.prefix, m.name.text, suffix);
}

void write_member(std::FILE *fp, const DrMeta *meta, const DrEntry &e, const char *member_prefix, int32_t lib_version,
                  int flags) {
    // A base type member whose `type` names no row gets the empty C type name.
    char type_text[kTypeBound + 1] = "";
    const char *fixed = flags & DR_HEADER_STDINT ? fixed_width_type(e.type) : nullptr;
    if (e.meta_off != -1)
        std::snprintf(type_text, sizeof type_text, "%.*s", kTypeBound, Name(dr::child_meta(meta, e)->name, true).text);
    else if (fixed)
        std::snprintf(type_text, sizeof type_text, "%s", fixed);
    else if (const DrBaseType *row = dr_type_at(e.type))
        std::snprintf(type_text, sizeof type_text, "%.*s", kTypeBound, row->cname);

    char member[kMemberBound + 1];
    member_text(member, meta, e, member_prefix);

    char version[kVersionBound + 1] = "";
    if (e.version > 0 && e.version != lib_version) std::snprintf(version, sizeof version, "Ver.%d", e.version);
    char id_macro[kIdMacroBound + 1] = "";
    if (e.id_macro != -1) std::snprintf(id_macro, sizeof id_macro, "%s,", Name(dr::macro_of(meta, e.id_macro).name, false).text);
    const Name desc(e.desc, false);

    if (desc.text[0] || version[0] || id_macro[0])
        std::fprintf(fp, "\t%s %-*s \t/* %s %s %s */\n", type_text, kMemberWidth, member, id_macro, version, desc.text);
    else
        std::fprintf(fp, "\t%s %-*s\n", type_text, kMemberWidth, member);
}

const char *kind(const DrMeta *m) { return m->is_struct ? "struct" : "union"; }

}  // namespace

std::string dr::header_member_name(const DrEntry &e) {
    const MemberName m(e);
    return std::string(m.prefix) + m.name.text;
}

bool dr::is_c_identifier(std::string_view s) {
    if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

// The keywords of C (to C23) and of C++ (to C++20): a generated header serves both.
bool dr::is_c_keyword(const std::string &word) {
    static const char *const kKeywords[] = {
        "_Alignas", "_Alignof", "_Atomic", "_BitInt", "_Bool", "_Complex", "_Decimal128", "_Decimal32",
        "_Decimal64", "_Generic", "_Imaginary", "_Noreturn", "_Static_assert", "_Thread_local", "alignas",
        "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break", "case", "catch", "char",
        "char16_t", "char32_t", "char8_t", "class", "co_await", "co_return", "co_yield", "compl", "concept",
        "const", "const_cast", "consteval", "constexpr", "constinit", "continue", "decltype", "default",
        "delete", "do", "double", "dynamic_cast", "else", "enum", "explicit", "export", "extern", "false",
        "float", "for", "friend", "goto", "if", "inline", "int", "long", "mutable", "namespace", "new",
        "noexcept", "not", "not_eq", "nullptr", "operator", "or", "or_eq", "private", "protected", "public",
        "register", "reinterpret_cast", "requires", "restrict", "return", "short", "signed", "sizeof",
        "static", "static_assert", "static_cast", "struct", "switch", "template", "this", "thread_local",
        "throw", "true", "try", "typedef", "typeid", "typename", "typeof", "typeof_unqual", "union",
        "unsigned", "using", "virtual", "void", "volatile", "wchar_t", "while", "xor", "xor_eq"};
    for (const char *k : kKeywords)
        if (word == k) return true;
    return false;
}

// The guard is made of the file name after the last backslash or slash: a C identifier of
// at most `bound` characters. Letters are upper-cased; every character that cannot stand in
// an identifier ("." and "-" among them) becomes "_"; a leading digit gets a "_" before it.
extern "C" void dr_file_to_guard(char *out, int bound, const char *path) {
    if (!out || bound < 0) return;
    if (!path) {
        out[0] = '\0';
        return;
    }
    const char *base = path;
    for (const char *p = path; *p; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    int n = 0;
    if (bound > 0 && *base >= '0' && *base <= '9') out[n++] = '_';
    for (const char *p = base; n < bound && *p; ++p) {
        const char c = ascii_upper(*p);
        out[n++] = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ? c : '_';
    }
    out[n] = '\0';
}

namespace {

void write_decl(const DrMeta *meta, FILE *fp, const char *member_prefix, int flags) {
    const int32_t lib_version = dr::header(dr::lib_of(meta))->version;
    std::fprintf(fp, "%s tag%s\n{\n", kind(meta), Name(meta->name, false).text);
    for (int32_t k = 0; k < meta->count; ++k)
        write_member(fp, meta, meta->entries[k], member_prefix, lib_version, flags);
    std::fputs("};\n", fp);
}

}  // namespace

extern "C" void dr_write_struct_decl(const DrMeta *meta, FILE *fp, const char *member_prefix) {
    if (!meta || !fp) return;
    write_decl(meta, fp, member_prefix ? member_prefix : "", 0);
}

namespace {

// The directory rows in an order where every type comes after the types its members use
// (depth first, children before their users, otherwise directory order). A reference to a
// type outside the directory, or back to a type still being placed, adds no constraint.
std::vector<int32_t> definition_order(const DrLib *lib) {
    const int32_t n = dr::header(lib)->meta_count;
    std::vector<int32_t> order;
    std::vector<uint8_t> state(static_cast<size_t>(n), 0);  // 0 new, 1 being placed, 2 placed
    std::vector<std::pair<int32_t, int32_t>> offsets;       // (meta offset, row), sorted
    for (int32_t i = 0; i < n; ++i) offsets.emplace_back(dr::directory(lib)[i].offset, i);
    std::sort(offsets.begin(), offsets.end());
    auto row_of = [&](int32_t off) {
        const auto it = std::lower_bound(offsets.begin(), offsets.end(), std::make_pair(off, INT32_MIN));
        return it != offsets.end() && it->first == off ? it->second : -1;
    };
    std::vector<std::pair<int32_t, int32_t>> stack;  // (row, next entry)
    for (int32_t root = 0; root < n; ++root) {
        if (state[root] != 0) continue;
        state[root] = 1;
        stack.emplace_back(root, 0);
        while (!stack.empty()) {
            auto &[row, next] = stack.back();
            const DrMeta *m = dr::meta_of_row(lib, row);
            if (next == m->count) {
                state[row] = 2;
                order.push_back(row);
                stack.pop_back();
                continue;
            }
            const int32_t child_off = m->entries[next++].meta_off;
            const int32_t child = child_off == -1 ? -1 : row_of(child_off);
            if (child < 0 || state[child] != 0) continue;
            state[child] = 1;
            stack.emplace_back(child, 0);
        }
    }
    return order;
}

// Compile-time checks of the layout against the typelib: each type's size, and in a struct
// the offsets of its last member and of one in the middle. The check macro is a static
// assertion in C11 and C++11, and an array of negative size in older C and C++.
void write_layout_checks(std::FILE *fp, const DrLib *lib, const std::vector<int32_t> &order, const char *guard,
                         const char *member_prefix) {
    std::fprintf(fp,
                 "/* Layout checks: this host must lay the types out as the typelib does. */\n\n"
                 "#if defined(__cplusplus) && __cplusplus >= 201103L\n"
                 "#define %s_CHECK(c, name) static_assert(c, #name)\n"
                 "#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L\n"
                 "#define %s_CHECK(c, name) _Static_assert(c, #name)\n"
                 "#else\n"
                 "#define %s_CHECK(c, name) typedef char %s_check_##name[(c) ? 1 : -1]\n"
                 "#endif\n\n",
                 guard, guard, guard, guard);
    for (int32_t row : order) {
        const DrMeta *m = dr::meta_of_row(lib, row);
        const Name type(m->name, true);
        std::fprintf(fp, "%s_CHECK(sizeof(%s) == %d, sizeof_%s);\n", guard, type.text, m->datasize, type.text);
        if (!m->is_struct || m->count < 2) continue;
        const int32_t picks[] = {m->count / 2, m->count - 1};
        for (int32_t k : picks) {
            if (k == 0 || (k == picks[0] && picks[0] == picks[1])) continue;
            char member[kMemberBound + 1];
            member_text(member, m, m->entries[k], member_prefix);
            const std::string_view name(member, std::strcspn(member, "[;"));
            if (!dr::is_c_identifier(name)) continue;
            std::fprintf(fp, "%s_CHECK(offsetof(%s, %.*s) == %d, offset_%s_%.*s);\n", guard, type.text,
                         static_cast<int>(name.size()), name.data(), m->entries[k].off, type.text,
                         static_cast<int>(name.size()), name.data());
        }
    }
    std::fprintf(fp, "\n#undef %s_CHECK\n\n", guard);
}

void write_header(std::FILE *fp, const DrLib *lib, const char *path, const char *member_prefix, int flags) {
    const DrLibHeader *h = dr::header(lib);

    std::fputs("/********************************************************************\n"
               "**       This head file is generated by program,                   **\n"
               "**            Please do not change it directly.                    **\n"
               "********************************************************************/\n"
               "\n",
               fp);
    if (h->version > 0) std::fprintf(fp, "/*       Version Number: %d          */\n\n", h->version);
    char guard[kGuardBound + 1];
    dr_file_to_guard(guard, kGuardBound, path);
    if (!guard[0]) std::snprintf(guard, sizeof guard, "DR_GENERATED_H");  // no file name to take it from
    std::fprintf(fp, "#ifndef %s\n#define %s\n\n", guard, guard);
    if (flags & DR_HEADER_STDINT) std::fputs("#include <stdint.h>\n", fp);
    if (flags & DR_HEADER_CHECKS) std::fputs("#include <stddef.h>\n", fp);
    if (flags & (DR_HEADER_STDINT | DR_HEADER_CHECKS)) std::fputs("\n", fp);

    std::fputs("/* Define Macros. */\n\n", fp);
    for (int32_t i = 0; i < h->macro_count; ++i) {
        const DrMacro &m = dr::macros(lib)[i];
        std::fprintf(fp, "#define %-*s \t%d\n", kMacroWidth, Name(m.name, true).text, m.id);
    }
    std::fputs("\n\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n/* Structs/unions prototype. */\n\n", fp);

    // "union" takes two blanks so that "tag" stands in the same column as after "struct".
    for (int32_t i = 0; i < h->meta_count; ++i) {
        const DrMeta *m = dr::meta_of_row(lib, i);
        const Name name(m->name, false), upper(m->name, true);
        const char *gap = m->is_struct ? " " : "  ";
        std::fprintf(fp, "%s tag%s;\n", kind(m), name.text);
        std::fprintf(fp, "typedef %s%stag%-*s \t%s;\n", kind(m), gap, kTagWidth, name.text, upper.text);
        std::fprintf(fp, "typedef %s%stag%-*s \t*LP%s;\n\n", kind(m), gap, kTagWidth, name.text, upper.text);
    }
    std::fputs("\n\n/* Define structs/unions. */\n\n#pragma pack(1)\n\n", fp);

    std::vector<int32_t> order;
    if (flags & (DR_HEADER_ORDER | DR_HEADER_CHECKS)) order = definition_order(lib);
    if (!(flags & DR_HEADER_ORDER)) {
        order.resize(static_cast<size_t>(h->meta_count));
        for (int32_t i = 0; i < h->meta_count; ++i) order[i] = i;
    }
    for (int32_t row : order) {
        write_decl(dr::meta_of_row(lib, row), fp, member_prefix, flags);
        std::fputs("\n", fp);
    }
    std::fputs("\n#pragma pack()\n\n", fp);
    if (flags & DR_HEADER_CHECKS) write_layout_checks(fp, lib, order, guard, member_prefix);
    std::fprintf(fp, "#ifdef __cplusplus\n}\n#endif\n\n#endif /* %s */\n", guard);
}

}  // namespace

extern "C" int dr_write_header_file_ex(const DrLib *lib, const char *path, const char *member_prefix, int flags) {
    if (!lib) return -1;
    return dr::write_text_file(path, [&](std::FILE *fp) {
        try {
            write_header(fp, lib, path, member_prefix ? member_prefix : "", flags);
        } catch (const std::bad_alloc &) {
            return -1;  // the placing order needs memory when a flag asks for it
        }
        return 0;
    });
}

extern "C" int dr_write_header_file(const DrLib *lib, const char *path, const char *member_prefix) {
    return dr_write_header_file_ex(lib, path, member_prefix, 0);
}
