// sample_test.cc: the committed lobby sample is what its generator makes, and covers what it claims.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <vector>

#include "dr/typelib/image.h"
#include "tests/support/image_builder.h"
#include "tests/tools/run.h"

namespace {

const char *const kHostFiles[] = {"login.host", "chat.host", "roster.host", "ping.host"};

// proto.tlb itself is checked against the compiled lobby.xml by the compile tests.
TEST(LobbySample, RegeneratingGivesTheCommittedHostRecordsByteForByte) {
    const std::string dir = drtest::scratch_dir("regen");
    const drtest::Run r = drtest::run_program(GEN_PROTO_PATH, {drtest::sample("proto.tlb"), dir});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *file : kHostFiles) {
        const std::vector<uint8_t> made = drtest::read_file(dir + "/" + file);
        EXPECT_FALSE(made.empty()) << file;
        EXPECT_EQ(made, drtest::read_file(drtest::sample(file))) << file << " differs from the generator's output";
    }
}

TEST(LobbySample, GeneratorRefusesAnUnwritableDirectoryOrAMissingTypelib) {
    const drtest::Run r = drtest::run_program(GEN_PROTO_PATH, {drtest::sample("proto.tlb"), "/nonexistent/dir"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "gen_proto: cannot write /nonexistent/dir/login.host\n");
    const drtest::Run none = drtest::run_program(GEN_PROTO_PATH, {"/nonexistent.tlb", "/tmp"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "gen_proto: cannot load /nonexistent.tlb\n");
    EXPECT_EQ(drtest::run_program(GEN_PROTO_PATH, {"/tmp"}).status, 2);
}

// Ten record types, every base type among their members, unions chosen by a selector with
// a default member, and element length fields of both placements.
TEST(LobbySample, TypelibHoldsTenTypesAndEveryBaseType) {
    DrLib *lib = nullptr;
    ASSERT_EQ(dr_load_lib_file(&lib, drtest::sample("proto.tlb").c_str()), 0);
    const DrLibHeader *h = dr::header(lib);
    EXPECT_EQ(h->meta_count, 10);
    std::set<int> rows;
    int inline_lengths = 0, fixed_lengths = 0, counted = 0, selected = 0, added_later = 0;
    for (int32_t i = 0; i < h->meta_count; ++i) {
        const DrMeta *m = dr::meta_of_row(lib, i);
        for (int32_t k = 0; k < m->count; ++k) {
            const DrEntry &e = m->entries[k];
            rows.insert(e.type);
            if (e.netlen_size > 0) ++(e.netlen_pos < 0 ? inline_lengths : fixed_lengths);
            counted += e.refer_size > 0;
            selected += e.select_size > 0;
            added_later += e.version > 1;
        }
    }
    EXPECT_EQ(rows.size(), 19u);
    EXPECT_EQ(*rows.begin(), 0);
    EXPECT_EQ(*rows.rbegin(), 18);
    EXPECT_EQ(inline_lengths, 2);
    EXPECT_EQ(fixed_lengths, 1);
    EXPECT_EQ(counted, 2);
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(added_later, 3);
    const DrMeta *body = nullptr;
    ASSERT_EQ(dr_meta_by_name(lib, "MsgBody", &body), 0);
    EXPECT_EQ(body->is_struct, 0);
    EXPECT_EQ(body->entries[0].id, -1);  // the default member
    dr_free_lib(lib);
}

TEST(LobbySample, UsageExampleEncodesAndDecodes) {
    const drtest::Run r = drtest::run_program(USAGE_PATH, {drtest::sample("proto.tlb")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "encoded 10 bytes\ndecoded: the same record\n");
    EXPECT_EQ(drtest::run_program(USAGE_PATH, {"/nonexistent.tlb"}).status, 1);
}

TEST(LobbySample, ReadmeShowsTheUsageExampleVerbatim) {
    const std::string usage = drtest::read_text(EXAMPLES_DIR "/usage.c");
    ASSERT_FALSE(usage.empty());
    EXPECT_NE(drtest::read_text(EXAMPLES_DIR "/../README.md").find("```c\n" + usage + "```\n"), std::string::npos);
}


// Every relative link of the README and of docs/*.md names a file that exists, and the
// README's documentation index names every page of docs/.
TEST(LobbySample, EveryRelativeLinkOfTheReadmeAndDocsNamesAFile) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(EXAMPLES_DIR) / "..";
    std::vector<fs::path> pages{root / "README.md"};
    for (const auto &e : fs::directory_iterator(root / "docs"))
        if (e.path().extension() == ".md") pages.push_back(e.path());
    ASSERT_GT(pages.size(), 10u);
    const std::string readme = drtest::read_text((root / "README.md").string());
    const std::regex link("\\]\\(([^)#:]+)(#[^)]*)?\\)");
    int links = 0;
    for (const fs::path &page : pages) {
        const std::string text = drtest::read_text(page.string());
        for (auto it = std::sregex_iterator(text.begin(), text.end(), link); it != std::sregex_iterator(); ++it, ++links)
            EXPECT_TRUE(fs::exists(page.parent_path() / (*it)[1].str())) << page << " links to " << (*it)[1].str();
        if (page.parent_path().filename() == "docs") {
            EXPECT_NE(readme.find("](docs/" + page.filename().string() + ")"), std::string::npos) << page;
        }
    }
    EXPECT_GT(links, 30);
}

}  // namespace
