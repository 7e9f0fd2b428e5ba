// error_box.cc: the one message the component shows: a type id the loaded typelib lacks.
#include <cstdio>

#include "component/module.h"

namespace tav {

#ifdef _WIN32

// "dr_meta_by_id 失败！iDataTypeId = %d" in code page 936 (GBK) bytes.
static const char kLookupFailed[] = "dr_meta_by_id \xCA\xA7\xB0\xDC\xA3\xA1" "iDataTypeId = %d";

void show_lookup_error(int iDataTypeId) {
    char text[64];
    std::snprintf(text, sizeof text, kLookupFailed, iDataTypeId);
    // Modal; returns when the user dismisses it. Style 16: the stop icon and one OK button.
    MessageBoxA(GetActiveWindow(), text, "TavEncoder", MB_ICONHAND | MB_OK);
}

#else

// The same text in UTF-8, as one line.
static const char kLookupFailed[] = "dr_meta_by_id \xE5\xA4\xB1\xE8\xB4\xA5\xEF\xBC\x81" "iDataTypeId = %d\n";

void show_lookup_error(int iDataTypeId) {
    char text[64];
    std::snprintf(text, sizeof text, kLookupFailed, iDataTypeId);
    std::fputs(text, stderr);
}

#endif

}  // namespace tav
