/* IMyEncoder.h: the client's view of the TavEncoder component: its interface and identifiers,
 * for C++ (an abstract class) and for C (a struct whose lpVtbl points at the method table; call
 * enc->lpVtbl->HostToNet(enc, ...)).
 *
 * Every method returns 0 (S_OK) on success and 1 (S_FALSE) on failure, a failure of the codec
 * or the renderer included; FAILED() does not catch S_FALSE, so compare the result with S_OK.
 * A type id that the loaded typelib lacks shows an error box (Windows) or writes one line to
 * standard error (elsewhere) and returns 1. iVersion is the version of the record type the
 * caller speaks; 0 means the newest. The component does not know the sizes of the caller's
 * buffers: each must hold the whole record in the form concerned. */
#ifndef TAV_IMYENCODER_H
#define TAV_IMYENCODER_H

#include "com_layer.h"

#define TAV_ENCODER_PROGID "TavEncoder.MyEncoder"

#ifdef __cplusplus

// {27F49156-6D05-4750-946C-D075DCF4FE44}
inline constexpr CLSID CLSID_MyEncoder = {
    0x27F49156, 0x6D05, 0x4750, {0x94, 0x6C, 0xD0, 0x75, 0xDC, 0xF4, 0xFE, 0x44}};
// {EEBC1D40-9048-48A4-B2E2-814B4F38229A}
inline constexpr IID IID_IMyEncoder = {
    0xEEBC1D40, 0x9048, 0x48A4, {0xB2, 0xE2, 0x81, 0x4B, 0x4F, 0x38, 0x22, 0x9A}};

struct IMyEncoder : public IUnknown {
    // Releases the typelib held so far, then loads pszLibFile; 1 leaves no typelib loaded.
    virtual HRESULT STDMETHODCALLTYPE LoadLib(const char *pszLibFile) = 0;
    // Encodes the host record; *piNetLen receives the number of network bytes written, on
    // failure too (0 when iVersion is older than the record type).
    virtual HRESULT STDMETHODCALLTYPE HostToNet(int iDataTypeId, char *pNetBuf, int *piNetLen,
                                                const char *pHostBuf, int iVersion) = 0;
    // Decodes iNetLen network bytes into the host record; 1 when they are cut or unsound, the
    // host record then holding what was decoded before the decoder stopped.
    virtual HRESULT STDMETHODCALLTYPE NetToHost(int iDataTypeId, char *pHostBuf, const char *pNetBuf,
                                                int iNetLen, int iVersion) = 0;
    // Writes one line of text describing the host record to the file pszFileName; on failure
    // the file holds what was written before the renderer stopped.
    virtual HRESULT STDMETHODCALLTYPE PrintToFile(const char *pszFileName, int iDataTypeId,
                                                  const char *pHostBuf, int iVersion) = 0;
};

#else /* C: the same identifiers and the same slots, in order */

static const CLSID CLSID_MyEncoder = {
    0x27F49156, 0x6D05, 0x4750, {0x94, 0x6C, 0xD0, 0x75, 0xDC, 0xF4, 0xFE, 0x44}};
static const IID IID_IMyEncoder = {
    0xEEBC1D40, 0x9048, 0x48A4, {0xB2, 0xE2, 0x81, 0x4B, 0x4F, 0x38, 0x22, 0x9A}};

typedef struct IMyEncoder IMyEncoder;
typedef struct IMyEncoderVtbl {
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(IMyEncoder *This, REFIID riid, void **ppvObject);
    ULONG(STDMETHODCALLTYPE *AddRef)(IMyEncoder *This);
    ULONG(STDMETHODCALLTYPE *Release)(IMyEncoder *This);
    HRESULT(STDMETHODCALLTYPE *LoadLib)(IMyEncoder *This, const char *pszLibFile);
    HRESULT(STDMETHODCALLTYPE *HostToNet)(IMyEncoder *This, int iDataTypeId, char *pNetBuf, int *piNetLen,
                                          const char *pHostBuf, int iVersion);
    HRESULT(STDMETHODCALLTYPE *NetToHost)(IMyEncoder *This, int iDataTypeId, char *pHostBuf, const char *pNetBuf,
                                          int iNetLen, int iVersion);
    HRESULT(STDMETHODCALLTYPE *PrintToFile)(IMyEncoder *This, const char *pszFileName, int iDataTypeId,
                                            const char *pHostBuf, int iVersion);
} IMyEncoderVtbl;
struct IMyEncoder {
    const IMyEncoderVtbl *lpVtbl;
};

#endif /* __cplusplus */

#endif /* TAV_IMYENCODER_H */
