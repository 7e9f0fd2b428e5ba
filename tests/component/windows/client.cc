// client.cc: a Windows COM client of the registered TavEncoder.dll (built 32-bit, and 64-bit
// for machines that cannot run 32-bit programs): creation through the ProgID, the four methods
// on a real typelib file, the error box, caught by a CBT hook, IMyEncoder2 with oleaut32's
// error objects (and no box), many threads on one object, and unregistration.
// Run from a scratch directory after `regsvr32 TavEncoder.dll`; prints "N passed, M failed".
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <olectl.h>

#include "component/IMyEncoder.h"
#include "tests/component/encode_sized.h"
#include "tests/component/error_object.h"
#include "tests/component/sample_types.h"

namespace {

using namespace tavtest;

int g_passed = 0, g_failed = 0;

void check(bool ok, const char *what, int line) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("  FAILED (line %d): %s\n", line, what);
    }
}
#define CHECK(cond) check((cond), #cond, __LINE__)

void group(const char *name) { std::printf("[ RUN      ] %s\n", name); }

// What the CBT hook saw of the message boxes shown on this thread.
struct BoxReport {
    int shown = 0;
    std::string text, caption;
    bool stop_icon = false;
    int buttons = 0;
    bool ok_button = false;
};
BoxReport g_box;

BOOL CALLBACK inspect_child(HWND child, LPARAM) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(cls, "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            const HICON icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
            g_box.stop_icon = icon != nullptr && icon == LoadIconA(nullptr, IDI_HAND);
        } else {
            char text[256] = {};
            GetWindowTextA(child, text, sizeof text);
            if (text[0] != 0) g_box.text = text;
        }
    } else if (lstrcmpiA(cls, "Button") == 0 && (style & WS_VISIBLE) != 0) {
        ++g_box.buttons;
        g_box.ok_button = GetDlgCtrlID(child) == IDOK;
    }
    return TRUE;
}

