// tree.h: a JSON text parsed into one flat array of nodes that remember where in the text
// each value starts, so that every refusal can name its line and column.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dr::json {

enum class NodeType : uint8_t { kNull, kFalse, kTrue, kNumber, kString, kObject, kArray };

// One value, in document order. An object's members follow it as (key, value) pairs: the
// key is a kString node. `end` is the index just past the value's last descendant, so the
// next sibling of node i is node nodes[i].end.
struct Node {
    NodeType type;
    uint32_t offset;   // byte offset of the value's first character in the text
    uint32_t size;     // members of an object, elements of an array, bytes of a string or number
    uint32_t end;
    const char *text;  // string bytes (decoded) or number text; not terminated
    std::string_view view() const { return {text, size}; }
};

// Where and why a text is not JSON.
struct ParseFault {
    uint32_t offset = 0;
    std::string path;  // the container path at the fault, such as players[3].pos
    std::string what;
};

class Tree {
public:
    // Parses the whole text: one value, optionally surrounded by blanks. Strings must be
    // UTF-8; a \udc80 to \udcff escape stands for the single byte 0x80 to 0xff, the form in
    // which the writer keeps bytes that are not UTF-8. False with `fault` set otherwise.
    bool parse(const char *text, size_t len, ParseFault &fault);

    const Node &operator[](uint32_t i) const { return nodes_[i]; }
    uint32_t size() const { return static_cast<uint32_t>(nodes_.size()); }

    // The value of an object's member named `name`, or 0 (never a member) when absent.
    // Tries the pair at `*hint` first (members usually come in member order) and leaves
    // `*hint` at the pair after the one found.
    uint32_t find(uint32_t object, std::string_view name, uint32_t *hint) const;
    // The same for a name field of a description (NUL-terminated inside its 32 bytes).
    uint32_t find(uint32_t object, const char (&name)[32], uint32_t *hint) const;

private:
    friend class TreeBuilder;
    template <class Match>
    uint32_t find_key(uint32_t object, uint32_t *hint, Match &&match) const;

    std::vector<char> copy_;  // the text, parsed and decoded in place
    std::vector<Node> nodes_;
};

// Line and column (both 1-based, the column in bytes) of a byte offset in the text.
void line_and_column(std::string_view text, uint32_t offset, int32_t *line, int32_t *column);

}  // namespace dr::json
