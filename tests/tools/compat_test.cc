// compat_test.cc: `drtool compat` on the lobby sample, on every example of docs/evolution.md
// and on the README's, with its exit statuses, positions and JSON.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <regex>
#include <set>
#include <sstream>

#include "tests/tools/run.h"

namespace {

using drtest::drtool;
using drtest::sample;

// Runs `drtool compat` in effect from `dir`: its paths are given in full and cut back out of stdout.
drtest::Run drtool_in(const std::string &dir, const std::vector<std::string> &args) {
    std::vector<std::string> full{"compat"};
    for (const std::string &a : args) full.push_back(a.rfind("-", 0) == 0 ? a : dir + "/" + a);
    drtest::Run r = drtool(full);
    for (size_t at; (at = r.out.find(dir + "/")) != std::string::npos;) r.out.erase(at, dir.size() + 1);
    return r;
}

TEST(Compat, EveryExampleOfTheEvolutionGuideGivesItsOutputAndStatus) {
    const std::string doc = drtest::read_text(EXAMPLES_DIR "/../docs/evolution.md");
    std::smatch base;
    ASSERT_TRUE(std::regex_search(doc, base, std::regex("```xml\n([^`]*)```\n")));
    const std::string dir = drtest::scratch_dir("evolution");
    drtest::write_bytes(dir + "/old.xml", std::vector<uint8_t>(base[1].first, base[1].second));
    const std::regex example("```diff\n([^`]*)```\n\n```\n([^`]*)```\n");
    int examples = 0, compatible = 0;
    for (auto it = std::sregex_iterator(doc.begin(), doc.end(), example); it != std::sregex_iterator(); ++it) {
        // The hunk's context and '-' lines are replaced by its context and '+' lines.
        std::string from, to;
        std::istringstream hunk((*it)[1].str());
        for (std::string line; std::getline(hunk, line);) {
            if (line[0] != '+') from += line.substr(1) + "\n";
            if (line[0] != '-') to += line.substr(1) + "\n";
        }
        std::string changed = base[1].str();
        const size_t at = changed.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        ASSERT_EQ(changed.find(from, at + 1), std::string::npos) << "ambiguous hunk " << from;
        changed.replace(at, from.size(), to);
        drtest::write_bytes(dir + "/new.xml", std::vector<uint8_t>(changed.begin(), changed.end()));
        const std::string want = (*it)[2].str();
        const drtest::Run r = drtool_in(dir, {"old.xml", "new.xml"});
        EXPECT_EQ(r.out, want) << (*it)[1].str();
        const bool ok = want.find(": compatible (") != std::string::npos;
        EXPECT_EQ(r.status, ok ? 0 : 1) << r.err;
        ++examples;
        compatible += ok;
    }
    EXPECT_EQ(examples, 17);
    EXPECT_EQ(compatible, 5);
}

TEST(Compat, ReadmeExampleRunsAsShown) {
    const std::string readme = drtest::read_text(EXAMPLES_DIR "/../README.md");
    const drtest::Run r = drtool_in(EXAMPLES_DIR "/..", {"--no-notes", "examples/lobby.xml", "examples/lobby_v2_broken.xml"});
    EXPECT_EQ(r.status, 1);
    std::string shown = "    $ drtool compat --no-notes examples/lobby.xml examples/lobby_v2_broken.xml\n";
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) shown += "    " + line + "\n";
    EXPECT_NE(readme.find(shown + "\n"), std::string::npos) << shown;
}

// The findings of a run without their places: "Position.heading: was ...".
std::vector<std::string> without_places(const std::string &out) {
    std::vector<std::string> found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        found.push_back(std::regex_replace(line, std::regex("^[^ ]*: "), ""));
    return found;
}

TEST(Compat, SampleGrownCorrectlyPassesAndTheBrokenVariantFailsWhereItBreaks) {
    const drtest::Run good = drtool({"compat", sample("lobby.xml"), sample("lobby_v2.xml")});
    EXPECT_EQ(good.status, 0) << good.out << good.err;
    EXPECT_NE(good.out.find("lobby_v2.xml: compatible (0 breaks, 6 notes)\n"), std::string::npos) << good.out;

    // OLD as the committed typelib, NEW as source: places in NEW, one JSON object.
    const drtest::Run json = drtool({"compat", "--json", sample("proto.tlb"), sample("lobby_v2_broken.xml")});
    EXPECT_EQ(json.status, 1);
    rapidjson::Document d;
    ASSERT_FALSE(d.Parse(json.out.c_str()).HasParseError()) << json.out;
    EXPECT_FALSE(d["compatible"].GetBool());
    EXPECT_EQ(d["breaks"].GetInt(), 2);
    EXPECT_EQ(d["notes"].GetInt(), 6);
    std::set<std::string> kinds;
    for (const auto &f : d["findings"].GetArray()) {
        EXPECT_GT(f["line"].GetInt(), 0);
        if (!f["break"].GetBool()) continue;
        kinds.insert(f["kind"].GetString());
        EXPECT_EQ(f["versions"][0].GetInt(), 1);
        EXPECT_EQ(f["versions"][1].GetInt(), 3);
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"member-type", "member-added"}));

    // NEW as a typelib: the same findings, placed at the typelib's path.
    const std::string dir = drtest::scratch_dir("compat-sample");
    ASSERT_EQ(drtool({"compile", sample("lobby_v2_broken.xml"), "-o", dir + "/new.tlb"}).status, 0);
    const drtest::Run xml = drtool({"compat", sample("lobby.xml"), sample("lobby_v2_broken.xml")});
    const drtest::Run tlb = drtool({"compat", sample("lobby.xml"), dir + "/new.tlb"});
    EXPECT_EQ(tlb.status, 1);
    EXPECT_EQ(without_places(tlb.out), without_places(xml.out));
    EXPECT_NE(tlb.out.find("\n" + dir + "/new.tlb: Position.heading: was short (2 bytes), now int (4 bytes): breaks versions 1-3\n"),
              std::string::npos) << tlb.out;
}

TEST(Compat, UsageMistakesAndUnreadableSides) {
    EXPECT_EQ(drtool({"compat", sample("lobby.xml")}).status, 2);
    EXPECT_EQ(drtool({"compat", "--yaml", sample("lobby.xml"), sample("lobby.xml")}).status, 2);
    const drtest::Run same = drtool({"compat", sample("proto.tlb"), sample("lobby.xml")});
    EXPECT_EQ(same.status, 0);
    EXPECT_NE(same.out.find("lobby.xml: compatible (0 breaks, 0 notes)\n"), std::string::npos) << same.out;
    const drtest::Run missing = drtool({"compat", sample("proto.tlb"), "/nonexistent.xml"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("/nonexistent.xml"), std::string::npos);
    EXPECT_EQ(missing.out, "");
    const drtest::Run junk = drtool({"compat", sample("login.host"), sample("proto.tlb")});
    EXPECT_EQ(junk.status, 1);
    EXPECT_NE(junk.err.find("login.host:1:1: malformed XML"), std::string::npos) << junk.err;
}

}  // namespace
