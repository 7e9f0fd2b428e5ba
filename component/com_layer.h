/* com_layer.h: the COM types the component is written against: the system's own on Windows,
 * a minimal binary-compatible set elsewhere (same GUID layout, same vtable order). Usable from
 * C and C++ alike: C++ sees interfaces as abstract classes, C as structs whose first member
 * lpVtbl points at a table of functions taking the interface pointer first, as COM headers do. */
#ifndef TAV_COM_LAYER_H
#define TAV_COM_LAYER_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <unknwn.h>
#include <oleauto.h>

#define TAV_EXPORT

#else /* !_WIN32 */

#include <stddef.h>
#include <stdint.h>
#include <string.h>

/* The layout of a Windows GUID: a 32-bit, two 16-bit fields and eight bytes, 16 bytes in all. */
typedef struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef int32_t HRESULT;
typedef uint32_t ULONG;
typedef int BOOL;

/* The Windows calling convention has no counterpart here; the names stay so that
   interface declarations read the same on both systems. */
#define STDMETHODCALLTYPE
#define TAV_EXPORT __attribute__((visibility("default")))

/* Text of error objects: wide characters, as on Windows (wchar_t is 32 bits here). A BSTR
   carries its length before its first character and is released with SysFreeString. */
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef wchar_t OLECHAR;
typedef OLECHAR *BSTR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;

/* HRESULT: severity bit 31, facility in bits 16-26, code in bits 0-15. */
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define SEVERITY_ERROR 1
#define FACILITY_ITF 4
#define FACILITY_WIN32 7
#define MAKE_HRESULT(sev, fac, code) \
    ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code) & 0xFFFFu)))
#define ERROR_INSUFFICIENT_BUFFER 122
#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? (HRESULT)(x) : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, (x)))
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFu)

#ifdef __cplusplus

static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

using REFGUID = const GUID &;
using REFIID = const IID &;
using REFCLSID = const CLSID &;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Interfaces declare no destructor: a virtual one would add vtable slots.
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IClassFactory : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

// Error objects: why the last call on this thread failed.
inline constexpr IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

struct IErrorInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID *pGUID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR *pBstrSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR *pBstrDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR *pBstrHelpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD *pdwHelpContext) = 0;
};

struct ICreateErrorInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) = 0;
};

struct ISupportErrorInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

#else /* C */

typedef const GUID *REFGUID;
typedef const IID *REFIID;
typedef const CLSID *REFCLSID;

#define IsEqualGUID(a, b) (memcmp((a), (b), sizeof(GUID)) == 0)
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111u)

static const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

typedef struct IUnknown IUnknown;
typedef struct IUnknownVtbl {
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(IUnknown *This, REFIID riid, void **ppvObject);
    ULONG(STDMETHODCALLTYPE *AddRef)(IUnknown *This);
    ULONG(STDMETHODCALLTYPE *Release)(IUnknown *This);
} IUnknownVtbl;
struct IUnknown {
    const IUnknownVtbl *lpVtbl;
};

typedef struct IClassFactory IClassFactory;
typedef struct IClassFactoryVtbl {
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(IClassFactory *This, REFIID riid, void **ppvObject);
    ULONG(STDMETHODCALLTYPE *AddRef)(IClassFactory *This);
    ULONG(STDMETHODCALLTYPE *Release)(IClassFactory *This);
    HRESULT(STDMETHODCALLTYPE *CreateInstance)(IClassFactory *This, IUnknown *pUnkOuter, REFIID riid,
                                               void **ppvObject);
    HRESULT(STDMETHODCALLTYPE *LockServer)(IClassFactory *This, BOOL fLock);
} IClassFactoryVtbl;
struct IClassFactory {
    const IClassFactoryVtbl *lpVtbl;
};

static const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
static const IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
static const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

