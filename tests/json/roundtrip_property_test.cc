// Properties of the JSON mapping over random descriptions and records: nothing the walk
// covers is lost either way, and the writer and reader keep to their buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>

#include "dr/json/tree.h"
#include "tests/json/json_support.h"
#include "tests/support/random_desc.h"
#include "tests/support/records.h"

namespace {

// Takes out of a compact JSON record every count and selector member whose array or union
// the JSON gives, following the description's paths ("cnt5", or "h4.cnt5" into a struct
// member). `nested` counts those taken from inside a struct member.
class Stripper {
public:
    explicit Stripper(const drtest::Lib &lib) {
        for (const drtest::Meta &m : lib.metas) metas_[m.name] = &m;
    }

    std::string strip(const std::string &json, int *nested) {
        dr::json::ParseFault fault;
        if (!tree_.parse(json.data(), json.size(), fault)) return "unparsable: " + fault.what;
        cuts_.clear();
        nested_ = 0;
        object(0, *metas_.at("Top"));
        std::sort(cuts_.rbegin(), cuts_.rend());
        std::string out = json;
        for (auto [from, to] : cuts_) {
            if (to < out.size() && out[to] == ',') ++to;
            else if (from > 0 && out[from - 1] == ',') --from;
            out.erase(from, to - from);
        }
        if (nested) *nested += nested_;
        return out;
    }

private:
    uint32_t member(uint32_t object, const std::string &name) const {
        uint32_t hint = 0;
        return tree_.find(object, name, &hint);
    }

    void object(uint32_t obj, const drtest::Meta &m) {
        if (tree_[obj].type != dr::json::NodeType::kObject) return;
        if (m.is_struct == 0) {  // a union: its one key names the member taken
            if (tree_[obj].size != 1) return;
            for (const drtest::Entry &x : m.entries)
                if (!x.meta.empty() && tree_[obj + 1].view() == x.name) value(obj + 2, *metas_.at(x.meta));
            return;
        }
        for (const drtest::Entry &x : m.entries) {
            const uint32_t v = member(obj, x.name);
            if (v == 0) continue;
            if (!x.meta.empty()) value(v, *metas_.at(x.meta));
            for (const std::string &path : {x.refer_to, x.select_to})
                if (!path.empty()) cut(obj, path);
        }
    }

    void value(uint32_t v, const drtest::Meta &m) {
        if (tree_[v].type != dr::json::NodeType::kArray) return object(v, m);
        for (uint32_t i = v + 1; i < tree_[v].end; i = tree_[i].end) object(i, m);
    }

    void cut(uint32_t obj, const std::string &path) {
        size_t from = 0;
        for (size_t dot; (dot = path.find('.', from)) != std::string::npos; from = dot + 1) {
            obj = member(obj, path.substr(from, dot - from));
            if (obj == 0) return;
            if (tree_[obj].type == dr::json::NodeType::kArray) obj = tree_[obj].size > 0 ? obj + 1 : 0;
            if (obj == 0 || tree_[obj].type != dr::json::NodeType::kObject) return;
        }
        const uint32_t v = member(obj, path.substr(from));
        if (v == 0 || tree_[v].type != dr::json::NodeType::kNumber) return;
        cuts_.emplace_back(tree_[v - 1].offset, tree_[v].offset + tree_[v].size);  // "key":number
        nested_ += from > 0;
    }

    std::map<std::string, const drtest::Meta *> metas_;
    dr::json::Tree tree_;
    std::vector<std::pair<size_t, size_t>> cuts_;
    int nested_ = 0;
};

// The reader sets a count or selector member left out from the array or union member it
// governs, wherever the member lies: beside it, or inside an earlier struct member.
TEST(JsonProperty, CountAndSelectorMembersLeftOutAreSetWhereverTheirPathPoints) {
    int stripped_cases = 0, nested = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const drtest::Lib lib = drtest::random_lib(seed);
        drtest::Image img = drtest::build(lib);
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        Stripper stripper(lib);
        for (int version : {0, 1, 3}) {
            SCOPED_TRACE("version " + std::to_string(version));
            const std::string json = drtest::to_json(top, host, version);
            const std::string left_out = stripper.strip(json, &nested);
            stripped_cases += left_out != json;
            const drtest::Read back = drtest::from_json(top, left_out, version, top->datasize);
            ASSERT_EQ(back.rc, 0) << back.err.message << "\n" << left_out;
            // All but the members taken out comes back as given: every array at its length
            // and every union with its member. (A selector set for a default member holds all
            // ones, not the value it was written from, so those stay out of the comparison.)
            EXPECT_EQ(stripper.strip(drtest::to_json(top, back.host, version), nullptr), left_out) << json;
        }
    }
    EXPECT_GT(stripped_cases, 300);
    EXPECT_GT(nested, 100);
}

