// com_layer.h: the COM types the component is written against: the system's own on Windows,
// a minimal binary-compatible set elsewhere (same GUID layout, same vtable order).
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#define TAV_EXPORT

#else  // !_WIN32

#include <cstdint>
#include <cstring>

// The layout of a Windows GUID: a 32-bit, two 16-bit fields and eight bytes, 16 bytes in all.
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID &;
using REFIID = const IID &;
using REFCLSID = const CLSID &;
using HRESULT = int32_t;
using ULONG = uint32_t;
using BOOL = int;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
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

// The Windows calling convention has no counterpart here; the names stay so that
// interface declarations read the same on both systems.
#define STDMETHODCALLTYPE
#define TAV_EXPORT __attribute__((visibility("default")))

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

#endif  // _WIN32

// The four functions an in-process server exports, with C linkage and the COM convention.
extern "C" {
TAV_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv);
TAV_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow();
TAV_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer();
TAV_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer();
}
