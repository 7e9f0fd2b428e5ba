// encoder.h: CMyEncoder, the component's one class: it owns a loaded typelib and turns each
// IMyEncoder and IMyEncoder2 call into calls of the dr library.
#pragma once

#include "component/IMyEncoder.h"
#include "component/module.h"
#include "dr/dr.h"

// Capacities declared to the library by IMyEncoder, which never learns the caller's sizes.
inline constexpr int32_t ENCODE_BUF_SIZE = 0x40000;  // HostToNet both buffers, NetToHost host record
inline constexpr int32_t PRINT_BUF_SIZE = 0x20000;   // PrintToFile host record

class CMyEncoder;

// The IUnknown slots of one of CMyEncoder's interface parts: each goes to the object.
template <class Interface>
class InterfacePart : public Interface {
public:
    explicit InterfacePart(CMyEncoder &outer) : m_This(outer) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

protected:
    CMyEncoder &m_This;
};

// IMyEncoder's four methods with their 0 and 1. Through IMyEncoder (kBox) a type the typelib
// lacks shows the error box; through IMyEncoder2 no box, and every 1 sets the error object.
template <class Interface, bool kBox>
class EncoderPart : public InterfacePart<Interface> {
public:
    using InterfacePart<Interface>::InterfacePart;
    HRESULT STDMETHODCALLTYPE LoadLib(const char *pszLibFile) override;
    HRESULT STDMETHODCALLTYPE HostToNet(int iDataTypeId, char *pNetBuf, int *piNetLen, const char *pHostBuf,
                                        int iVersion) override;
    HRESULT STDMETHODCALLTYPE NetToHost(int iDataTypeId, char *pHostBuf, const char *pNetBuf, int iNetLen,
                                        int iVersion) override;
    HRESULT STDMETHODCALLTYPE PrintToFile(const char *pszFileName, int iDataTypeId, const char *pHostBuf,
                                          int iVersion) override;

private:
    HRESULT Answer(HRESULT hr, const tav::Reason &why, int iDataTypeId);
};

class CMyEncoder final : public tav::ComTarget {
public:
    CMyEncoder();
    ~CMyEncoder() override;

    DrLib *m_pLib;  // the loaded typelib image, owned; null while none is loaded
    // Loading replaces m_pLib alone; the data methods read the image together.
    tav::SharedLock m_libLock;

    // The operations behind both interfaces. Each answers an honest HRESULT and, on failure,
    // puts one line saying why into `why`. The IMyEncoder forms keep its fixed capacities.
    HRESULT LoadReplacing(const char *pszLibFile, tav::Reason &why);
    HRESULT LoadKeeping(const char *pszLibFile, tav::Reason &why);
    HRESULT HostToNetFixed(int iDataTypeId, char *pNetBuf, int *piNetLen, const char *pHostBuf, int iVersion,
                           tav::Reason &why);
    HRESULT NetToHostFixed(int iDataTypeId, char *pHostBuf, const char *pNetBuf, int iNetLen, int iVersion,
                           tav::Reason &why);
    HRESULT PrintToFileFixed(const char *pszFileName, int iDataTypeId, const char *pHostBuf, int iVersion,
                             tav::Reason &why);
    HRESULT FindType(int iDataTypeId, const char *pszTypeName, TavTypeInfo *pInfo, tav::Reason &why);
    HRESULT Encode(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen, char *pNetBuf, int iNetCap,
                   int *piNetLen, tav::Reason &why);
    HRESULT Decode(int iDataTypeId, int iVersion, const char *pNetBuf, int iNetLen, char *pHostBuf, int iHostCap,
                   int *piNetUsed, tav::Reason &why);
    HRESULT Format(bool xml, int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen, char *pszText,
                   int iTextCap, int *piTextLen, tav::Reason &why);

    // IMyEncoder as specified: 0 or 1, and the error box for a type the typelib lacks.
    EncoderPart<IMyEncoder, true> m_xMyEncoder;

    // IMyEncoder2: real HRESULTs and the thread's error object, never a box.
    class XMyEncoder2 final : public EncoderPart<IMyEncoder2, false> {
    public:
        using EncoderPart::EncoderPart;
        HRESULT STDMETHODCALLTYPE LoadTypelib(const char *pszLibFile) override;
        HRESULT STDMETHODCALLTYPE FindTypeById(int iDataTypeId, TavTypeInfo *pInfo) override;
        HRESULT STDMETHODCALLTYPE FindTypeByName(const char *pszTypeName, TavTypeInfo *pInfo) override;
        HRESULT STDMETHODCALLTYPE Encode(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                                         char *pNetBuf, int iNetCap, int *piNetLen) override;
        HRESULT STDMETHODCALLTYPE Decode(int iDataTypeId, int iVersion, const char *pNetBuf, int iNetLen,
                                         char *pHostBuf, int iHostCap, int *piNetUsed) override;
        HRESULT STDMETHODCALLTYPE FormatText(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                                             char *pszText, int iTextCap, int *piTextLen) override;
        HRESULT STDMETHODCALLTYPE FormatXml(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                                            char *pszText, int iTextCap, int *piTextLen) override;
    } m_xMyEncoder2;

    class XSupportErrorInfo final : public InterfacePart<ISupportErrorInfo> {
    public:
        using InterfacePart::InterfacePart;
        HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;
    } m_xSupportErrorInfo;

protected:
    IUnknown *GetInterface(REFIID riid) override;
    void OnFinalRelease() override;

private:
    // Calls use(meta) with the record type of the loaded typelib (by id, or by name when
    // pszTypeName is not null) while the image is held for reading, and answers what it
    // answers; without a typelib or without the type, TAV_E_NO_TYPELIB or TAV_E_UNKNOWN_TYPE.
    template <class Use>
    HRESULT WithMeta(int iDataTypeId, const char *pszTypeName, tav::Reason &why, Use use);
};

// Defined and instantiated in encoder.cc.
extern template class InterfacePart<IMyEncoder>;
extern template class InterfacePart<IMyEncoder2>;
extern template class InterfacePart<ISupportErrorInfo>;
extern template class EncoderPart<IMyEncoder, true>;
extern template class EncoderPart<IMyEncoder2, false>;
