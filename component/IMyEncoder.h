/* IMyEncoder.h: the client's view of the TavEncoder component: its interfaces and identifiers,
 * for C++ (abstract classes) and for C (structs whose lpVtbl points at the method table; call
 * enc->lpVtbl->HostToNet(enc, ...)).
 *
 * IMyEncoder, as existing clients know it: every method returns 0 (S_OK) on success and 1
 * (S_FALSE) on failure, a failure of the codec or the renderer included; FAILED() does not
 * catch S_FALSE, so compare the result with S_OK. A type id that the loaded typelib lacks
 * shows an error box (Windows) or writes one line to standard error (elsewhere) and returns 1.
 * iVersion is the version of the record type the caller speaks; 0 means the newest. IMyEncoder
 * does not know the sizes of the caller's buffers: each must hold the whole record in the form
 * concerned. New clients use IMyEncoder2, below. */
#ifndef TAV_IMYENCODER_H
#define TAV_IMYENCODER_H

#include "com_layer.h"

#define TAV_ENCODER_PROGID "TavEncoder.MyEncoder"

/* IMyEncoder2, for new clients: the same object answers QueryInterface for IMyEncoder,
 * IMyEncoder2 and ISupportErrorInfo. Its own methods (slots 7 on) take every buffer's size and
 * return real HRESULTs; FAILED() and SUCCEEDED() mean what they say:
 *   S_OK                                          success
 *   E_INVALIDARG                                  a null pointer (other than a sizing call's
 *                                                 buffer) or a negative size
 *   HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) a buffer too small; for an output the size
 *                                                 needed is reported, a host record must span
 *                                                 the type's iHostSize bytes
 *   TAV_E_...                                     FACILITY_ITF codes, below
 * On any failure the method sets the thread's error object (GetErrorInfo): its description is
 * one line saying why and where (network and host offsets), its source the ProgID, its GUID
 * IID_IMyEncoder2. Nothing is ever written past a size given. No method of IMyEncoder2 shows a
 * box: an unknown type is TAV_E_UNKNOWN_TYPE. The methods inherited from IMyEncoder keep their
 * 0/1 results when called through IMyEncoder2, but show no box either and set the error
 * object when they return 1.
 *
 * The codes, one per reason the library gives (0x0200 + the library's DR_E_ number), then the
 * component's own: */
#define TAV_E_ARGUMENT ((HRESULT)0x80040201L)      /* a pointer or size the library refused */
#define TAV_E_OPEN ((HRESULT)0x80040202L)          /* the typelib file cannot be opened */
#define TAV_E_READ ((HRESULT)0x80040203L)          /* the typelib file cannot be read */
#define TAV_E_MEMORY ((HRESULT)0x80040204L)        /* memory ran out */
#define TAV_E_NOT_TYPELIB ((HRESULT)0x80040205L)   /* the file does not begin with the typelib mark */
#define TAV_E_FORMAT_LEVEL ((HRESULT)0x80040206L)  /* a typelib of another format level */
#define TAV_E_IMAGE ((HRESULT)0x80040207L)         /* a typelib image that is cut, too long or unsound */
#define TAV_E_VERSION ((HRESULT)0x80040208L)       /* iVersion is older than the record type */
#define TAV_E_COUNT ((HRESULT)0x80040209L)         /* a count member negative or above its bound */
#define TAV_E_DEPTH ((HRESULT)0x8004020AL)         /* records nested deeper than 32 levels */
#define TAV_E_STEPS ((HRESULT)0x8004020BL)         /* overlapping members repeat the walk too often */
#define TAV_E_TYPE ((HRESULT)0x8004020CL)          /* a member's description cannot be followed */
#define TAV_E_HOST_END ((HRESULT)0x8004020DL)      /* a member lies outside the host record */
#define TAV_E_STRING ((HRESULT)0x8004020EL)        /* a string without its NUL, or a bad network length */
#define TAV_E_NET_END ((HRESULT)0x8004020FL)       /* the network bytes end before the record does */
#define TAV_E_LENGTH_FIELD ((HRESULT)0x80040210L)  /* an element length field outside the network bytes */
#define TAV_E_LENGTH_PAST ((HRESULT)0x80040211L)   /* an element length field points past the end */
#define TAV_E_CUT ((HRESULT)0x80040212L)           /* a value that has no text form */
#define TAV_E_NO_TYPELIB ((HRESULT)0x80040280L)    /* no typelib is loaded */
#define TAV_E_UNKNOWN_TYPE ((HRESULT)0x80040281L)  /* the typelib has no such type id or name */

/* What FindTypeById and FindTypeByName report of a record type. */
typedef struct TavTypeInfo {
    int iDataTypeId;
    int iVersion;     /* the type's own version: a caller speaking an older one is refused */
    int iHostSize;    /* bytes of one host record */
    char szName[32];  /* NUL-terminated */
} TavTypeInfo;

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

// {C8F8A68F-2A86-4E31-AA7C-7E8D6BF2CB2B}
inline constexpr IID IID_IMyEncoder2 = {
    0xC8F8A68F, 0x2A86, 0x4E31, {0xAA, 0x7C, 0x7E, 0x8D, 0x6B, 0xF2, 0xCB, 0x2B}};

