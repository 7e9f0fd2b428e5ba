// module.h: what the component's pieces share: the server's lock count, the class factory,
// the lookup error box and the reference-counted base of its COM objects.
#pragma once

#include <atomic>
#ifndef _WIN32
#include <shared_mutex>
#endif

#include "component/com_layer.h"
#include "dr/dr.h"

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

// Why a call failed: one line, filled by the call, reported by the interface it came through.
struct Reason {
    char text[512] = "";
    // Sets the text from a printf format and answers hr.
    HRESULT fail(HRESULT hr, const char *format, ...);
    // Sets the text from the library's reason, after `what` (a type or file name), with the
    // offsets that apply, and answers the reason's TAV_E_ code.
    HRESULT fail(const DrError &err, const char *what);
};
// The thread's error object becomes one with this description, the ProgID as its source and
// IID_IMyEncoder2 as its GUID (left unchanged when the object cannot be made).
void set_error_info(const Reason &why);

// A reader-writer lock: many readers at once, or one writer. The system's slim lock on
// Windows (the mingw runtime's default thread model has no std::shared_mutex).
class SharedLock {
public:
#ifdef _WIN32
    void lock() { AcquireSRWLockExclusive(&m_lock); }
    void unlock() { ReleaseSRWLockExclusive(&m_lock); }
    void lock_shared() { AcquireSRWLockShared(&m_lock); }
    void unlock_shared() { ReleaseSRWLockShared(&m_lock); }

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
#else
    void lock() { m_lock.lock(); }
    void unlock() { m_lock.unlock(); }
    void lock_shared() { m_lock.lock_shared(); }
    void unlock_shared() { m_lock.unlock_shared(); }

private:
    std::shared_mutex m_lock;
#endif
};

// Holds a SharedLock for one scope, shared (reading) or alone (writing).
template <bool kShared>
class LockScope {
public:
    explicit LockScope(SharedLock &lock) : m_lock(lock) {
        if constexpr (kShared) m_lock.lock_shared(); else m_lock.lock();
    }
    ~LockScope() {
        if constexpr (kShared) m_lock.unlock_shared(); else m_lock.unlock();
    }
    LockScope(const LockScope &) = delete;
    LockScope &operator=(const LockScope &) = delete;

private:
    SharedLock &m_lock;
};
using ReadScope = LockScope<true>;
using WriteScope = LockScope<false>;

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
