// exports.cc: the three functions of an in-process server, and its registration on Windows.
#include <cstdio>
#include <cstring>

#include "component/IMyEncoder.h"
#include "component/module.h"

#ifdef _WIN32
namespace {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and its NUL.
void format_guid(REFGUID g, char (&out)[39]) {
    std::snprintf(out, sizeof out, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

// Sets value `name` (null: the key's default value) of HKEY_CLASSES_ROOT\key to text,
// creating the key. Failures are not reported: registration answers S_OK regardless.
void set_class_value(const char *key, const char *name, const char *text) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                   static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(handle);
}

// The full path of this DLL, or false when it cannot be had whole.
bool module_path(char (&path)[MAX_PATH * 2]) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&DllRegisterServer), &self))
        return false;
    const DWORD n = GetModuleFileNameA(self, path, sizeof path);
    return n > 0 && n < sizeof path;
}

// CLSID\{clsid} with the ProgID and InprocServer32, and the ProgID key with the CLSID.
void register_server() {
    char clsid[39];
    format_guid(CLSID_MyEncoder, clsid);
    char path[MAX_PATH * 2];
    const bool have_path = module_path(path);
    char key[128];
    std::snprintf(key, sizeof key, "CLSID\\%s", clsid);
    set_class_value(key, nullptr, TAV_ENCODER_PROGID);
    std::snprintf(key, sizeof key, "CLSID\\%s\\ProgID", clsid);
    set_class_value(key, nullptr, TAV_ENCODER_PROGID);
    if (have_path) {
        std::snprintf(key, sizeof key, "CLSID\\%s\\InprocServer32", clsid);
        set_class_value(key, nullptr, path);
        // Objects keep no per-thread state, so any apartment may call them directly.
        set_class_value(key, "ThreadingModel", "Both");
    }
    set_class_value(TAV_ENCODER_PROGID, nullptr, TAV_ENCODER_PROGID);
    set_class_value(TAV_ENCODER_PROGID "\\CLSID", nullptr, clsid);
}

}  // namespace
#endif  // _WIN32

extern "C" HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv) {
    return tav::get_class_object(rclsid, riid, ppv);
}

extern "C" HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return tav::module_in_use() ? S_FALSE : S_OK; }

extern "C" HRESULT STDMETHODCALLTYPE DllRegisterServer() {
#ifdef _WIN32
    register_server();
#endif
    return S_OK;
}
