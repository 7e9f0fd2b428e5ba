// sample_types.h: the typelib, host records and expected results shared by the component's
// Linux tests and its Windows client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tests/support/image_builder.h"

namespace tavtest {

inline constexpr int kSampleId = 10;   // Sample: a count, an array it counts, a string
inline constexpr int kHdrId = 20;      // Hdr: scalars, a string and a nested Pos
inline constexpr int kPosId = 21;
inline constexpr int kOtherId = 30;    // only in other_lib()
inline constexpr int kMissingId = 7;   // in neither library
inline constexpr int kTypeVersion = 2; // Sample and Hdr refuse callers speaking version 1

struct SampleHost {
    int16_t c;
    int16_t pad;
    int32_t v[10];
    char s[16];
};
static_assert(offsetof(SampleHost, v) == 4 && offsetof(SampleHost, s) == 44 && sizeof(SampleHost) == 60);

struct PosHost {
    int16_t nX, nY;
};

struct HdrHost {
    int32_t iNum;
    char szName[8];
    PosHost stPos;
    int32_t aiVal[4];
    uint8_t bFlag;
    char cSep;
    char pad[2];
};
static_assert(offsetof(HdrHost, stPos) == 12 && offsetof(HdrHost, aiVal) == 16 &&
              offsetof(HdrHost, bFlag) == 32 && offsetof(HdrHost, cSep) == 33 && sizeof(HdrHost) == 36);

inline drtest::Lib sample_lib() {
    using drtest::field;
    drtest::Lib lib;
    lib.name = "component";
    drtest::Meta sample = drtest::record(
        "Sample", kSampleId,
        {field("c", "short").at(0), field("v", "int", 10).at(4).refer("c"), field("s", "string", 16).at(44)});
    sample.version = kTypeVersion;
    drtest::Meta pos = drtest::record("Pos", kPosId, {field("nX", "short").at(0), field("nY", "short").at(2)});
    drtest::Meta hdr = drtest::record("Hdr", kHdrId,
                                      {field("iNum", "int").at(0), field("szName", "string", 8).at(4),
                                       drtest::nested("stPos", "Pos").at(12),
                                       field("aiVal", "int", 4).at(16).refer("iNum"),
                                       field("bFlag", "uchar").at(32), field("cSep", "char").at(33)});
    hdr.version = kTypeVersion;
    hdr.datasize = sizeof(HdrHost);
    lib.metas = {sample, pos, hdr};
    return lib;
}

inline drtest::Lib other_lib() {
    drtest::Lib lib;
    lib.name = "other";
    lib.metas = {drtest::record("Other", kOtherId, {drtest::field("b", "uchar", 3).at(0)})};
    return lib;
}

// c = 2, v = 1, 2, 3, ..., s = "ab".
inline SampleHost sample_record() {
    SampleHost h{};
    h.c = 2;
    for (int k = 0; k < 10; ++k) h.v[k] = k + 1;
    std::strcpy(h.s, "ab");
    return h;
}

// Its network form: c, the two counted values, the string with its length and NUL.
inline constexpr unsigned char kSampleNet[17] = {0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                                 0x02, 0x00, 0x00, 0x00, 0x03, 0x61, 0x62, 0x00};

inline HdrHost hdr_record() {
    HdrHost h{};
    h.iNum = 2;
    std::strcpy(h.szName, "abc");
    h.stPos = {1, -2};
    h.aiVal[0] = 7;
    h.aiVal[1] = 8;
    h.aiVal[2] = 9;
    h.aiVal[3] = 10;
    h.bFlag = 0x59;
    h.cSep = ' ';
    return h;
}

// Its text rendering, 77 bytes: nested members flattened, only the counted values shown.
inline constexpr char kHdrText[] =
    "[Hdr]: iNum=2  szName=\"abc\" nX=1  nY=-2  aiVal[2]=7 8  bFlag=59[Y]  cSep=32 \n";
static_assert(sizeof kHdrText - 1 == 77);

}  // namespace tavtest