TEST(JsonProperty, HostToJsonToHostKeepsEveryMemberTakenAndJsonSurvivesTheWire) {
    int members_seen = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        for (int version : {0, 1, 3}) {
            SCOPED_TRACE("version " + std::to_string(version));
            const std::string json = drtest::to_json(top, host, version, static_cast<int>(seed % 3));
            members_seen += json.size() > 2;
            const drtest::Read back = drtest::from_json(top, json, version, top->datasize);
            ASSERT_EQ(back.rc, 0) << back.err.message << "\n" << json;
            EXPECT_EQ(back.json_len, static_cast<int32_t>(json.size()));
            // Every member taken holds the same bytes: both records encode alike.
            const drtest::Encoded want = drtest::encode(top, host, version, 1 << 16);
            ASSERT_EQ(want.rc, 0);
            EXPECT_EQ(drtest::encode(top, back.host, version, 1 << 16).net, want.net) << json;
            // JSON -> host -> network -> host -> JSON gives the JSON back.
            const drtest::Decoded wire = drtest::decode(top, want.net, version, top->datasize);
            ASSERT_EQ(wire.rc, 0);
            EXPECT_EQ(drtest::to_json(top, wire.host, version, static_cast<int>(seed % 3)), json);
        }
    }
    EXPECT_GT(members_seen, 800);
}

TEST(JsonProperty, BuffersAreKeptToTheirCapacity) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        const std::string json = drtest::to_json(top, host, 0, 1);
        const auto len = static_cast<int32_t>(json.size());

        // The writer: a text of L bytes needs L + 2 (each piece is taken when it is shorter
        // than the room left before the kept terminator); a smaller buffer gets a prefix.
        for (int32_t cap = 1; cap <= len + 2; cap += cap < len - 2 ? 1 + cap / 16 : 1) {
            std::vector<char> out(static_cast<size_t>(cap) + 16, '#');
            std::vector<char> in(host);
            DrBuffer o{out.data(), cap};
            DrBuffer h{in.data(), static_cast<int32_t>(in.size())};
            const int rc = dr_sprint_data_json(top, &o, &h, 0, 1);
            ASSERT_EQ(rc, cap == len + 2 ? 0 : -1) << "capacity " << cap;
            // The pieces kept, then what fitted of the refused one, then the terminator.
            ASSERT_EQ(out[static_cast<size_t>(cap) - 1], '\0');
            const std::string text(out.data());
            ASSERT_LE(o.len, static_cast<int32_t>(text.size()));
            ASSERT_EQ(json.compare(0, text.size(), text), 0);
            for (size_t i = static_cast<size_t>(cap); i < out.size(); ++i) ASSERT_EQ(out[i], '#');
        }

        // The reader: a smaller host buffer is refused, or holds the whole record when the
        // members at its end were not needed; every proper prefix of the text is refused at
        // or before its end.
        const std::vector<uint8_t> net = drtest::encode(top, host, 0, 1 << 16).net;
        for (int32_t cap = 0; cap < top->datasize; cap += 5) {
            const drtest::Read r = drtest::from_json(top, json, 0, cap);
            if (r.rc == 0) {
                EXPECT_EQ(drtest::encode(top, r.host, 0, 1 << 16).net, net) << "capacity " << cap;
            }
        }
        // What the reader accepts into a cut buffer, even with every member left out, the
        // writer writes back and the reader reads again to the same bytes (fuzzing found a
        // left-out string whose NUL lay past the buffer).
        for (int32_t cap = 0; cap < top->datasize; ++cap) {
            for (const std::string &text : {std::string("{}"), json}) {
                const drtest::Read r = drtest::from_json(top, text, 0, cap);
                if (r.rc != 0) continue;
                const std::string back = drtest::to_json(top, r.host, 0);
                EXPECT_EQ(drtest::from_json(top, back, 0, cap).host, r.host) << "capacity " << cap;
            }
        }
        for (int32_t cut = 0; cut < len; cut += 1 + cut / 8) {
            const drtest::Read r = drtest::from_json(top, json.substr(0, static_cast<size_t>(cut)), 0, top->datasize);
            ASSERT_EQ(r.rc, -1) << "prefix of " << cut;
            EXPECT_LE(r.json_len, cut);
            EXPECT_NE(std::string(r.err.message).find("line"), std::string::npos);
        }
    }
}

}  // namespace
