// factory.cc: the class factory of CMyEncoder and the counts that keep the server loaded.
#include <new>

#include "component/encoder.h"
#include "component/module.h"

namespace tav {
namespace {

// Decrements a count that a misbehaving client might try to take below zero.
template <class T>
T decrement_to_zero(std::atomic<T> &count) {
    T now = count.load();
    while (now > 0 && !count.compare_exchange_weak(now, now - 1)) {
    }
    return now > 0 ? now - 1 : 0;
}

std::atomic<long> g_locks{0};  // live objects plus client locks

// One static factory for the module's one class. Its references are counted so that the
// server stays loaded while a client holds it; it is never deleted.
class EncoderFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *ppvObject = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return decrement_to_zero(m_refs); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        CMyEncoder *object = new (std::nothrow) CMyEncoder;
        if (object == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = object->m_xMyEncoder.QueryInterface(riid, ppvObject);
        object->m_xMyEncoder.Release();  // the creation reference; deletes the object if hr failed
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
        if (fLock)
            lock_module();
        else
            unlock_module();
        return S_OK;
    }

    bool referenced() const { return m_refs.load() > 0; }

private:
    std::atomic<ULONG> m_refs{0};
};

EncoderFactory g_factory;

}  // namespace

void lock_module() { ++g_locks; }

void unlock_module() { decrement_to_zero(g_locks); }

bool module_in_use() { return g_locks.load() > 0 || g_factory.referenced(); }

HRESULT get_class_object(REFCLSID rclsid, REFIID riid, void **ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(rclsid, CLSID_MyEncoder)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

}  // namespace tav
