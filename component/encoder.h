// encoder.h: CMyEncoder, the component's one class: it owns a loaded typelib and turns each
// IMyEncoder call into one call of the dr library.
#pragma once

#include "component/IMyEncoder.h"
#include "component/module.h"
#include "dr/dr.h"

// Capacities declared to the library; the caller's real buffer sizes are unknown here.
inline constexpr int32_t ENCODE_BUF_SIZE = 0x40000;  // HostToNet both buffers, NetToHost host record
inline constexpr int32_t PRINT_BUF_SIZE = 0x20000;   // PrintToFile host record

class CMyEncoder final : public tav::ComTarget {
public:
    CMyEncoder();
    ~CMyEncoder() override;

    DrLib *m_pLib;  // the loaded typelib image, owned; null while none is loaded
    // LoadLib replaces m_pLib alone; the data methods read the image together.
    tav::SharedLock m_libLock;

    // The implementation of IMyEncoder; it reaches its object through m_This.
    class XMyEncoder final : public IMyEncoder {
    public:
        explicit XMyEncoder(CMyEncoder &outer) : m_This(outer) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        HRESULT STDMETHODCALLTYPE LoadLib(const char *pszLibFile) override;
        HRESULT STDMETHODCALLTYPE HostToNet(int iDataTypeId, char *pNetBuf, int *piNetLen,
                                            const char *pHostBuf, int iVersion) override;
        HRESULT STDMETHODCALLTYPE NetToHost(int iDataTypeId, char *pHostBuf, const char *pNetBuf,
                                            int iNetLen, int iVersion) override;
        HRESULT STDMETHODCALLTYPE PrintToFile(const char *pszFileName, int iDataTypeId,
                                              const char *pHostBuf, int iVersion) override;

    private:
        CMyEncoder &m_This;
    } m_xMyEncoder;

protected:
    IUnknown *GetInterface(REFIID riid) override;
    void OnFinalRelease() override;

private:
    // Calls use(meta) with the record type iDataTypeId of the loaded typelib while the image
    // is held for reading, and answers what it answers. Without a typelib or without the type
    // it shows the error box, after letting go of the image, and answers S_FALSE.
    template <class Use>
    HRESULT WithMeta(int iDataTypeId, Use use);
};
