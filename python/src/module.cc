// module.cc: the Python module dr._dr over the public C interface of the record codec.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "dr/dr.h"
#include "dr/dr_compile.h"
#include "dr/dr_json.h"
#include "records.h"

#if defined(__has_include)
#if __has_include("dr/dr_stream.h")
#include "dr/dr_stream.h"
#define DRPY_HAVE_STREAM 1
#endif
#endif

namespace py = pybind11;

namespace drpy {
namespace {

// Records at least this large are converted with the GIL released.
constexpr int64_t kReleaseGil = 16 * 1024;

// The exception classes, made once at import.
PyObject *g_error = nullptr;
PyObject *g_typelib_error = nullptr;
PyObject *g_record_error = nullptr;
PyObject *g_short_error = nullptr;

// A failure on its way to Python: which class, and what it carries.
struct Raised {
    PyObject *cls;
    int code;
    std::string reason;
    int64_t net_offset = -1;
    int64_t host_offset = -1;
    std::string path;
};

// The class of a library code: a short buffer, a bad typelib, else a bad record.
PyObject *class_of(int code) {
    switch (code) {
    case DR_E_NET_END: case DR_E_LENGTH_FIELD: case DR_E_HOST_END: return g_short_error;
    case DR_E_OPEN: case DR_E_READ: case DR_E_NOT_TYPELIB: case DR_E_FORMAT_LEVEL: case DR_E_IMAGE:
        return g_typelib_error;
    default: return g_record_error;
    }
}

[[noreturn]] void raise(const Raised &r) {
    std::string message = r.path.empty() ? r.reason : r.path + ": " + r.reason;
    if (r.path.empty() && (r.net_offset >= 0 || r.host_offset >= 0) && r.code != DR_OK)
        message += " (network offset " + std::to_string(r.net_offset) + ", host offset " + std::to_string(r.host_offset) + ")";
    py::object cls = py::reinterpret_borrow<py::object>(r.cls);
    py::object e = cls(message);
    e.attr("code") = r.code;
    e.attr("reason") = r.reason;
    e.attr("net_offset") = r.net_offset >= 0 ? py::object(py::int_(r.net_offset)) : py::object(py::none());
    e.attr("host_offset") = r.host_offset >= 0 ? py::object(py::int_(r.host_offset)) : py::object(py::none());
    e.attr("path") = r.path;
    PyErr_SetObject(r.cls, e.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise_plain(PyObject *cls, int code, std::string reason, int64_t net_offset = -1) {
    raise({cls, code, std::move(reason), net_offset, -1, {}});
}

[[noreturn]] void raise_error(const DrError &err, const char *fallback) {
    std::string reason = err.text[0] != '\0' ? std::string(err.text) : std::string(fallback);
    raise({class_of(err.code), err.code, reason, err.net_offset, err.host_offset, {}});
}

[[noreturn]] void raise_fault(const Fault &f) {
    if (f.code == -1) throw py::error_already_set();  // a Python error (memory) is already set
    raise({class_of(f.code), f.code, f.reason, -1, f.host_offset, f.path});
}

// Text written by a C function to a stream, as str (bytes that are not UTF-8 kept as
// surrogate escapes, so that nothing is lost).
template <class F>
py::str capture(F &&write) {
    char *data = nullptr;
    size_t size = 0;
    FILE *fp = open_memstream(&data, &size);
    if (fp == nullptr) throw std::bad_alloc();
    const int rc = write(fp);
    std::fclose(fp);
    std::unique_ptr<char, decltype(&std::free)> hold(data, &std::free);
    if (rc != 0) return py::str();
    PyObject *s = PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(size), "surrogateescape");
    if (s == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

// One image and the Python names of its members; freed when the last Typelib or Type goes.
struct Image {
    DrLib *lib = nullptr;
    NameCache names;
    explicit Image(DrLib *l) : lib(l) {}
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    ~Image() { dr_free_lib(lib); }
    const DrLibHeader *header() const { return reinterpret_cast<const DrLibHeader *>(lib); }
};

// A host buffer: the thread's shared one, so that most calls allocate nothing but their
// result, or a buffer of its own when the shared one is in use further up this thread's
// stack (Python code run while a record is written, such as a key's __eq__, may encode).
class Scratch {
public:
    explicit Scratch(size_t n) {
        if (!busy_) {
            busy_ = owner_ = true;
            buf_ = &shared();
        }
        if (buf_->size() < n) buf_->resize(n);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() {
        if (owner_) busy_ = false;
    }
    char *data() { return buf_->data(); }

private:
    static std::vector<char> &shared() {
        thread_local std::vector<char> buf;
        return buf;
    }
    static inline thread_local bool busy_ = false;
    bool owner_ = false;
    std::vector<char> own_;
    std::vector<char> *buf_ = &own_;
};

// The bytes of a Python buffer (bytes, bytearray, memoryview), held while in use.
class View {
public:
    explicit View(py::handle obj) {
        if (PyObject_GetBuffer(obj.ptr(), &view_, PyBUF_SIMPLE) != 0) {
            PyErr_Clear();
            raise_plain(g_record_error, DR_E_ARGUMENT,
                        "expected bytes or another buffer, not " + std::string(Py_TYPE(obj.ptr())->tp_name));
        }
    }
    View(const View &) = delete;
    View &operator=(const View &) = delete;
    ~View() { PyBuffer_Release(&view_); }
    const char *data() const { return static_cast<const char *>(view_.buf); }
    int64_t size() const { return view_.len; }

private:
    Py_buffer view_{};
};

class Type {
public:
    Type(std::shared_ptr<Image> image, const DrMeta *meta) : image_(std::move(image)), meta_(meta) {}

    std::string name() const { return field_name(meta_->name, sizeof meta_->name); }
    int id() const { return meta_->id; }
    int size() const { return meta_->datasize; }
    int version() const { return meta_->version; }
    bool is_struct() const { return meta_->is_struct != 0; }
    std::vector<std::string> members() const {
        std::vector<std::string> out;
        for (int32_t k = 0; k < meta_->count; ++k) out.push_back(field_name(meta_->entries[k].name, sizeof meta_->entries[k].name));
        return out;
    }

    // Bytes of the host record: the type's size (at least 1, so that a buffer exists).
    int64_t host_size() const { return std::max<int32_t>(meta_->datasize, 1); }

    // The host record of a dict into host (host_size() bytes).
    void fill(py::handle record, int version, char *host) const {
        Fault f;
        if (!py_to_host(image_->names, meta_, record.ptr(), host, host_size(), version, &f)) raise_fault(f);
    }

    py::bytes pack(py::handle record) const {
        Scratch host(static_cast<size_t>(host_size()));
        fill(record, 0, host.data());
        return py::bytes(host.data(), static_cast<size_t>(std::max<int32_t>(meta_->datasize, 0)));
    }

    py::dict unpack(py::handle data, int version) const {
        View v(data);
        Fault f;
        PyObject *d = host_to_py(image_->names, meta_, v.data(), v.size(), version, &f);
        if (d == nullptr) raise_fault(f);
        return py::reinterpret_steal<py::dict>(d);
    }

    py::bytes encode(py::handle record, int version) const {
        const int64_t host_len = host_size();
        Scratch host_buf(static_cast<size_t>(host_len));
        fill(record, version, host_buf.data());
        thread_local std::vector<char> net_buf;
        if (net_buf.size() < static_cast<size_t>(host_len) * 2 + 256) net_buf.resize(static_cast<size_t>(host_len) * 2 + 256);
        DrError err{};
        DrBuffer host{host_buf.data(), static_cast<int32_t>(host_len)};
        DrBuffer net{net_buf.data(), static_cast<int32_t>(net_buf.size())};
        int rc = 0;
        {
            std::unique_ptr<py::gil_scoped_release> unlocked;
            if (host_len >= kReleaseGil) unlocked = std::make_unique<py::gil_scoped_release>();
            rc = dr_host_to_net_ex(meta_, &net, &host, version, &err);
            if (rc != 0 && err.code == DR_E_NET_END) {  // larger than the guess: size it, then again
                DrBuffer sizing{nullptr, 0};
                host.len = static_cast<int32_t>(host_len);
                if (dr_host_to_net_ex(meta_, &sizing, &host, version, &err) == 0) {
                    net_buf.resize(static_cast<size_t>(sizing.len));
                    net = DrBuffer{net_buf.data(), sizing.len};
                    host.len = static_cast<int32_t>(host_len);
                    rc = dr_host_to_net_ex(meta_, &net, &host, version, &err);
                }
            }
        }
        if (rc != 0) raise_error(err, "the record cannot be encoded");
        return py::bytes(net_buf.data(), static_cast<size_t>(net.len));
    }

    // Decodes the record at the start of data; *used becomes the network bytes it took.
    py::dict decode_at(const char *data, int64_t size, int version, int32_t *used) const {
        if (size > INT32_MAX) raise_plain(g_record_error, DR_E_ARGUMENT, "more than 2 GiB of input");
        const int64_t host_len = host_size();
        Scratch host_buf(static_cast<size_t>(host_len));
        DrError err{};
        DrBuffer host{host_buf.data(), static_cast<int32_t>(host_len)};
        DrBuffer net{const_cast<char *>(data), static_cast<int32_t>(size)};
        int rc = 0;
        {
            std::unique_ptr<py::gil_scoped_release> unlocked;
            if (host_len >= kReleaseGil || size >= kReleaseGil) unlocked = std::make_unique<py::gil_scoped_release>();
            std::memset(host.data, 0, static_cast<size_t>(host_len));
            rc = dr_net_to_host_ex(meta_, &host, &net, version, &err);
        }
        if (rc != 0) raise_error(err, "the record cannot be decoded");
        *used = net.len;
        Fault f;
        PyObject *d = host_to_py(image_->names, meta_, host_buf.data(), host_len, version, &f);
        if (d == nullptr) raise_fault(f);
        return py::reinterpret_steal<py::dict>(d);
    }

    py::dict decode(py::handle data, int version, bool exact) const {
        View v(data);
        int32_t used = 0;
        py::dict d = decode_at(v.data(), v.size(), version, &used);
        if (exact && used != v.size())
            raise_plain(g_record_error, DR_E_ARGUMENT,
                        std::to_string(v.size() - used) + " bytes follow the record of " + std::to_string(used) + " bytes",
                        used);
        return d;
    }

    // Whether the bytes from `offset` hold a whole record: (0, its length), (1, the least
    // total bytes to have before asking again) or an exception for bytes that are no record.
    py::tuple measure(py::handle data, int64_t offset, int version) const {
        View v(data);
        if (offset < 0 || offset > v.size()) raise_plain(g_record_error, DR_E_ARGUMENT, "offset outside the data");
        const int64_t avail = std::min<int64_t>(v.size() - offset, INT32_MAX);
        const char *p = v.data() + offset;
        int32_t length = 0;
        DrError err{};
#ifdef DRPY_HAVE_STREAM
        const int rc = dr_measure_record(meta_, p, static_cast<int32_t>(avail), version, &length, &err);
        if (rc == DR_STREAM_BAD) raise_error(err, "the bytes are not a record");
        return py::make_tuple(rc == DR_STREAM_RECORD ? 0 : 1, length);
#else
        // Without the library's measure: a decode attempt, the end of the input meaning "more".
        const int64_t host_len = host_size();
        Scratch host_buf(static_cast<size_t>(host_len));
        std::memset(host_buf.data(), 0, static_cast<size_t>(host_len));
        DrBuffer host{host_buf.data(), static_cast<int32_t>(host_len)};
        DrBuffer net{const_cast<char *>(p), static_cast<int32_t>(avail)};
        if (dr_net_to_host_ex(meta_, &host, &net, version, &err) == 0) return py::make_tuple(0, net.len);
        if (err.code == DR_E_NET_END || err.code == DR_E_LENGTH_FIELD || err.code == DR_E_LENGTH_PAST)
            return py::make_tuple(1, static_cast<int64_t>(avail) + 1);
        raise_error(err, "the bytes are not a record");
        (void)length;
#endif
    }

    // The host record of a dict, rendered by one of the library's renderers.
    template <class F>
    py::str render(py::handle record, int version, F &&renderer) const {
        const int64_t len = host_size();
        Scratch host_copy(static_cast<size_t>(len));
        fill(record, version, host_copy.data());
        DrError err{};
        int rc = 0;
        py::str out = capture([&](FILE *fp) {
            DrBuffer host{host_copy.data(), static_cast<int32_t>(len)};
            rc = renderer(fp, &host, &err);
            return 0;
        });
        if (rc != 0) raise_error(err, "the record cannot be rendered");
        return out;
    }

    py::str text(py::handle record, int version) const {
        return render(record, version, [&](FILE *fp, DrBuffer *host, DrError *err) {
            return dr_print_data_ex(meta_, fp, host, version, err);
        });
    }
    py::str xml(py::handle record, int version) const {
        return render(record, version, [&](FILE *fp, DrBuffer *host, DrError *err) {
            return dr_print_data_xml_ex(meta_, fp, host, version, err);
        });
    }
    py::str json(py::handle record, int version, int indent) const {
        py::str s = render(record, version, [&](FILE *fp, DrBuffer *host, DrError *err) {
            err->code = DR_E_CUT;
            std::snprintf(err->text, sizeof err->text, "the record has no JSON form");
            return dr_print_data_json(meta_, fp, host, version, indent);
        });
        return py::str(s.attr("rstrip")("\n"));
    }

    const std::shared_ptr<Image> &image() const { return image_; }
    const DrMeta *meta() const { return meta_; }

private:
    std::shared_ptr<Image> image_;  // keeps the image alive while this Type lives
    const DrMeta *meta_;
};

class Typelib {
public:
    explicit Typelib(DrLib *lib) : image_(std::make_shared<Image>(lib)) {}

    std::string name() const { return field_name(image_->header()->name, sizeof image_->header()->name); }
    int id() const { return image_->header()->id; }
    int version() const { return image_->header()->version; }

    std::vector<Type> types() const {
        const DrLibHeader *h = image_->header();
        const char *data = reinterpret_cast<const char *>(image_->lib) + sizeof(DrLibHeader);
        std::vector<Type> out;
        for (int32_t row = 0; row < h->meta_count; ++row) {
            int32_t off = 0;
            std::memcpy(&off, data + h->dir_off + int64_t{row} * 8, 4);
            out.emplace_back(image_, reinterpret_cast<const DrMeta *>(data + off));
        }
        return out;
    }

    py::dict macros() const {
        const DrLibHeader *h = image_->header();
        const auto *rows = reinterpret_cast<const DrMacro *>(reinterpret_cast<const char *>(image_->lib) +
                                                             sizeof(DrLibHeader) + h->macro_off);
        py::dict out;
        for (int32_t k = 0; k < h->macro_count; ++k)
            out[py::str(field_name(rows[k].name, sizeof rows[k].name))] = rows[k].id;
        return out;
    }

    Type at(py::handle key) const {
        const DrMeta *meta = nullptr;
        if (PyLong_Check(key.ptr()) && !PyBool_Check(key.ptr())) {
            int overflow = 0;
            const long long id = PyLong_AsLongLongAndOverflow(key.ptr(), &overflow);
            if (overflow == 0 && id >= INT32_MIN && id <= INT32_MAX) dr_meta_by_id(image_->lib, static_cast<int>(id), &meta);
        } else if (PyUnicode_Check(key.ptr())) {
            const std::string name = key.cast<std::string>();
            if (name.size() < 32 && name.find('\0') == std::string::npos) dr_meta_by_name(image_->lib, name.c_str(), &meta);
        } else {
            throw py::type_error("a type is found by its name (str) or id (int)");
        }
        if (meta == nullptr) throw py::key_error(py::repr(key).cast<std::string>());
        return Type(image_, meta);
    }

    bool contains(py::handle key) const {
        try {
            at(key);
            return true;
        } catch (const py::key_error &) {
            return false;
        } catch (const py::type_error &) {
            return false;
        }
    }

    py::str xml() const { return capture([&](FILE *fp) { return dr_print_lib_xml(image_->lib, fp); }); }
    py::str source() const { return capture([&](FILE *fp) { return dr_print_lib_source(image_->lib, fp); }); }
    py::str summary() const {
        return capture([&](FILE *fp) {
            dr_print_lib_summary(fp, image_->lib);
            return 0;
        });
    }

    py::str header(bool portable, const std::string &prefix, const std::string &guard) const {
        char dir[] = "/tmp/drpy-XXXXXX";
        if (mkdtemp(dir) == nullptr) throw std::runtime_error("cannot make a temporary directory");
        // The include guard comes from the file's name: one name, never a path.
        std::string file = guard.empty() ? name() : guard;
        for (char &c : file)
            if (c == '/' || c == '\\' || c == '\0') c = '_';
        const std::string path = std::string(dir) + "/" + (file.empty() ? "typelib" : file) + ".h";
        const int rc = dr_write_header_file_ex(image_->lib, path.c_str(), prefix.empty() ? nullptr : prefix.c_str(),
                                               portable ? DR_HEADER_PORTABLE : 0);
        std::string text;
        if (rc == 0) {
            if (FILE *fp = std::fopen(path.c_str(), "rb")) {
                char chunk[4096];
                size_t n;
                while ((n = std::fread(chunk, 1, sizeof chunk, fp)) > 0) text.append(chunk, n);
                std::fclose(fp);
            }
        }
        std::remove(path.c_str());
        rmdir(dir);
        if (rc != 0) raise_plain(g_typelib_error, DR_E_OPEN, "the header could not be written");
        return py::str(text);
    }

    py::bytes image_bytes() const {
        return py::bytes(reinterpret_cast<const char *>(image_->lib), static_cast<size_t>(image_->header()->size));
    }

private:
    std::shared_ptr<Image> image_;
};

Typelib load(py::handle source) {
    DrLib *lib = nullptr;
    DrError err{};
    if (PyBytes_Check(source.ptr()) || PyByteArray_Check(source.ptr()) || PyMemoryView_Check(source.ptr())) {
        View v(source);
        FILE *fp = v.size() > 0 ? fmemopen(const_cast<char *>(v.data()), static_cast<size_t>(v.size()), "rb") : nullptr;
        if (fp == nullptr) raise_plain(g_typelib_error, DR_E_NOT_TYPELIB, "an empty typelib image");
        const int rc = dr_load_lib_ex(&lib, fp, &err);
        std::fclose(fp);
        if (rc != 0) raise_error(err, "the bytes are not a typelib");
    } else {
        const std::string path = py::str(py::module_::import("os").attr("fsdecode")(source)).cast<std::string>();
        if (dr_load_lib_file_ex(&lib, path.c_str(), &err) != 0) raise_error(err, "the file is not a typelib");
    }
    return Typelib(lib);
}

Typelib compile(py::handle source) {
    DrLib *lib = nullptr;
    DrCompileError err{};
    int rc = 0;
    std::string where;
    if (PyUnicode_Check(source.ptr()) && source.cast<std::string>().find('<') != std::string::npos) {
        const std::string text = source.cast<std::string>();
        rc = dr_compile(&lib, text.data(), text.size(), &err);
    } else if (PyBytes_Check(source.ptr())) {
        View v(source);
        rc = dr_compile(&lib, v.data(), static_cast<size_t>(v.size()), &err);
    } else {
        where = py::str(py::module_::import("os").attr("fsdecode")(source)).cast<std::string>();
        rc = dr_compile_file(&lib, where.c_str(), &err);
    }
    if (rc != 0) {
        std::string reason = err.message;
        std::string place = where;
        if (err.line > 0) place += (place.empty() ? "" : ":") + std::string("line ") + std::to_string(err.line) +
                                   ", column " + std::to_string(err.column);
        raise({g_typelib_error, DR_E_IMAGE, reason, -1, -1, place});
    }
    return Typelib(lib);
}

PyObject *make_class(py::module_ &m, const char *name, PyObject *base, const char *doc) {
    const std::string full = std::string("dr.") + name;
    PyObject *cls = PyErr_NewExceptionWithDoc(full.c_str(), doc, base, nullptr);
    if (cls == nullptr) throw py::error_already_set();
    m.add_object(name, py::handle(cls));
    return cls;
}

}  // namespace
}  // namespace drpy

PYBIND11_MODULE(_dr, m) {
    using namespace drpy;
    m.doc() = "Records of typelib-described types: encode, decode, render (the dr record codec).";

    g_error = make_class(m, "Error", PyExc_Exception,
                         "A failure of the record codec. Attributes: code (the library's DrErrorCode), reason\n"
                         "(one line), net_offset and host_offset (or None), path (the member at fault, as\n"
                         "players[1].pos.x, or '').");
    g_typelib_error = make_class(m, "TypelibError", g_error, "A typelib that cannot be loaded or compiled.");
    g_record_error = make_class(m, "RecordError", g_error, "A record that does not fit its type, or bytes that are no record.");
    g_short_error = make_class(m, "ShortBufferError", g_error, "Bytes that end before the record does.");

    py::class_<Type>(m, "Type", "One struct or union type of a typelib. It keeps its typelib alive.")
        .def_property_readonly("name", &Type::name, "The type's name.")
        .def_property_readonly("id", &Type::id, "The type's id.")
        .def_property_readonly("size", &Type::size, "Bytes of one host record.")
        .def_property_readonly("version", &Type::version, "The version that introduced the type.")
        .def_property_readonly("is_struct", &Type::is_struct, "True for a struct, False for a union.")
        .def_property_readonly("members", &Type::members, "The member names, in member order.")
        .def("encode", &Type::encode, py::arg("record"), py::arg("version") = 0,
             "Encodes a record (a dict) into its network form for `version` (0 = newest).")
        .def("decode", &Type::decode, py::arg("data"), py::arg("version") = 0, py::arg("exact") = true,
             "Decodes the network form in `data` into a dict. With exact (the default), bytes after\n"
             "the record are an error.")
        .def("pack", &Type::pack, py::arg("record"),
             "The host form of a record: the bytes a C program compiled with the generated header holds.")
        .def("unpack", &Type::unpack, py::arg("data"), py::arg("version") = 0, "A host record as a dict.")
        .def("_measure", &Type::measure, py::arg("data"), py::arg("offset") = 0, py::arg("version") = 0,
             "(0, length) when a whole record starts at `offset`; (1, least total) when more bytes are needed.")
        .def("text", &Type::text, py::arg("record"), py::arg("version") = 0, "The record as one line of text.")
        .def("xml", &Type::xml, py::arg("record"), py::arg("version") = 0, "The record as XML.")
        .def("json", &Type::json, py::arg("record"), py::arg("version") = 0, py::arg("indent") = 0,
             "The record as JSON (docs/json.md); indent 0 gives one line.")
        .def("__repr__", [](const Type &t) { return "<dr.Type " + t.name() + " id=" + std::to_string(t.id()) + ">"; })
        .def("__eq__", [](const Type &a, const Type &b) { return a.meta() == b.meta(); }, py::is_operator())
        .def("__hash__", [](const Type &t) { return std::hash<const void *>()(t.meta()); });

    py::class_<Typelib>(m, "Typelib", "A typelib: the descriptions of record types. Safe to share between threads.")
        .def_property_readonly("name", &Typelib::name, "The typelib's name.")
        .def_property_readonly("id", &Typelib::id, "The typelib's id.")
        .def_property_readonly("version", &Typelib::version, "The typelib's version.")
        .def_property_readonly("types", &Typelib::types, "Every type, in the typelib's order.")
        .def_property_readonly("macros", &Typelib::macros, "The named constants, as a dict of name to value.")
        .def("__getitem__", &Typelib::at, py::arg("key"), "The type of that name (str) or id (int); KeyError when none.")
        .def("__contains__", &Typelib::contains, py::arg("key"), "Whether a type of that name or id exists.")
        .def("__len__", [](const Typelib &t) { return t.types().size(); }, "The number of types.")
        .def("__iter__", [](const Typelib &t) { return py::iter(py::cast(t.types())); }, "Iterates over the types.")
        .def("xml", &Typelib::xml, "The typelib described as XML.")
        .def("source", &Typelib::source, "The XML source that dr.compile turns back into the same typelib.")
        .def("header", &Typelib::header, py::arg("portable") = true, py::arg("prefix") = "", py::arg("guard") = "",
             "A C header declaring every macro and type; portable adds <stdint.h> types, layout checks\n"
             "and definition order. `prefix` goes before member names; `guard` names the include guard.")
        .def("summary", &Typelib::summary, "A plain-text listing of every macro, type and member.")
        .def("image", &Typelib::image_bytes, "The typelib image, as dr.load reads it back.")
        .def("__repr__", [](const Typelib &t) {
            return "<dr.Typelib " + t.name() + " version=" + std::to_string(t.version()) + ">";
        });

    m.def("load", &load, py::arg("source"), "A typelib from an image: a path, or the image's bytes.");
    m.def("compile", &compile, py::arg("source"),
          "A typelib compiled from its XML source: the text (str or bytes) or a path to it.");
    m.attr("STREAM_SUPPORT") =
#ifdef DRPY_HAVE_STREAM
        true;
#else
        false;
#endif
}
