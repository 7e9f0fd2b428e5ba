// error.cc: the texts of the failure codes and the one writer of a caller's DrError.
#include "dr/text/error.h"

#include <algorithm>
#include <cstring>

namespace dr {

const char *error_text(int code) {
    switch (code) {
    case DR_OK: return "";
    case DR_E_ARGUMENT: return "a required pointer is null or the output buffer has no room";
    case DR_E_OPEN: return "the file cannot be opened";
    case DR_E_READ: return "the stream cannot be read";
    case DR_E_MEMORY: return "out of memory";
    case DR_E_NOT_TYPELIB: return "no typelib mark";
    case DR_E_FORMAT_LEVEL: return "a typelib of another format level";
    case DR_E_IMAGE: return "not a sound typelib image";
    case DR_E_VERSION: return "the requested version is older than the record type";
    case DR_E_COUNT: return "a count member holds a negative count or one above the declared count";
    case DR_E_DEPTH: return "records nested deeper than the walk's 32 frames";
    case DR_E_STEPS: return "overlapping members repeat the walk past its step budget";
    case DR_E_TYPE: return "a member's unit or type reference cannot be followed";
    case DR_E_HOST_END: return "a member lies outside the host buffer";
    case DR_E_STRING: return "a string has no NUL within its capacity, or its network length is wrong";
    case DR_E_NET_END: return "the network buffer ends before the record does";
    case DR_E_LENGTH_FIELD: return "an element length field lies outside the network bytes";
    case DR_E_LENGTH_PAST: return "an element length field points past the end of the network bytes";
    case DR_E_CUT: return "the text was cut, or a value has no text form";
    default: return "unknown failure";
    }
}

int fill_error(DrError *err, int code, const char *text, int64_t net_offset, int64_t host_offset) {
    auto offset = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -1, INT32_MAX)); };
    err->code = code;
    err->net_offset = offset(net_offset);
    err->host_offset = offset(host_offset);
    const char *t = text ? text : error_text(code);
    const size_t n = std::min(std::strlen(t), sizeof err->text - 1);
    std::memcpy(err->text, t, n);
    err->text[n] = '\0';
    return code == DR_OK ? 0 : -1;
}

}  // namespace dr
