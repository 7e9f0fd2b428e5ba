// write.cc: a host record as JSON, over the codec's member walk.
#include <algorithm>
#include <new>
#include <string>

#include "dr/walk/cursor.h"
#include "dr/walk/walk.h"
#include "dr/dr_json.h"
#include "dr/json/values.h"
#include "dr/json/walk_shape.h"
#include "dr/text/sink.h"

namespace dr::json {
namespace {

constexpr int kMaxIndent = 16;  // blanks per level at the most

class JsonWriter : public CodecRules {
public:
    JsonWriter(Sink &out, const char *host, int64_t host_len, int indent)
        : out_(out), host_(host), host_len_(host_len), indent_(std::clamp(indent, 0, kMaxIndent)) {}

    bool skip(const DrEntry &) const { return false; }

    void begin() {
        text_ = "{";
        ++level_;
        first_ = true;
    }

    bool scalar(const DrEntry &e, int64_t at, int32_t count, int64_t) {
        const Kind k = kind_of(e);
        if (k == Kind::kNone) return false;
        key(e);
        const char *p = host_ + at;
        if (!is_array(e)) {
            append_value(text_, k, p);
        } else if (e.type_code == DR_TYPE_CHAR && e.unit == 1 && is_text_array(p, count, e.refer_size > 0)) {
            append_string(text_, std::string_view(p, strnlen(p, static_cast<size_t>(count))));
        } else {
            text_ += '[';
            for (int32_t i = 0; i < count; ++i) {
                if (i > 0) text_ += indent_ > 0 ? ", " : ",";
                append_value(text_, k, p + int64_t{i} * e.unit);
            }
            text_ += ']';
        }
        return flush();
    }

    bool string(const DrEntry &e, int64_t at, int64_t capacity) {
        const int64_t len = string_length(Host<const char>{host_, host_len_}, at, capacity);
        if (len < 0) return false;
        key(e);
        append_string(text_, std::string_view(host_ + at, static_cast<size_t>(len)));
        return flush();
    }

    bool push(DrWalkFrame *frames, int depth) {
        const DrEntry &e = opening_entry(frames, depth);
        key(e);
        if (is_array(e)) {
            text_ += '[';
            ++level_;
            newline();
        }
        text_ += '{';
        ++level_;
        first_ = true;
        return flush();
    }

    bool empty(const DrEntry &e, bool unresolved) {
        if (unresolved) return true;  // nothing of the union, nor of what follows it, is taken
        key(e);
        text_ += "[]";
        return flush();
    }

    bool element_done(DrWalkFrame *frames, int depth) {
        --level_;
        if (!first_) newline();
        text_ += '}';
        first_ = false;
        const DrWalkFrame &f = frames[depth - 1];
        if (depth > 1 && is_array(opening_entry(frames, depth))) {
            if (f.iRemaining > 0) {
                text_ += ',';
                newline();
                text_ += '{';
                ++level_;
                first_ = true;
            } else {
                --level_;
                newline();
                text_ += ']';
            }
        }
        return flush();
    }

private:
    // Whether a char array holds text and nothing after it: bytes up to the first NUL that
    // read as text, then only NULs (an array with a count member has no NUL at all).
    static bool is_text_array(const char *p, int32_t count, bool counted) {
        const size_t n = static_cast<size_t>(count);
        const size_t len = strnlen(p, n);
        if (counted && len != n) return false;
        for (size_t i = len; i < n; ++i)
            if (p[i] != '\0') return false;
        return is_text(std::string_view(p, len));
    }

    // Opens a member: the separator after the previous one, the line, and the key.
    void key(const DrEntry &e) {
        if (!first_) text_ += ',';
        first_ = false;
        newline();
        append_string(text_, field_text(e.name));
        text_ += indent_ > 0 ? ": " : ":";
    }

    void newline() {
        if (indent_ == 0) return;
        text_ += '\n';
        text_.append(static_cast<size_t>(level_) * static_cast<size_t>(indent_), ' ');
    }

    // Hands the text of one member (or one bracket) to the sink as one piece.
    bool flush() {
        if (!text_.empty()) out_.piece({text_});
        text_.clear();
        return true;
    }

    Sink &out_;
    const char *host_;
    int64_t host_len_;
    int indent_;
    int level_ = 0;      // containers open around the next line
    bool first_ = true;  // the innermost object has no member yet
    std::string text_;
};

int write_json(const DrMeta *meta, std::FILE *fp, DrBuffer *out, DrBuffer *host, int version, int indent) {
    if (meta == nullptr || host == nullptr || (fp == nullptr && (out == nullptr || out->data == nullptr)))
        return -1;
    if (fp == nullptr && out->len < 1) return -1;  // no room even for the terminator
    const int32_t v = effective_version(version);
    if (meta->version > v) return -1;

    Sink sink = fp ? Sink(fp) : Sink(out->data, out->len - 1);
    if (fp == nullptr) out->data[0] = out->data[out->len - 1] = '\0';
    const int64_t host_len = usable_length(host);
    JsonWriter writer(sink, host->data, host_len, indent);
    writer.begin();
    const WalkEnd end = walk(writer, meta, host->data, host_len, v, fp ? 0 : int64_t{out->len});
    host->len = as_buffer_len(end.host_cursor);
    if (fp != nullptr) {
        sink.piece({"\n"});
        return end.ok ? 0 : -1;
    }
    out->len = as_buffer_len(sink.accepted());
    return end.ok && !sink.cut() ? 0 : -1;
}

}  // namespace
}  // namespace dr::json

extern "C" int dr_print_data_json(const DrMeta *meta, FILE *fp, DrBuffer *host, int version, int indent) {
    if (fp == nullptr) return -1;
    try {
        return dr::json::write_json(meta, fp, nullptr, host, version, indent);
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

extern "C" int dr_sprint_data_json(const DrMeta *meta, DrBuffer *out, DrBuffer *host, int version, int indent) {
    try {
        return dr::json::write_json(meta, nullptr, out, host, version, indent);
    } catch (const std::bad_alloc &) {
        return -1;
    }
}
