// encode_sized.h: IMyEncoder2 in use: sizes a record's network form, encodes it into a
// buffer of that size and, on failure, prints the component's reason.
#include <cstdio>
#include <vector>

#include "IMyEncoder.h"

inline bool encode_record(IMyEncoder2 *enc, int typeId, const void *record, int recordSize,
                          std::vector<char> &net) {
    int len = 0;
    // No buffer and capacity 0: only the size of the network form.
    HRESULT hr = enc->Encode(typeId, 0, (const char *)record, recordSize, nullptr, 0, &len);
    if (SUCCEEDED(hr)) {
        net.resize(len);
        hr = enc->Encode(typeId, 0, (const char *)record, recordSize, net.data(), len, &len);
    }
    if (FAILED(hr)) {
        IErrorInfo *info = nullptr;
        BSTR why = nullptr;
        if (GetErrorInfo(0, &info) == S_OK && info->GetDescription(&why) == S_OK)
            std::fprintf(stderr, "encode failed, 0x%08X: %ls\n", (unsigned)hr, why);
        SysFreeString(why);
        if (info != nullptr) info->Release();
    }
    return SUCCEEDED(hr);
}
