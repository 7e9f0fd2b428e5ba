// parse.cc: reads the XML source with expat into a LibSource, element by element.
#include <expat.h>

#include <climits>
#include <cstring>
#include <utility>

#include "dr/compile/source.h"

namespace dr::compile {
namespace {

enum class Element { kNone, kTypelib, kMacros, kMacro, kType, kItem };

struct Attribute {
    const char *name;
    Text *value;
};

class Parser {
public:
    Parser() : xml_(XML_ParserCreate(nullptr)) {
        if (!xml_) throw std::bad_alloc();
        XML_SetUserData(xml_, this);
        XML_SetElementHandler(xml_, on_start, on_end);
        XML_SetCharacterDataHandler(xml_, on_text);
        XML_SetStartDoctypeDeclHandler(xml_, on_doctype);
        XML_SetXmlDeclHandler(xml_, on_declaration);
    }
    ~Parser() { XML_ParserFree(xml_); }
    Parser(const Parser &) = delete;
    Parser &operator=(const Parser &) = delete;

    LibSource run(std::string_view text) {
        if (text.size() > INT_MAX) throw Error({}, "the source is larger than 2 GiB");
        const XML_Status status = XML_Parse(xml_, text.data(), static_cast<int>(text.size()), 1);
        if (failure_) throw std::move(*failure_);
        if (status != XML_STATUS_OK)
            throw Error(here(), std::string("malformed XML: ") + XML_ErrorString(XML_GetErrorCode(xml_)));
        return std::move(lib_);
    }

private:
    Pos here() const {
        return {static_cast<int>(XML_GetCurrentLineNumber(xml_)), static_cast<int>(XML_GetCurrentColumnNumber(xml_)) + 1};
    }

    // Expat calls back through C frames, so an error stops the parser and waits in failure_.
    template <class Step>
    static void guarded(void *self, Step &&step) {
        Parser &p = *static_cast<Parser *>(self);
        if (p.failure_) return;
        try {
            step(p);
        } catch (Error &e) {
            p.failure_.emplace(std::move(e));
        } catch (const std::bad_alloc &) {
            p.failure_.emplace(Pos{}, "out of memory");
        }
        if (p.failure_) XML_StopParser(p.xml_, XML_FALSE);
    }

