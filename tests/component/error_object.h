// error_object.h: what the component's Linux tests and its Windows client share about
// IMyEncoder2: the thread's error object, taken, and buffers with guard bytes after them.
#pragma once

#include <string>
#include <vector>

#include "component/IMyEncoder.h"

namespace tavtest {

// The thread's error object, taken: GetErrorInfo's result, description, source and GUID.
struct TakenError {
    HRESULT got = E_UNEXPECTED;
    std::string description, source;
    GUID guid{};
};

// A BSTR's text, each character narrowed to a byte (the component's texts are ASCII).
inline std::string narrow(BSTR s) {
    std::string out;
    for (UINT i = 0; s != nullptr && i < SysStringLen(s); ++i) out += static_cast<char>(s[i]);
    return out;
}

inline TakenError take_error() {
    TakenError t;
    IErrorInfo *info = nullptr;
    t.got = GetErrorInfo(0, &info);
    if (info == nullptr) return t;
    BSTR text = nullptr;
    if (info->GetDescription(&text) == S_OK) t.description = narrow(text);
    SysFreeString(text);
    text = nullptr;
    if (info->GetSource(&text) == S_OK) t.source = narrow(text);
    SysFreeString(text);
    info->GetGUID(&t.guid);
    info->Release();
    return t;
}

// n bytes followed by 16 guard bytes, all 0xA5 at first.
struct Guarded {
    static constexpr int kGuardBytes = 16;
    static constexpr char kGuard = '\xA5';
    explicit Guarded(int n) : size(n), bytes(static_cast<size_t>(n) + kGuardBytes, kGuard) {}
    char *data() { return bytes.data(); }
    bool guard_intact() const { return std::string(bytes.data() + size, kGuardBytes) == std::string(kGuardBytes, kGuard); }
    bool untouched() const { return bytes == std::vector<char>(bytes.size(), kGuard); }
    int size;
    std::vector<char> bytes;
};

}  // namespace tavtest
