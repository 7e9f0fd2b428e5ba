// error_info.cc: the reasons of failed calls and the COM error object that carries them.
#include <cstdarg>
#include <cstdio>

#include "component/IMyEncoder.h"
#include "component/module.h"

namespace tav {

// Each library reason has its own FACILITY_ITF code, 0x200 + its number: the header's list
// must hold every reason, in the library's order.
constexpr HRESULT kReasonCodes[] = {TAV_E_ARGUMENT, TAV_E_OPEN,   TAV_E_READ,    TAV_E_MEMORY,       TAV_E_NOT_TYPELIB,
                                    TAV_E_FORMAT_LEVEL, TAV_E_IMAGE, TAV_E_VERSION, TAV_E_COUNT,  TAV_E_DEPTH,
                                    TAV_E_STEPS,    TAV_E_TYPE,   TAV_E_HOST_END, TAV_E_STRING,      TAV_E_NET_END,
                                    TAV_E_LENGTH_FIELD, TAV_E_LENGTH_PAST, TAV_E_CUT};
constexpr bool codes_follow_reasons() {
    for (int i = 0; i < DR_E_CUT; ++i)
        if (kReasonCodes[i] != MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x200 + DR_E_ARGUMENT + i)) return false;
    return true;
}
static_assert(sizeof kReasonCodes / sizeof kReasonCodes[0] == DR_E_CUT && codes_follow_reasons(),
              "one TAV_E_ code per DR_E_ reason, in order");

HRESULT Reason::fail(HRESULT hr, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return hr;
}

HRESULT Reason::fail(const DrError &err, const char *what) {
    const int code = err.code > DR_OK && err.code <= DR_E_CUT ? err.code : DR_E_ARGUMENT;
    char where[80] = "";
    if (err.net_offset >= 0 && err.host_offset >= 0)
        std::snprintf(where, sizeof where, " at network offset %d, host offset %d", err.net_offset, err.host_offset);
    else if (err.net_offset >= 0)
        std::snprintf(where, sizeof where, " at network offset %d", err.net_offset);
    else if (err.host_offset >= 0)
        std::snprintf(where, sizeof where, " at host offset %d", err.host_offset);
    return fail(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x200 + code), "%.160s: %s%s", what, err.text, where);
}

void set_error_info(const Reason &why) {
    // The description is the narrow text widened: the system code page on Windows, each
    // byte as one character elsewhere.
    OLECHAR wide[sizeof why.text];
#ifdef _WIN32
    if (MultiByteToWideChar(CP_ACP, 0, why.text, -1, wide, static_cast<int>(sizeof why.text)) == 0) wide[0] = 0;
#else
    size_t n = 0;
    for (; why.text[n] != '\0'; ++n) wide[n] = static_cast<unsigned char>(why.text[n]);
    wide[n] = 0;
#endif
    OLECHAR source[] = {'T', 'a', 'v', 'E', 'n', 'c', 'o', 'd', 'e', 'r', '.', 'M', 'y', 'E', 'n', 'c', 'o', 'd', 'e', 'r', 0};
    ICreateErrorInfo *create = nullptr;
    if (FAILED(CreateErrorInfo(&create)) || create == nullptr) return;
    create->SetGUID(IID_IMyEncoder2);
    create->SetSource(source);
    create->SetDescription(wide);
    IErrorInfo *info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info))) && info != nullptr) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

}  // namespace tav