struct IMyEncoder2 : public IMyEncoder {
    // Loads pszLibFile; the typelib held so far stays when the file cannot be loaded.
    virtual HRESULT STDMETHODCALLTYPE LoadTypelib(const char *pszLibFile) = 0;
    // The record type with this id, or with this exact name, into *pInfo.
    virtual HRESULT STDMETHODCALLTYPE FindTypeById(int iDataTypeId, TavTypeInfo *pInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindTypeByName(const char *pszTypeName, TavTypeInfo *pInfo) = 0;
    // Encodes the host record (iHostLen bytes) into pNetBuf (iNetCap bytes); *piNetLen gets
    // the bytes written. pNetBuf NULL with iNetCap 0 only sizes: *piNetLen gets the bytes
    // needed and nothing is written.
    virtual HRESULT STDMETHODCALLTYPE Encode(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                                             char *pNetBuf, int iNetCap, int *piNetLen) = 0;
    // Decodes the network bytes (iNetLen) into pHostBuf (iHostCap bytes), which is cleared
    // first; *piNetUsed gets the network bytes consumed (on failure, where decoding stopped).
    virtual HRESULT STDMETHODCALLTYPE Decode(int iDataTypeId, int iVersion, const char *pNetBuf, int iNetLen,
                                             char *pHostBuf, int iHostCap, int *piNetUsed) = 0;
    // Writes the record's one-line text (FormatText) or its XML (FormatXml) into pszText
    // (iTextCap bytes, the NUL included); *piTextLen gets the text's length without its NUL.
    // pszText NULL with iTextCap 0 only sizes.
    virtual HRESULT STDMETHODCALLTYPE FormatText(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                                                 char *pszText, int iTextCap, int *piTextLen) = 0;
    virtual HRESULT STDMETHODCALLTYPE FormatXml(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                                                char *pszText, int iTextCap, int *piTextLen) = 0;
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

static const IID IID_IMyEncoder2 = {
    0xC8F8A68F, 0x2A86, 0x4E31, {0xAA, 0x7C, 0x7E, 0x8D, 0x6B, 0xF2, 0xCB, 0x2B}};

typedef struct IMyEncoder2 IMyEncoder2;
typedef struct IMyEncoder2Vtbl {
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(IMyEncoder2 *This, REFIID riid, void **ppvObject);
    ULONG(STDMETHODCALLTYPE *AddRef)(IMyEncoder2 *This);
    ULONG(STDMETHODCALLTYPE *Release)(IMyEncoder2 *This);
    HRESULT(STDMETHODCALLTYPE *LoadLib)(IMyEncoder2 *This, const char *pszLibFile);
    HRESULT(STDMETHODCALLTYPE *HostToNet)(IMyEncoder2 *This, int iDataTypeId, char *pNetBuf, int *piNetLen,
                                          const char *pHostBuf, int iVersion);
    HRESULT(STDMETHODCALLTYPE *NetToHost)(IMyEncoder2 *This, int iDataTypeId, char *pHostBuf, const char *pNetBuf,
                                          int iNetLen, int iVersion);
    HRESULT(STDMETHODCALLTYPE *PrintToFile)(IMyEncoder2 *This, const char *pszFileName, int iDataTypeId,
                                            const char *pHostBuf, int iVersion);
    HRESULT(STDMETHODCALLTYPE *LoadTypelib)(IMyEncoder2 *This, const char *pszLibFile);
    HRESULT(STDMETHODCALLTYPE *FindTypeById)(IMyEncoder2 *This, int iDataTypeId, TavTypeInfo *pInfo);
    HRESULT(STDMETHODCALLTYPE *FindTypeByName)(IMyEncoder2 *This, const char *pszTypeName, TavTypeInfo *pInfo);
    HRESULT(STDMETHODCALLTYPE *Encode)(IMyEncoder2 *This, int iDataTypeId, int iVersion, const char *pHostBuf,
                                       int iHostLen, char *pNetBuf, int iNetCap, int *piNetLen);
    HRESULT(STDMETHODCALLTYPE *Decode)(IMyEncoder2 *This, int iDataTypeId, int iVersion, const char *pNetBuf,
                                       int iNetLen, char *pHostBuf, int iHostCap, int *piNetUsed);
    HRESULT(STDMETHODCALLTYPE *FormatText)(IMyEncoder2 *This, int iDataTypeId, int iVersion, const char *pHostBuf,
                                           int iHostLen, char *pszText, int iTextCap, int *piTextLen);
    HRESULT(STDMETHODCALLTYPE *FormatXml)(IMyEncoder2 *This, int iDataTypeId, int iVersion, const char *pHostBuf,
                                          int iHostLen, char *pszText, int iTextCap, int *piTextLen);
} IMyEncoder2Vtbl;
struct IMyEncoder2 {
    const IMyEncoder2Vtbl *lpVtbl;
};

#endif /* __cplusplus */

#endif /* TAV_IMYENCODER_H */
