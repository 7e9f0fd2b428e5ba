// hdr_example.h: the Hdr record used by the rendering examples, with its host record.
#pragma once

#include "tests/support/image_builder.h"
#include "tests/support/records.h"

namespace drtest {

// Hdr { int iNum = 2; string szName[8] = "abc"; Pos stPos[count] = {(1, -2), (3, 4)};
//       int aiVal[4] (refer iNum) = 7, 8; uchar bFlag = 0x59; char cSep = 32 } in 36 bytes.
inline Lib hdr_lib(int32_t pos_count = 1) {
    Meta hdr = record("Hdr", 1, {field("iNum", "int"), field("szName", "string", 8),
                                 nested("stPos", "Pos", pos_count), field("aiVal", "int", 4).refer("iNum"),
                                 field("bFlag", "uchar"), field("cSep", "char")});
    if (pos_count == 1) hdr.datasize = 36;
    return library({hdr, record("Pos", 2, {field("nX", "short"), field("nY", "short")})});
}

inline HostRecord hdr_host(int32_t pos_count = 1) {
    const size_t shift = 4 * static_cast<size_t>(pos_count - 1);
    HostRecord host(36 + shift);
    host.put<int32_t>(0, 2).text(4, "abc").put<int16_t>(12, 1).put<int16_t>(14, -2);
    if (pos_count == 2) host.put<int16_t>(16, 3).put<int16_t>(18, 4);
    host.put<int32_t>(16 + shift, 7).put<int32_t>(20 + shift, 8).put<int32_t>(24 + shift, 9);
    host.put<uint8_t>(32 + shift, 0x59).put<char>(33 + shift, ' ');
    return host;
}

}  // namespace drtest
