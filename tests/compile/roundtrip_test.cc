// Compiling descriptions of random typelibs gives the builder's images back byte for byte,
// and every operation on them agrees; what the random ones never write compiles as meant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dr/dr_compile.h"
#include "dr/typelib/image.h"
#include "tests/support/random_desc.h"
#include "tests/support/records.h"

namespace {

struct Compiled {
    DrLib *lib = nullptr;
    DrCompileError err{};
    Compiled(const std::string &source) { dr_compile(&lib, source.data(), source.size(), &err); }
    ~Compiled() { dr_free_lib(lib); }
    std::string why() const { return std::to_string(err.line) + ":" + std::to_string(err.column) + ": " + err.message; }
};

template <class Write>
std::string captured(Write &&write) {
    FILE *fp = std::tmpfile();
    write(fp);
    std::string text(static_cast<size_t>(std::ftell(fp)), '\0');
    std::rewind(fp);
    if (std::fread(text.data(), 1, text.size(), fp) != text.size()) text = "<unreadable>";
    std::fclose(fp);
    return text;
}

std::string bytes_of(const DrLib *lib) {
    const char *p = reinterpret_cast<const char *>(lib);
    return {p, p + dr::header(lib)->size};
}

std::string buffer_text(const std::vector<char> &buf, int32_t len) { return std::string(buf.data(), static_cast<size_t>(len)); }

// What every operation gives on an image: lookups, and encode, decode and both renderings
// of a random record of each type at two versions, the descriptions and the declarations.
std::string operations(const DrLib *lib, uint32_t seed) {
    std::string out = captured([&](FILE *fp) {
        dr_print_lib_xml(lib, fp);
        dr_print_lib_summary(fp, lib);
    });
    for (int32_t i = 0; i < dr::header(lib)->meta_count; ++i) {
        const DrMeta *m = dr::meta_of_row(lib, i), *by_name = nullptr, *by_id = nullptr;
        dr_meta_by_name(lib, m->name, &by_name);
        dr_meta_by_id(lib, m->id, &by_id);
        out += std::to_string(by_name == m) + std::to_string(by_id == m);
        for (int32_t k = 0; k < m->count; ++k) {
            int pos = -1;
            dr_entry_by_id(m, m->entries[k].id, &pos);
            out += " " + std::to_string(pos);
        }
        out += captured([&](FILE *fp) { dr_write_struct_decl(m, fp, "m_"); });
        const std::vector<char> host = drtest::random_host(m, seed + static_cast<uint32_t>(i));
        for (int version : {0, 1}) {
            std::vector<char> net(4096), back(host.size() + 1), text(1024);
            DrBuffer n{net.data(), static_cast<int32_t>(net.size())};
            DrBuffer h{const_cast<char *>(host.data()), static_cast<int32_t>(host.size())};
            out += std::to_string(dr_host_to_net(m, &n, &h, version)) + buffer_text(net, n.len);
            DrBuffer wire{net.data(), n.len}, b{back.data(), static_cast<int32_t>(back.size())};
            out += std::to_string(dr_net_to_host(m, &b, &wire, version)) + buffer_text(back, b.len);
            DrBuffer t{text.data(), static_cast<int32_t>(text.size())};
            h.len = static_cast<int32_t>(host.size());
            out += std::to_string(dr_sprint_data(m, &t, &h, version)) + buffer_text(text, t.len);
            t.len = static_cast<int32_t>(text.size());
            h.len = static_cast<int32_t>(host.size());
            out += std::to_string(dr_sprint_data_xml(m, &t, &h, version)) + buffer_text(text, t.len);
        }
    }
    return out;
}

// A random typelib with the header fields, macros, extra rows and targets that the random
// descriptions leave at their defaults.
drtest::Lib decorated(uint32_t seed) {
    drtest::Lib lib = drtest::random_lib(seed);
    lib.name = "r" + std::to_string(seed);
    lib.id = static_cast<int32_t>(seed % 3) - 1;
    lib.version = static_cast<int32_t>(seed % 4);
    lib.padding = static_cast<int32_t>(seed % 5);
    lib.macros = {{"TOP_ID", lib.metas[0].id}, {"V2", 2}, {"UNUSED", -7}};
    lib.metas[0].id_macro_name = "TOP_ID";
    if (seed % 2) lib.max_metas = static_cast<int32_t>(lib.metas.size() + seed % 4);
    if (seed % 3) lib.max_macros = 5;
    for (drtest::Meta &m : lib.metas) {
        m.version = static_cast<int32_t>(seed % 3);
        for (drtest::Entry &e : m.entries) {
            e.raw.version = std::max(e.raw.version, m.version);  // no member is older than its type
            if (e.raw.version == 2) e.version_macro("V2");
            if (seed % 5 == 0) e.io(DR_IO_NO_XML);
        }
    }
    drtest::Entry &first = lib.metas[0].entries[0];
    first.target(lib.metas[0].entries.back().name).describe("see <" + lib.metas[0].entries.back().name + "> & co");
    // Text in another 8-bit character set (GBK "\xD6\xD0\xCE\xC4" here) and in UTF-8 ("\xC3\xA9").
    if (seed % 4 == 1) lib.metas.back().entries.back().describe(seed % 8 == 1 ? "\xD6\xD0\xCE\xC4" : "caf\xC3\xA9");
    return lib;
}

// Without length fields and with every type at the library's version, the plain description
// says all there is.
drtest::Lib plain(uint32_t seed) {
    drtest::Lib lib = drtest::random_lib(seed);
    for (drtest::Meta &m : lib.metas)
        for (drtest::Entry &e : m.entries) e.netlen(0, 0);
    return lib;
}

TEST(CompileRoundTrip, CompleteSourceOfRandomTypelibsCompilesToTheSameImage) {
    for (uint32_t seed = 1; seed <= 1000; ++seed) {
        const drtest::Image built = drtest::build(decorated(seed));
        const std::string source = captured([&](FILE *fp) { dr_print_lib_source(built.lib(), fp); });
        const Compiled c(source);
        ASSERT_NE(c.lib, nullptr) << "seed " << seed << ": " << c.why() << "\n" << source;
        EXPECT_TRUE(bytes_of(c.lib) == bytes_of(built.lib())) << "seed " << seed << "\n" << source;
        EXPECT_EQ(captured([&](FILE *fp) { dr_print_lib_source(c.lib, fp); }), source) << "seed " << seed;
        if (seed % 25 == 0) {
            EXPECT_TRUE(operations(c.lib, seed) == operations(built.lib(), seed)) << "seed " << seed;
        }
    }
}

TEST(CompileRoundTrip, PlainDescriptionOfRandomTypelibsWithoutLengthFieldsCompilesToTheSameImage) {
    for (uint32_t seed = 1; seed <= 1000; ++seed) {
        const drtest::Image built = drtest::build(plain(seed));
        const std::string description = captured([&](FILE *fp) { dr_print_lib_xml(built.lib(), fp); });
        const Compiled c(description);
        ASSERT_NE(c.lib, nullptr) << "seed " << seed << ": " << c.why() << "\n" << description;
        EXPECT_TRUE(bytes_of(c.lib) == bytes_of(built.lib())) << "seed " << seed << "\n" << description;
        if (seed % 25 == 0) {
            EXPECT_TRUE(operations(c.lib, seed) == operations(built.lib(), seed)) << "seed " << seed;
        }
    }
}

}  // namespace