// On activation of a dialog box: record its caption, text, icon and buttons, then press OK.
LRESULT CALLBACK cbt_hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        const HWND box = reinterpret_cast<HWND>(wParam);
        char cls[32] = {};
        GetClassNameA(box, cls, sizeof cls);
        if (std::strcmp(cls, "#32770") == 0) {
            g_box = BoxReport{};
            g_box.shown = 1;
            char caption[128] = {};
            GetWindowTextA(box, caption, sizeof caption);
            g_box.caption = caption;
            EnumChildWindows(box, inspect_child, 0);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Checks that exactly one lookup error box for `id` was shown since the last call.
void expect_box(const char *id, int line) {
    const std::string text = std::string("dr_meta_by_id \xCA\xA7\xB0\xDC\xA3\xA1iDataTypeId = ") + id;
    check(g_box.shown == 1, "one error box shown", line);
    check(g_box.text == text, "box text is the code page 936 message", line);
    if (g_box.text != text) std::printf("  box text was \"%s\"\n", g_box.text.c_str());
    check(g_box.caption == "TavEncoder", "box caption is TavEncoder", line);
    check(g_box.stop_icon, "box shows the stop icon", line);
    check(g_box.buttons == 1 && g_box.ok_button, "box has the OK button only", line);
    g_box = BoxReport{};
}
void expect_no_box(int line) {
    check(g_box.shown == 0, "no box shown", line);
    g_box = BoxReport{};
}

std::string read_bytes(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A text value of HKEY_CLASSES_ROOT\key (null name: the default value); empty when absent.
std::string registry_text(const char *key, const char *name = nullptr) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return {};
    char value[1024] = {};
    DWORD size = sizeof value - 1;
    const LONG rc = RegQueryValueExA(handle, name, nullptr, nullptr, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS ? value : std::string();
}

bool registry_has(const char *key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

// The number of subkeys of HKEY_CLASSES_ROOT\key, or -1.
long registry_subkeys(const char *key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return -1;
    DWORD count = 0;
    const LONG rc = RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS ? static_cast<long>(count) : -1;
}

// ---- IMyEncoder2 -------------------------------------------------------------------------

const HRESULT kTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

// hr is `want`, the error object says `reason` and came from IMyEncoder2, and no box was shown.
void expect_failure(HRESULT hr, HRESULT want, const std::string &reason, int line) {
    check(hr == want, "the expected HRESULT", line);
    if (hr != want) std::printf("  HRESULT was 0x%08lX\n", static_cast<unsigned long>(hr));
    const TakenError e = take_error();
    check(e.got == S_OK, "GetErrorInfo has an error object", line);
    check(e.description.find(reason) != std::string::npos, "the description gives the reason", line);
    if (e.description.find(reason) == std::string::npos)
        std::printf("  description \"%s\" lacks \"%s\"\n", e.description.c_str(), reason.c_str());
    check(e.source == TAV_ENCODER_PROGID && IsEqualGUID(e.guid, IID_IMyEncoder2), "source and GUID", line);
    expect_no_box(line);
}

struct ThreadWork {
    IMyEncoder2 *enc;
    int index;
    int wrong;
};

// One of several threads on one object: good and bad calls, each reason its own.
DWORD WINAPI hammer(void *arg) {
    ThreadWork &w = *static_cast<ThreadWork *>(arg);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const SampleHost sample = sample_record();
    SampleHost over = sample;
    over.c = 11;
    for (int k = 0; k < 500; ++k) {
        char net[32];
        int len = -1, used = -1;
        if (w.enc->Encode(kSampleId, 0, reinterpret_cast<const char *>(&sample), sizeof sample, net, sizeof net,
                          &len) != S_OK ||
            len != 17 || std::memcmp(net, kSampleNet, 17) != 0)
            ++w.wrong;
        SampleHost back;
        if (w.enc->Decode(kSampleId, 0, net, 17, reinterpret_cast<char *>(&back), sizeof back, &used) != S_OK ||
            used != 17 || back.c != 2)
            ++w.wrong;
        if (w.enc->Encode(kSampleId, 0, reinterpret_cast<const char *>(&over), sizeof over, net, 16, &len) !=
            TAV_E_COUNT)
            ++w.wrong;
        if (take_error().description.find("count member") == std::string::npos) ++w.wrong;
        if (w.enc->Encode(1000 + w.index, 0, reinterpret_cast<const char *>(&sample), sizeof sample, net, 32,
                          &len) != TAV_E_UNKNOWN_TYPE)
            ++w.wrong;
        if (take_error().description != "the typelib has no type with id " + std::to_string(1000 + w.index))
            ++w.wrong;
    }
    CoUninitialize();
    return 0;
}

void run_encoder2(IMyEncoder *enc) {
    group("IMyEncoder2 identity");
    IMyEncoder2 *enc2 = nullptr;
    CHECK(enc->QueryInterface(IID_IMyEncoder2, reinterpret_cast<void **>(&enc2)) == S_OK && enc2 != nullptr);
    if (enc2 == nullptr) return;
    void *p = nullptr;
    CHECK(enc2->QueryInterface(IID_IMyEncoder, &p) == S_OK && p == enc);
    if (p != nullptr) static_cast<IUnknown *>(p)->Release();
    void *u1 = nullptr, *u2 = nullptr, *again = nullptr, *support = nullptr;
    CHECK(enc->QueryInterface(IID_IUnknown, &u1) == S_OK && enc2->QueryInterface(IID_IUnknown, &u2) == S_OK &&
          u1 == u2);
    CHECK(enc2->QueryInterface(IID_IMyEncoder2, &again) == S_OK && again == enc2);
    CHECK(enc2->QueryInterface(IID_ISupportErrorInfo, &support) == S_OK && support != nullptr);
    if (support != nullptr) {
        auto *sei = static_cast<ISupportErrorInfo *>(support);
        CHECK(sei->InterfaceSupportsErrorInfo(IID_IMyEncoder2) == S_OK);
        CHECK(sei->InterfaceSupportsErrorInfo(IID_IMyEncoder) == S_FALSE);
        void *u3 = nullptr;
        CHECK(sei->QueryInterface(IID_IUnknown, &u3) == S_OK && u3 == u1);
        if (u3 != nullptr) static_cast<IUnknown *>(u3)->Release();
        sei->Release();
    }
    for (void *q : {u1, u2, again})
        if (q != nullptr) static_cast<IUnknown *>(q)->Release();

    group("IMyEncoder2 sizes");
    const SampleHost sample = sample_record();
    const char *host = reinterpret_cast<const char *>(&sample);
    int len = -1;
    CHECK(enc2->Encode(kSampleId, 0, host, sizeof sample, nullptr, 0, &len) == S_OK && len == 17);
    for (int cap = 0; cap <= 18; ++cap) {
        Guarded net(cap);
        len = -1;
        const HRESULT hr = enc2->Encode(kSampleId, 0, host, sizeof sample, net.data(), cap, &len);
        CHECK(net.guard_intact() && len == 17);
        if (cap >= 17)
            CHECK(hr == S_OK && std::memcmp(net.data(), kSampleNet, 17) == 0);
        else
            expect_failure(hr, kTooSmall, "needs 17 bytes; the buffer holds " + std::to_string(cap), __LINE__);
        if (cap == 0) CHECK(net.untouched());
    }
    for (int cap : {60, 59, 0}) {
        Guarded out(cap);
        int used = -1;
        const HRESULT hr =
            enc2->Decode(kSampleId, 0, reinterpret_cast<const char *>(kSampleNet), 17, out.data(), cap, &used);
        CHECK(out.guard_intact());
        if (cap == 60) {
            SampleHost back;
            std::memcpy(&back, out.data(), sizeof back);
            CHECK(hr == S_OK && used == 17 && back.c == 2 && back.v[2] == 0 && std::strcmp(back.s, "ab") == 0);
        } else {
            expect_failure(hr, kTooSmall, "the host record needs 60 bytes", __LINE__);
            CHECK(out.untouched());
        }
    }
    const HdrHost hdr = hdr_record();
    // The library's own text of the record, in a buffer of plenty.
    std::string line;
    DrLib *lib = nullptr;
    const DrMeta *meta = nullptr;
    if (dr_load_lib_file(&lib, "client_sample.tlb") == 0 && dr_meta_by_id(lib, kHdrId, &meta) == 0) {
        char whole[512];
        DrBuffer out{whole, sizeof whole}, h{const_cast<char *>(reinterpret_cast<const char *>(&hdr)), sizeof hdr};
        if (dr_sprint_data(meta, &out, &h, 0) == 0) line.assign(whole, out.len);
    }
    dr_free_lib(lib);
    CHECK(line.rfind("[Hdr]: iNum=2 ", 0) == 0);
    const int n = static_cast<int>(line.size());
    CHECK(enc2->FormatText(kHdrId, 0, reinterpret_cast<const char *>(&hdr), sizeof hdr, nullptr, 0, &len) == S_OK &&
          len == n);
    for (int cap : {n + 1, n, 1, 0}) {
        Guarded text(cap);
        len = -1;
        const HRESULT hr = enc2->FormatText(kHdrId, 0, reinterpret_cast<const char *>(&hdr), sizeof hdr, text.data(),
                                            cap, &len);
        CHECK(text.guard_intact() && len == n);
        if (cap > n)
            CHECK(hr == S_OK && line == text.data());
        else
            expect_failure(hr, kTooSmall, "the text needs " + std::to_string(n + 1) + " bytes", __LINE__);
    }
    CHECK(enc2->FormatXml(kHdrId, 0, reinterpret_cast<const char *>(&hdr), sizeof hdr, nullptr, 0, &len) == S_OK &&
          len > n);

    group("IMyEncoder2 failures");
    SampleHost over = sample;
    over.c = 11;
    char net[64];
    expect_failure(enc2->Encode(kSampleId, 0, reinterpret_cast<const char *>(&over), sizeof over, net, 64, &len),
                   TAV_E_COUNT, "Sample: a count member holds a negative count or one above the declared count",
                   __LINE__);
    expect_failure(enc2->Encode(kSampleId, kTypeVersion - 1, host, sizeof sample, net, 64, &len), TAV_E_VERSION,
                   "older than the record type", __LINE__);
    SampleHost out;
    int used = -1;
    expect_failure(enc2->Decode(kSampleId, 0, reinterpret_cast<const char *>(kSampleNet), 5,
                                reinterpret_cast<char *>(&out), sizeof out, &used),
                   TAV_E_NET_END, "the network buffer ends before the record does at network offset 2", __LINE__);
    expect_failure(enc2->Encode(kMissingId, 0, host, sizeof sample, net, 64, &len), TAV_E_UNKNOWN_TYPE,
                   "the typelib has no type with id 7", __LINE__);
    expect_failure(enc2->HostToNet(kMissingId, net, &len, host, 0), S_FALSE, "no type with id 7", __LINE__);
    TavTypeInfo info{};
    CHECK(enc2->FindTypeByName("Hdr", &info) == S_OK && info.iDataTypeId == kHdrId &&
          info.iHostSize == static_cast<int>(sizeof(HdrHost)));
    expect_failure(enc2->FindTypeById(kMissingId, &info), TAV_E_UNKNOWN_TYPE, "no type with id 7", __LINE__);
    expect_failure(enc2->LoadTypelib("missing.tlb"), TAV_E_OPEN, "missing.tlb", __LINE__);
    CHECK(enc2->FindTypeById(kSampleId, &info) == S_OK);  // the typelib loaded before stays
    CHECK(enc2->Encode(kSampleId, 0, nullptr, 60, net, 64, &len) == E_INVALIDARG);
    CHECK(enc2->Encode(kSampleId, 0, host, -1, net, 64, &len) == E_INVALIDARG);
    (void)take_error();

    group("IMyEncoder2 README example");
    std::vector<char> bytes;
    CHECK(encode_record(enc2, kSampleId, &sample, sizeof sample, bytes) && bytes.size() == 17 &&
          std::memcmp(bytes.data(), kSampleNet, 17) == 0);
    CHECK(!encode_record(enc2, kSampleId, &over, sizeof over, bytes));
    expect_no_box(__LINE__);

    group("IMyEncoder2 threads");
    ThreadWork work[4];
    HANDLE threads[4];
    for (int t = 0; t < 4; ++t) {
        work[t] = ThreadWork{enc2, t, 0};
        threads[t] = CreateThread(nullptr, 0, hammer, &work[t], 0, nullptr);
        CHECK(threads[t] != nullptr);
    }
    for (HANDLE h : threads)
        if (h != nullptr) {
            CHECK(WaitForSingleObject(h, 60000) == WAIT_OBJECT_0);
            CloseHandle(h);
        }
    for (const ThreadWork &w : work) CHECK(w.wrong == 0);
    expect_no_box(__LINE__);
    CHECK(enc2->Release() == 1);
}

using ServerFn = HRESULT(STDMETHODCALLTYPE *)();

// An export of the DLL as a function of type Fn (through the one cast GCC lets pass).
template <class Fn>
Fn export_of(HMODULE dll, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

#define CLASS_KEY "CLSID\\{27F49156-6D05-4750-946C-D075DCF4FE44}"

// The registration as regsvr32 left it, and a class that CLSIDFromProgID finds.
void check_registered(int line) {
    check(registry_text(TAV_ENCODER_PROGID "\\CLSID") == "{27F49156-6D05-4750-946C-D075DCF4FE44}",
          "ProgID names the CLSID", line);
    const std::string server = registry_text(CLASS_KEY "\\InprocServer32");
    check(server.size() > 15 && lstrcmpiA(server.c_str() + server.size() - 15, "\\TavEncoder.dll") == 0,
          "InprocServer32 is TavEncoder.dll", line);
    check(registry_text(CLASS_KEY "\\InprocServer32", "ThreadingModel") == "Both", "ThreadingModel is Both", line);
    check(registry_text(CLASS_KEY "\\ProgID") == TAV_ENCODER_PROGID, "CLSID names the ProgID", line);
    CLSID clsid{};
    check(CLSIDFromProgID(L"TavEncoder.MyEncoder", &clsid) == S_OK && IsEqualCLSID(clsid, CLSID_MyEncoder),
          "CLSIDFromProgID finds the class", line);
}

// No key of the registration is left, and COM neither finds nor creates the class.
void check_unregistered(int line) {
    check(!registry_has(TAV_ENCODER_PROGID) && !registry_has(CLASS_KEY), "no key of the registration left", line);
    CLSID clsid{};
    check(FAILED(CLSIDFromProgID(L"TavEncoder.MyEncoder", &clsid)), "CLSIDFromProgID fails", line);
    IMyEncoder *none = nullptr;
    check(CoCreateInstance(CLSID_MyEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IMyEncoder,
                           reinterpret_cast<void **>(&none)) == REGDB_E_CLASSNOTREG && none == nullptr,
          "CoCreateInstance answers class not registered", line);
}

void run(HMODULE &dll) {
    group("Registration");
    check_registered(__LINE__);
    const std::string server = registry_text(CLASS_KEY "\\InprocServer32");
    CLSID clsid{};
    CHECK(CLSIDFromProgID(L"TavEncoder.MyEncoder", &clsid) == S_OK);

    group("Creation");
    IMyEncoder *enc = nullptr;
    CHECK(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMyEncoder, reinterpret_cast<void **>(&enc)) ==
          S_OK);
    if (enc == nullptr) return;
    dll = GetModuleHandleA("TavEncoder.dll");
    CHECK(dll != nullptr);
    char loaded[MAX_PATH] = {};
    GetModuleFileNameA(dll, loaded, sizeof loaded);
    CHECK(lstrcmpiA(loaded, server.c_str()) == 0);  // the object came from the registered file
    const auto can_unload = export_of<ServerFn>(dll, "DllCanUnloadNow");
    CHECK(can_unload != nullptr && can_unload() == S_FALSE);
    void *out = &out;
    CHECK(enc->QueryInterface(IID_IDispatch, &out) == E_NOINTERFACE && out == nullptr);
    CHECK(enc->QueryInterface(IID_IUnknown, &out) == S_OK && out == enc);
    if (out == enc) static_cast<IUnknown *>(out)->Release();

    group("LoadLib");
    const std::string image = "client_sample.tlb";
    CHECK(dr_save_lib_file(drtest::build(sample_lib()).lib(), image.c_str()) == 0);
    CHECK(enc->LoadLib("missing.tlb") == S_FALSE);
    expect_no_box(__LINE__);
    CHECK(enc->LoadLib(image.c_str()) == S_OK);

    group("HostToNet");
    const SampleHost sample = sample_record();
    char net[64];
    std::memset(net, 0xEE, sizeof net);
    int len = -1;
    CHECK(enc->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&sample), 0) == S_OK);
    CHECK(len == 17 && std::memcmp(net, kSampleNet, 17) == 0 && net[17] == '\xEE');
    // Every encoder failure answers 1, with the bytes written so far.
    CHECK(enc->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&sample), kTypeVersion - 1) == S_FALSE);
    CHECK(len == 0);
    SampleHost over = sample;
    over.c = 11;  // above the array's bound of 10
    CHECK(enc->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&over), 0) == S_FALSE);
    CHECK(len == 2);
    expect_no_box(__LINE__);

    group("NetToHost");
    SampleHost back{};
    CHECK(enc->NetToHost(kSampleId, reinterpret_cast<char *>(&back), reinterpret_cast<const char *>(kSampleNet),
                         sizeof kSampleNet, 0) == S_OK);
    CHECK(back.c == 2 && back.v[0] == 1 && back.v[1] == 2 && back.v[2] == 0 && std::strcmp(back.s, "ab") == 0);
    SampleHost part{};
    // Cut network bytes answer 1; the host record keeps what was decoded.
    CHECK(enc->NetToHost(kSampleId, reinterpret_cast<char *>(&part), reinterpret_cast<const char *>(kSampleNet), 5,
                         0) == S_FALSE);
    CHECK(part.c == 2 && part.v[0] == 0);
    for (int cut : {0, 16, -1})
        CHECK(enc->NetToHost(kSampleId, reinterpret_cast<char *>(&part), reinterpret_cast<const char *>(kSampleNet),
                             cut, 0) == S_FALSE);
    expect_no_box(__LINE__);

    group("PrintToFile");
    const HdrHost hdr = hdr_record();
    std::string expected = kHdrText;  // the file is written in text mode: CR LF ends the line
    expected.insert(expected.size() - 1, "\r");
    CHECK(enc->PrintToFile("client_hdr.txt", kHdrId, reinterpret_cast<const char *>(&hdr), 0) == S_OK);
    CHECK(read_bytes("client_hdr.txt") == expected);
    CHECK(enc->PrintToFile("client_hdr.txt", kHdrId, reinterpret_cast<const char *>(&hdr), kTypeVersion - 1) == S_FALSE);
    CHECK(read_bytes("client_hdr.txt").empty());
    CHECK(enc->PrintToFile("no-such-dir\\out.txt", kHdrId, reinterpret_cast<const char *>(&hdr), 0) == S_FALSE);
    expect_no_box(__LINE__);

    run_encoder2(enc);

    group("ErrorBox");
    len = -77;
    std::memset(net, 0x5A, sizeof net);
    CHECK(enc->HostToNet(kMissingId, net, &len, reinterpret_cast<const char *>(&sample), 0) == S_FALSE);
    expect_box("7", __LINE__);
    CHECK(len == -77 && net[0] == 0x5A);
    CHECK(enc->NetToHost(-3, reinterpret_cast<char *>(&back), reinterpret_cast<const char *>(kSampleNet), 17, 0) ==
          S_FALSE);
    expect_box("-3", __LINE__);
    CHECK(enc->PrintToFile("client_hdr.txt", kMissingId, reinterpret_cast<const char *>(&hdr), 0) == S_FALSE);
    expect_box("7", __LINE__);
    CHECK(enc->PrintToFile("client_hdr.txt", kHdrId, reinterpret_cast<const char *>(&hdr), 0) == S_OK);
    CHECK(enc->PrintToFile("client_hdr.txt", kMissingId, reinterpret_cast<const char *>(&hdr), 0) == S_FALSE);
    expect_box("7", __LINE__);
    CHECK(read_bytes("client_hdr.txt") == expected);  // untouched by the failed call
    // A failed load leaves no library: a type of the earlier one is now unknown.
    CHECK(enc->LoadLib("missing.tlb") == S_FALSE);
    expect_no_box(__LINE__);
    CHECK(enc->HostToNet(kSampleId, net, &len, reinterpret_cast<const char *>(&sample), 0) == S_FALSE);
    expect_box("10", __LINE__);

    group("Unloading");
    IClassFactory *factory = nullptr;
    CHECK(CoGetClassObject(CLSID_MyEncoder, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                           reinterpret_cast<void **>(&factory)) == S_OK);
    if (factory != nullptr) {
        CHECK(factory->LockServer(TRUE) == S_OK);
        factory->Release();
    }
    CHECK(enc->Release() == 0);
    if (can_unload != nullptr) CHECK(can_unload() == S_FALSE);  // still locked
    if (factory != nullptr) {
        CHECK(CoGetClassObject(CLSID_MyEncoder, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void **>(&factory)) == S_OK);
        CHECK(factory->LockServer(FALSE) == S_OK);
        factory->Release();
    }
    if (can_unload != nullptr) CHECK(can_unload() == S_OK);

    group("Unregistration");
    const auto register_server = export_of<ServerFn>(dll, "DllRegisterServer");
    const auto unregister_server = export_of<ServerFn>(dll, "DllUnregisterServer");
    CHECK(register_server != nullptr && unregister_server != nullptr);
    if (register_server == nullptr || unregister_server == nullptr) return;
    const long classes = registry_subkeys("CLSID");
    CHECK(unregister_server() == S_OK);
    check_unregistered(__LINE__);
    CHECK(classes > 0 && registry_subkeys("CLSID") == classes - 1);  // only its own class went
    CHECK(unregister_server() == S_OK);                               // nothing left is no failure
    // A registry that refuses a key: under a volatile key no lasting subkey can be made, so
    // the ProgID's CLSID key cannot be written. Registration says so and leaves nothing behind.
    HKEY refusing = nullptr;
    CHECK(RegCreateKeyExA(HKEY_CLASSES_ROOT, TAV_ENCODER_PROGID, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &refusing, nullptr) == ERROR_SUCCESS);
    if (refusing != nullptr) RegCloseKey(refusing);
    CHECK(register_server() == SELFREG_E_CLASS);
    check_unregistered(__LINE__);
    CHECK(register_server() == S_OK);
    check_registered(__LINE__);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const HHOOK hook = SetWindowsHookExA(WH_CBT, cbt_hook, nullptr, GetCurrentThreadId());
    CHECK(hook != nullptr);
    CHECK(SUCCEEDED(CoInitialize(nullptr)));
    HMODULE dll = nullptr;
    run(dll);
    CoUninitialize();
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
