// com_layer.cc: libTavCom, what oleaut32 gives a Windows COM client and server: BSTRs, error
// objects and the one error object of each thread. Outside Windows only.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "component/com_layer.h"

namespace {

// A BSTR points just past a 32-bit byte count and ends with a NUL that the count leaves out.
BSTR alloc_bstr(const OLECHAR *text, size_t chars) {
    if (chars > (UINT32_MAX - sizeof(uint32_t)) / sizeof(OLECHAR) - 1) return nullptr;
    void *block = std::malloc(sizeof(uint32_t) + (chars + 1) * sizeof(OLECHAR));
    if (block == nullptr) return nullptr;
    *static_cast<uint32_t *>(block) = static_cast<uint32_t>(chars * sizeof(OLECHAR));
    BSTR s = reinterpret_cast<BSTR>(static_cast<char *>(block) + sizeof(uint32_t));
    if (text != nullptr)
        std::wmemcpy(s, text, chars);
    else
        std::wmemset(s, L'\0', chars);
    s[chars] = L'\0';
    return s;
}

uint32_t bstr_bytes(BSTR s) {
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const char *>(s) - sizeof(uint32_t), sizeof bytes);
    return bytes;
}

// A copy of text for an out-parameter (a null BSTR for none); false when memory ran out.
bool copy_out(BSTR text, BSTR *out) {
    *out = text == nullptr ? nullptr : alloc_bstr(text, bstr_bytes(text) / sizeof(OLECHAR));
    return text == nullptr || *out != nullptr;
}

// Replaces *field with a copy of text; false when memory ran out (the field is kept then).
bool replace(BSTR *field, LPOLESTR text) {
    BSTR copy = nullptr;
    if (text != nullptr && (copy = SysAllocString(text)) == nullptr) return false;
    SysFreeString(*field);
    *field = copy;
    return true;
}

// One error object: written through ICreateErrorInfo, read through IErrorInfo.
class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IErrorInfo))
            *ppv = static_cast<IErrorInfo *>(this);
        else if (IsEqualGUID(riid, IID_ICreateErrorInfo))
            *ppv = static_cast<ICreateErrorInfo *>(this);
        else
            return *ppv = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID *out) override {
        if (out == nullptr) return E_INVALIDARG;
        *out = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR *out) override { return get(source_, out); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR *out) override { return get(description_, out); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR *out) override { return get(help_file_, out); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD *out) override {
        if (out == nullptr) return E_INVALIDARG;
        *out = help_context_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return set(&source_, text); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override { return set(&description_, text); }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return set(&help_file_, text); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
        help_context_ = context;
        return S_OK;
    }

private:
    ~ErrorObject() {
        SysFreeString(source_);
        SysFreeString(description_);
        SysFreeString(help_file_);
    }
    static HRESULT get(BSTR field, BSTR *out) {
        if (out == nullptr) return E_INVALIDARG;
        return copy_out(field, out) ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT set(BSTR *field, LPOLESTR text) { return replace(field, text) ? S_OK : E_OUTOFMEMORY; }

    std::atomic<ULONG> refs_{1};
    GUID guid_{};
    BSTR source_ = nullptr, description_ = nullptr, help_file_ = nullptr;
    DWORD help_context_ = 0;
};

// The error object of this thread; released when the thread ends.
struct ThreadError {
    IErrorInfo *info = nullptr;
    ~ThreadError() {
        if (info != nullptr) info->Release();
    }
};
thread_local ThreadError t_error;

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR *psz) { return psz == nullptr ? nullptr : alloc_bstr(psz, std::wcslen(psz)); }

BSTR SysAllocStringLen(const OLECHAR *pch, UINT cch) { return alloc_bstr(pch, cch); }

void SysFreeString(BSTR bstr) {
    if (bstr != nullptr) std::free(reinterpret_cast<char *>(bstr) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR bstr) { return bstr == nullptr ? 0 : bstr_bytes(bstr) / sizeof(OLECHAR); }

HRESULT CreateErrorInfo(ICreateErrorInfo **pperrinfo) {
    if (pperrinfo == nullptr) return E_INVALIDARG;
    ErrorObject *object = new (std::nothrow) ErrorObject;
    *pperrinfo = object;
    return object == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo *perrinfo) {
    if (dwReserved != 0) return E_INVALIDARG;
    if (perrinfo != nullptr) perrinfo->AddRef();
    IErrorInfo *old = t_error.info;
    t_error.info = perrinfo;
    if (old != nullptr) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo **pperrinfo) {
    if (dwReserved != 0 || pperrinfo == nullptr) return E_INVALIDARG;
    *pperrinfo = t_error.info;  // handed over: the thread has none afterwards
    t_error.info = nullptr;
    return *pperrinfo == nullptr ? S_FALSE : S_OK;
}

}  // extern "C"
