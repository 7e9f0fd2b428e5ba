// tree.cc: builds the node array with RapidJSON's iterative SAX reader, in place.
#include "dr/json/tree.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <cstring>

namespace dr::json {

// Containers deeper than this are refused: no record nests nearly as deep, and the limit
// keeps hostile input from growing the stacks without end.
constexpr size_t kMaxNesting = 512;

class TreeBuilder {
public:
    TreeBuilder(Tree &tree, rapidjson::InsituStringStream &is, bool escapes)
        : tree_(tree), is_(is), escapes_(escapes) {}

    bool Null() { return scalar(NodeType::kNull, tell() - 4, nullptr, 0); }
    bool Bool(bool b) { return scalar(b ? NodeType::kTrue : NodeType::kFalse, tell() - (b ? 4 : 5), nullptr, 0); }
    bool Int(int) { return false; }  // numbers arrive as text only
    bool Uint(unsigned) { return false; }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double) { return false; }
    bool RawNumber(const char *s, rapidjson::SizeType len, bool) {
        return scalar(NodeType::kNumber, offset_of(s), s, len);
    }
    bool String(const char *s, rapidjson::SizeType len, bool) {
        uint32_t n;
        return decode(s, len, &n) && scalar(NodeType::kString, offset_of(s) - 1, s, n);
    }
    bool Key(const char *s, rapidjson::SizeType len, bool) {
        // A key is a string node of its object; the member is counted when its value comes.
        uint32_t n;
        if (!decode(s, len, &n)) return false;
        last_key_.back() = tree_.size();
        tree_.nodes_.push_back(Node{NodeType::kString, offset_of(s) - 1, n, tree_.size() + 1, s});
        return true;
    }
    bool StartObject() { return open(NodeType::kObject); }
    bool StartArray() { return open(NodeType::kArray); }
    bool EndObject(rapidjson::SizeType) { return close(); }
    bool EndArray(rapidjson::SizeType) { return close(); }

    // The container path at the point reached, for a parse fault.
    std::string path() const {
        std::string p;
        for (size_t k = 0; k < open_.size(); ++k) {
            const Node &n = tree_.nodes_[open_[k]];
            if (n.type == NodeType::kArray) {
                // Inside a child container the element is the last one counted; else the next.
                const bool inside_child = k + 1 < open_.size();
                p += '[' + std::to_string(n.size - (inside_child && n.size > 0 ? 1 : 0)) + ']';
            } else if (last_key_[k] != 0) {
                if (!p.empty()) p += '.';
                p += tree_.nodes_[last_key_[k]].view();
            }
        }
        return p;
    }

    bool refused() const { return !refusal_.empty(); }
    uint32_t refusal_offset() const { return refusal_offset_; }
    const std::string &refusal() const { return refusal_; }

private:
    uint32_t tell() const { return static_cast<uint32_t>(is_.Tell()); }
    uint32_t offset_of(const char *s) const { return static_cast<uint32_t>(s - tree_.copy_.data()); }

    bool refuse(uint32_t offset, const char *why) {
        refusal_offset_ = offset;
        refusal_ = why;
        return false;
    }

    // Turns each decoded lone surrogate U+DC80..U+DCFF (bytes ED B2 80 .. ED B3 BF, which
    // raw UTF-8 cannot hold once validated) back into the byte it stands for, in place.
    bool bytes_from_escapes(char *s, size_t *len) const {
        if (!escapes_ || std::memchr(s, '\xED', *len) == nullptr) return true;
        size_t out = 0;
        for (size_t i = 0; i < *len; ++i) {
            const auto b = static_cast<unsigned char>(s[i]);
            if (b == 0xED && i + 2 < *len && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0xA0) {
                const auto b1 = static_cast<unsigned char>(s[i + 1]);
                if (b1 != 0xB2 && b1 != 0xB3) return false;
                s[out++] = static_cast<char>(0x80 + ((b1 - 0xB2) << 6) + (static_cast<unsigned char>(s[i + 2]) & 0x3F));
                i += 2;
                continue;
            }
            s[out++] = s[i];
        }
        *len = out;
        return true;
    }

    // The length of a string decoded in place, its escaped bytes turned back into bytes.
    bool decode(const char *s, rapidjson::SizeType len, uint32_t *n) {
        size_t m = len;
        if (!bytes_from_escapes(const_cast<char *>(s), &m))
            return refuse(offset_of(s) - 1, "a \\u escape names a lone UTF-16 surrogate");
        *n = static_cast<uint32_t>(m);
        return true;
    }