namespace {

// What the random descriptions never write: members out of id order in a union, a type
// used before its definition, a macro as io flags, escapes and comments, and a fixed-position
// length field.
TEST(Compile, SortsUnionMembersResolvesForwardTypesAndMacros) {
    const std::string source =
        "<typelib name=\"x&amp;y\" version=\"2\">\n"
        "  <!-- a comment -->\n"
        "  <macros><macro name=\"QUIET\" id=\"2\"/><macro name=\"LEN\" id=\"3\"/></macros>\n"
        "  <type name=\"Msg\" id=\"1\">\n"
        "    <item name=\"cmd\" type=\"uchar\"/>\n"
        "    <item name=\"body\" type=\"Body\" count=\"LEN\" select=\"cmd\" netlen_pos=\"0\" netlen_size=\"1\"/>\n"
        "  </type>\n"
        "  <type name=\"Body\" id=\"2\" class=\"union\" version=\"1\">\n"
        "    <item name=\"b\" id=\"2\" type=\"short\" io=\"QUIET\" desc=\"&lt;b&gt;\"/>\n"
        "    <item name=\"dflt\" type=\"int\"/>\n"
        "    <item name=\"a\" id=\"1\" type=\"double\" version=\"2\"/>\n"
        "  </type>\n"
        "</typelib>\n";
    const Compiled c(source);
    ASSERT_NE(c.lib, nullptr) << c.why();
    EXPECT_STREQ(dr::header(c.lib)->name, "x&y");
    const DrMeta *msg = dr::meta_of_row(c.lib, 0), *body = dr::meta_of_row(c.lib, 1);
    EXPECT_STREQ(msg->name, "Msg");
    ASSERT_EQ(body->count, 3);
    EXPECT_STREQ(body->entries[0].name, "dflt");
    EXPECT_EQ(body->entries[0].id, -1);
    EXPECT_EQ(body->entries[0].version, 1);  // its type's version
    EXPECT_STREQ(body->entries[1].name, "a");
    EXPECT_STREQ(body->entries[2].name, "b");
    EXPECT_EQ(body->entries[2].io, DR_IO_NO_XML);
    EXPECT_EQ(body->entries[2].io_macro, 1);  // the macro table is sorted: LEN, QUIET
    EXPECT_STREQ(body->entries[2].desc, "<b>");
    EXPECT_EQ(body->datasize, 8);
    const DrEntry &e = msg->entries[1];
    EXPECT_EQ(e.meta_off, body->self_off);
    EXPECT_EQ(e.type_code, DR_TYPE_UNION);
    EXPECT_EQ(e.count, 3);
    EXPECT_EQ(e.count_macro, 0);
    EXPECT_EQ(e.size, 24);
    EXPECT_EQ(e.off, 1);
    EXPECT_EQ(e.select_off, 0);
    EXPECT_EQ(e.select_size, 1);
    EXPECT_EQ(e.netlen_pos, 0);
    EXPECT_EQ(e.netlen_size, 1);
    EXPECT_EQ(e.version, 2);  // the library's, as Msg has no version of its own
    EXPECT_EQ(msg->datasize, 25);
    int pos = -1;
    EXPECT_EQ(dr_entry_by_id(body, 2, &pos), 0);
    EXPECT_EQ(pos, 2);
}

}  // namespace