    static void XMLCALL on_start(void *self, const XML_Char *name, const XML_Char **attrs) {
        guarded(self, [&](Parser &p) { p.start(name, attrs); });
    }
    static void XMLCALL on_end(void *self, const XML_Char *) {
        guarded(self, [](Parser &p) { p.stack_.pop_back(); });
    }
    static void XMLCALL on_text(void *self, const XML_Char *s, int len) {
        guarded(self, [&](Parser &p) {
            Pos at = p.here();  // where this run of text starts; the error names its first non-blank
            for (int i = 0; i < len; ++i) {
                if (s[i] == '\n') {
                    ++at.line, at.column = 1;
                } else if (s[i] == ' ' || s[i] == '\t' || s[i] == '\r') {
                    ++at.column;
                } else {
                    throw Error(at, "text is not allowed here, only elements");
                }
            }
        });
    }
    // A document declared ISO-8859-1 stores its text as those bytes: names and descriptions
    // in any 8-bit character set pass through unchanged (expat hands them over as UTF-8).
    static void XMLCALL on_declaration(void *self, const XML_Char *, const XML_Char *encoding, int) {
        guarded(self, [&](Parser &p) {
            std::string name = encoding ? encoding : "";
            for (char &c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            p.latin1_ = name == "ISO-8859-1";
        });
    }

    // No document type: it could define entities, and the source format needs none.
    static void XMLCALL on_doctype(void *self, const XML_Char *, const XML_Char *, const XML_Char *, int) {
        guarded(self, [](Parser &p) -> void { throw Error(p.here(), "a DOCTYPE declaration is not allowed"); });
    }

    void start(const char *name, const char **attrs) {
        const Pos pos = here();
        const Element parent = stack_.empty() ? Element::kNone : stack_.back();
        const std::string_view tag(name);
        auto misplaced = [&]() -> Error {
            if (tag != "typelib" && tag != "macros" && tag != "macro" && tag != "type" && tag != "item")
                return Error(pos, "unknown element <" + std::string(tag) + ">");
            return Error(pos, "<" + std::string(tag) + "> is not allowed " +
                                  (parent == Element::kNone ? std::string("as the root; the root is <typelib>")
                                                            : "inside <" + std::string(element_name(parent)) + ">"));
        };
        if (parent == Element::kNone && tag == "typelib") {
            lib_.pos = pos;
            take(pos, tag, attrs,
                 {{"name", &lib_.name}, {"id", &lib_.id}, {"version", &lib_.version}, {"padding", &lib_.padding},
                  {"max_macros", &lib_.max_macros}, {"max_metas", &lib_.max_metas}});
            stack_.push_back(Element::kTypelib);
        } else if (parent == Element::kTypelib && tag == "macros") {
            take(pos, tag, attrs, {});
            stack_.push_back(Element::kMacros);
        } else if (parent == Element::kMacros && tag == "macro") {
            MacroSource &m = lib_.macros.emplace_back();
            m.pos = pos;
            take(pos, tag, attrs, {{"name", &m.name}, {"id", &m.value}});
            stack_.push_back(Element::kMacro);
        } else if (parent == Element::kTypelib && tag == "type") {
            TypeSource &t = lib_.types.emplace_back();
            t.pos = pos;
            take(pos, tag, attrs,
                 {{"name", &t.name}, {"id", &t.id}, {"class", &t.klass}, {"version", &t.version},
                  {"sizetype", &t.sizetype}, {"sizewidth", &t.sizewidth}, {"idxtype", &t.idxtype}});
            stack_.push_back(Element::kType);
        } else if (parent == Element::kType && tag == "item") {
            ItemSource &i = lib_.types.back().items.emplace_back();
            i.pos = pos;
            take(pos, tag, attrs,
                 {{"name", &i.name}, {"id", &i.id}, {"count", &i.count}, {"version", &i.version}, {"io", &i.io},
                  {"type", &i.type}, {"target", &i.target}, {"refer", &i.refer}, {"select", &i.select},
                  {"desc", &i.desc}, {"target_size", &i.target_size}, {"netlen_pos", &i.netlen_pos},
                  {"netlen_size", &i.netlen_size}});
            stack_.push_back(Element::kItem);
        } else {
            throw misplaced();
        }
    }

    static const char *element_name(Element e) {
        switch (e) {
        case Element::kTypelib: return "typelib";
        case Element::kMacros: return "macros";
        case Element::kMacro: return "macro";
        case Element::kType: return "type";
        case Element::kItem: return "item";
        default: return "";
        }
    }

    // UTF-8 from expat back to the ISO-8859-1 bytes of the document.
    static std::string latin1(Pos pos, std::string_view utf8) {
        std::string out;
        for (size_t i = 0; i < utf8.size(); ++i) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
                out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
            } else {
                throw Error(pos, "a character reference above &#255; has no byte in ISO-8859-1");
            }
        }
        return out;
    }

    // Copies each attribute into its slot; an attribute without a slot is an error.
    void take(Pos pos, std::string_view tag, const char **attrs, std::initializer_list<Attribute> known) const {
        for (const char **a = attrs; *a; a += 2) {
            Text *slot = nullptr;
            for (const Attribute &k : known)
                if (std::strcmp(k.name, a[0]) == 0) slot = k.value;
            if (!slot) throw Error(pos, "unknown attribute '" + std::string(a[0]) + "' on <" + std::string(tag) + ">");
            slot->emplace(latin1_ ? latin1(pos, a[1]) : std::string(a[1]));
        }
    }

    XML_Parser xml_;
    LibSource lib_;
    std::vector<Element> stack_;
    std::optional<Error> failure_;
    bool latin1_ = false;
};

}  // namespace

LibSource parse_source(std::string_view xml) { return Parser().run(xml); }

}  // namespace dr::compile