    bool scalar(NodeType type, uint32_t offset, const char *text, uint32_t size) {
        count_in_parent();
        tree_.nodes_.push_back(Node{type, offset, size, tree_.size() + 1, text});
        return true;
    }
    bool open(NodeType type) {
        if (open_.size() >= kMaxNesting) return refuse(tell(), "arrays and objects nest too deep");
        count_in_parent();
        open_.push_back(tree_.size());
        last_key_.push_back(0);
        tree_.nodes_.push_back(Node{type, tell(), 0, 0, nullptr});
        return true;
    }
    bool close() {
        tree_.nodes_[open_.back()].end = tree_.size();
        open_.pop_back();
        last_key_.pop_back();
        return true;
    }
    void count_in_parent() {
        if (!open_.empty()) ++tree_.nodes_[open_.back()].size;
    }

    Tree &tree_;
    rapidjson::InsituStringStream &is_;
    bool escapes_;                    // the text has a backslash somewhere
    std::vector<uint32_t> open_;      // containers not yet closed, outermost first
    std::vector<uint32_t> last_key_;  // for each: the latest key node of an object, or 0
    uint32_t refusal_offset_ = 0;
    std::string refusal_;
};

bool Tree::parse(const char *text, size_t len, ParseFault &fault) {
    nodes_.clear();
    // RapidJSON's UTF-8 check takes the continuation bytes of a sequence cut short by the
    // end of the text before it looks at them: the NULs after the text keep those reads
    // inside the copy (a 4-byte sequence takes at most 3 more).
    copy_.assign(text, text + len);
    copy_.insert(copy_.end(), 4, '\0');
    if (len > UINT32_MAX / 2) {
        fault = {0, "", "the text is too long"};
        return false;
    }
    nodes_.reserve(len / 4 + 4);
    rapidjson::InsituStringStream is(copy_.data());
    // Only an escape can put the bytes of a lone surrogate into a decoded string.
    TreeBuilder builder(*this, is, std::memchr(text, '\\', len) != nullptr);
    rapidjson::Reader reader;
    constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseIterativeFlag |
                                rapidjson::kParseValidateEncodingFlag | rapidjson::kParseNumbersAsStringsFlag;
    const rapidjson::ParseResult r = reader.Parse<kFlags>(is, builder);
    if (r.IsError()) {
        fault.path = builder.path();
        if (builder.refused()) {
            fault.offset = builder.refusal_offset();
            fault.what = builder.refusal();
        } else if (r.Offset() >= len) {
            fault.offset = static_cast<uint32_t>(len);
            fault.what = "the text ends early (truncated JSON)";
        } else {
            fault.offset = static_cast<uint32_t>(r.Offset());
            fault.what = std::string("malformed JSON: ") + rapidjson::GetParseError_En(r.Code());
        }
        return false;
    }
    // The parser stops at a NUL byte; the text must not have one.
    if (is.Tell() < len) {
        fault = {static_cast<uint32_t>(is.Tell()), "", "malformed JSON: a NUL byte in the text"};
        return false;
    }
    return true;
}

template <class Match>
uint32_t Tree::find_key(uint32_t object, uint32_t *hint, Match &&match) const {
    const uint32_t end = nodes_[object].end;
    if (*hint > object && *hint < end && match(nodes_[*hint])) {
        const uint32_t value = *hint + 1;
        *hint = nodes_[value].end;
        return value;
    }
    for (uint32_t k = object + 1; k < end; k = nodes_[k + 1].end) {
        if (match(nodes_[k])) {
            *hint = nodes_[k + 1].end;
            return k + 1;
        }
    }
    return 0;
}

uint32_t Tree::find(uint32_t object, std::string_view name, uint32_t *hint) const {
    return find_key(object, hint, [name](const Node &key) { return key.view() == name; });
}

uint32_t Tree::find(uint32_t object, const char (&name)[32], uint32_t *hint) const {
    // Equal bytes and the field's NUL right after them, without measuring the field first.
    return find_key(object, hint, [&name](const Node &key) {
        if (key.size > 32 || std::memcmp(key.text, name, key.size) != 0) return false;
        return key.size < 32 ? name[key.size] == '\0' : std::memchr(name, '\0', 32) == nullptr;
    });
}

void line_and_column(std::string_view text, uint32_t offset, int32_t *line, int32_t *column) {
    const size_t at = offset < text.size() ? offset : text.size();
    int32_t l = 1;
    size_t line_start = 0;
    for (size_t i = 0; i < at; ++i)
        if (text[i] == '\n') {
            ++l;
            line_start = i + 1;
        }
    *line = l;
    *column = static_cast<int32_t>(at - line_start) + 1;
}

}  // namespace dr::json
