// exports.cc: the four functions of an in-process server, and its registration on Windows.
#include <cstdio>
#include <cstring>

#include "component/IMyEncoder.h"
#include "component/module.h"

#ifdef _WIN32
#include <olectl.h>

namespace {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and its NUL.
void format_guid(REFGUID g, char (&out)[39]) {
    std::snprintf(out, sizeof out, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

// Sets value `name` (null: the key's default value) of HKEY_CLASSES_ROOT\key to text,
// creating the key; false when the registry refuses either step.
bool set_class_value(const char *key, const char *name, const char *text) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                                   static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
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

// The keys that registration writes under HKEY_CLASSES_ROOT, each parent before its children:
// CLSID\{clsid} with its ProgID and InprocServer32, and the ProgID key with the CLSID.
struct ServerKeys {
    enum { kClass, kClassProgId, kInproc, kProgId, kProgIdClass, kCount };
    char clsid[39];
    char names[kCount][64];

    ServerKeys() {
        format_guid(CLSID_MyEncoder, clsid);
        std::snprintf(names[kClass], sizeof names[kClass], "CLSID\\%s", clsid);
        std::snprintf(names[kClassProgId], sizeof names[kClassProgId], "CLSID\\%s\\ProgID", clsid);
        std::snprintf(names[kInproc], sizeof names[kInproc], "CLSID\\%s\\InprocServer32", clsid);
        std::snprintf(names[kProgId], sizeof names[kProgId], "%s", TAV_ENCODER_PROGID);
        std::snprintf(names[kProgIdClass], sizeof names[kProgIdClass], "%s\\CLSID", TAV_ENCODER_PROGID);
    }
};

// Removes the registration's keys, children first. A key already gone is no failure; a key
// that cannot be removed (no rights, or a subkey someone else added) is.
HRESULT unregister_server() {
    const ServerKeys keys;
    bool removed = true;
    for (int i = ServerKeys::kCount - 1; i >= 0; --i) {
        const LONG rc = RegDeleteKeyA(HKEY_CLASSES_ROOT, keys.names[i]);
        removed = removed && (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND);
    }
    return removed ? S_OK : SELFREG_E_CLASS;
}

// Writes every key; when one cannot be written, removes what was written, so that no half
// registration points COM at a class it cannot create.
HRESULT register_server() {
    const ServerKeys keys;
    char path[MAX_PATH * 2];
    bool written = module_path(path);
    const char *const texts[ServerKeys::kCount] = {TAV_ENCODER_PROGID, TAV_ENCODER_PROGID, path,
                                                   TAV_ENCODER_PROGID, keys.clsid};
    for (int i = 0; written && i < ServerKeys::kCount; ++i) written = set_class_value(keys.names[i], nullptr, texts[i]);
    // Calls from any apartment come straight in: the object guards its image itself.
    written = written && set_class_value(keys.names[ServerKeys::kInproc], "ThreadingModel", "Both");
    if (written) return S_OK;
    (void)unregister_server();
    return SELFREG_E_CLASS;
}

}  // namespace
#endif  // _WIN32

extern "C" HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv) {
    return tav::get_class_object(rclsid, riid, ppv);
}

extern "C" HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return tav::module_in_use() ? S_FALSE : S_OK; }

// Without a registry (outside Windows) there is nothing to write or remove.
extern "C" HRESULT STDMETHODCALLTYPE DllRegisterServer() {
#ifdef _WIN32
    return register_server();
#else
    return S_OK;
#endif
}

extern "C" HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
#ifdef _WIN32
    return unregister_server();
#else
    return S_OK;
#endif
}
