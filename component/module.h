// module.h: what the component's pieces share: the server's lock count, the class factory,
// the lookup error box and the reference-counted base of its COM objects.
#pragma once

#include <atomic>

#include "component/com_layer.h"

namespace tav {

// One more (or one less) reason to keep the server loaded: a live object or a client lock.
void lock_module();
void unlock_module();
// True while an object lives, a client holds a lock or a class factory reference is out.
bool module_in_use();

// Hands out the class factory of CLSID_MyEncoder (what DllGetClassObject answers).
[[nodiscard]] HRESULT get_class_object(REFCLSID rclsid, REFIID riid, void **ppv);

// Tells the user that the loaded typelib has no type iDataTypeId: a modal error box on
// Windows, one line on standard error elsewhere.
void show_lookup_error(int iDataTypeId);

// Reference counting and the interface map of a COM object. The count starts at 1, the
// reference of whoever created the object; the last release calls OnFinalRelease.
class ComTarget {
public:
    ComTarget(const ComTarget &) = delete;
    ComTarget &operator=(const ComTarget &) = delete;

    ULONG ExternalAddRef() { return ++m_dwRef; }
    ULONG ExternalRelease() {
        const ULONG left = --m_dwRef;
        if (left == 0) OnFinalRelease();
        return left;
    }
    [[nodiscard]] HRESULT ExternalQueryInterface(REFIID riid, void **ppvObject) {
        if (ppvObject == nullptr) return E_POINTER;
        IUnknown *found = GetInterface(riid);
        *ppvObject = found;
        if (found == nullptr) return E_NOINTERFACE;
        ExternalAddRef();
        return S_OK;
    }

protected:
    ComTarget() = default;
    virtual ~ComTarget() = default;
    // The interface map: the interface part answering riid, or null.
    virtual IUnknown *GetInterface(REFIID riid) = 0;
    virtual void OnFinalRelease() = 0;

private:
    std::atomic<ULONG> m_dwRef{1};
};

}  // namespace tav