typedef struct IErrorInfo IErrorInfo;
typedef struct IErrorInfoVtbl {
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(IErrorInfo *This, REFIID riid, void **ppvObject);
    ULONG(STDMETHODCALLTYPE *AddRef)(IErrorInfo *This);
    ULONG(STDMETHODCALLTYPE *Release)(IErrorInfo *This);
    HRESULT(STDMETHODCALLTYPE *GetGUID)(IErrorInfo *This, GUID *pGUID);
    HRESULT(STDMETHODCALLTYPE *GetSource)(IErrorInfo *This, BSTR *pBstrSource);
    HRESULT(STDMETHODCALLTYPE *GetDescription)(IErrorInfo *This, BSTR *pBstrDescription);
    HRESULT(STDMETHODCALLTYPE *GetHelpFile)(IErrorInfo *This, BSTR *pBstrHelpFile);
    HRESULT(STDMETHODCALLTYPE *GetHelpContext)(IErrorInfo *This, DWORD *pdwHelpContext);
} IErrorInfoVtbl;
struct IErrorInfo {
    const IErrorInfoVtbl *lpVtbl;
};

typedef struct ICreateErrorInfo ICreateErrorInfo;
typedef struct ICreateErrorInfoVtbl {
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(ICreateErrorInfo *This, REFIID riid, void **ppvObject);
    ULONG(STDMETHODCALLTYPE *AddRef)(ICreateErrorInfo *This);
    ULONG(STDMETHODCALLTYPE *Release)(ICreateErrorInfo *This);
    HRESULT(STDMETHODCALLTYPE *SetGUID)(ICreateErrorInfo *This, REFGUID rguid);
    HRESULT(STDMETHODCALLTYPE *SetSource)(ICreateErrorInfo *This, LPOLESTR szSource);
    HRESULT(STDMETHODCALLTYPE *SetDescription)(ICreateErrorInfo *This, LPOLESTR szDescription);
    HRESULT(STDMETHODCALLTYPE *SetHelpFile)(ICreateErrorInfo *This, LPOLESTR szHelpFile);
    HRESULT(STDMETHODCALLTYPE *SetHelpContext)(ICreateErrorInfo *This, DWORD dwHelpContext);
} ICreateErrorInfoVtbl;
struct ICreateErrorInfo {
    const ICreateErrorInfoVtbl *lpVtbl;
};

typedef struct ISupportErrorInfo ISupportErrorInfo;
typedef struct ISupportErrorInfoVtbl {
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(ISupportErrorInfo *This, REFIID riid, void **ppvObject);
    ULONG(STDMETHODCALLTYPE *AddRef)(ISupportErrorInfo *This);
    ULONG(STDMETHODCALLTYPE *Release)(ISupportErrorInfo *This);
    HRESULT(STDMETHODCALLTYPE *InterfaceSupportsErrorInfo)(ISupportErrorInfo *This, REFIID riid);
} ISupportErrorInfoVtbl;
struct ISupportErrorInfo {
    const ISupportErrorInfoVtbl *lpVtbl;
};

#endif /* __cplusplus */

/* The error object calls and the BSTR allocator, from libTavCom (oleaut32 on Windows): one
   error object per thread, set by a failing call and taken by GetErrorInfo. */
#define TAV_COM_API __attribute__((visibility("default")))
#ifdef __cplusplus
extern "C" {
#endif
TAV_COM_API BSTR SysAllocString(const OLECHAR *psz);
TAV_COM_API BSTR SysAllocStringLen(const OLECHAR *pch, UINT cch);
TAV_COM_API void SysFreeString(BSTR bstr);
TAV_COM_API UINT SysStringLen(BSTR bstr);
TAV_COM_API HRESULT CreateErrorInfo(ICreateErrorInfo **pperrinfo);
TAV_COM_API HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo *perrinfo);
TAV_COM_API HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo **pperrinfo);
#ifdef __cplusplus
}
#endif

#endif /* _WIN32 */

/* The four functions an in-process server exports, with C linkage and the COM convention. */
#ifdef __cplusplus
extern "C" {
#endif
TAV_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv);
TAV_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow(void);
TAV_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer(void);
TAV_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer(void);
#ifdef __cplusplus
}
#endif

#endif /* TAV_COM_LAYER_H */
