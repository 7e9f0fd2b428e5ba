// encoder.cc: CMyEncoder's life and the four IMyEncoder methods.
#include "component/encoder.h"

#include <cstdio>

CMyEncoder::CMyEncoder() : m_pLib(nullptr), m_xMyEncoder(*this) { tav::lock_module(); }

CMyEncoder::~CMyEncoder() {
    if (m_pLib != nullptr) dr_free_lib(m_pLib);
    tav::unlock_module();
}

void CMyEncoder::OnFinalRelease() { delete this; }

// The interface map: IMyEncoder and, for identity, IUnknown, both through m_xMyEncoder.
IUnknown *CMyEncoder::GetInterface(REFIID riid) {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IMyEncoder)) return &m_xMyEncoder;
    return nullptr;
}

template <class Use>
HRESULT CMyEncoder::WithMeta(int iDataTypeId, Use use) {
    {
        tav::ReadScope reading(m_libLock);
        const DrMeta *meta = nullptr;
        if (m_pLib != nullptr && dr_meta_by_id(m_pLib, iDataTypeId, &meta) == 0 && meta != nullptr) return use(meta);
    }
    // The box is modal: a LoadLib on another thread need not wait for the user.
    tav::show_lookup_error(iDataTypeId);
    return S_FALSE;
}

HRESULT CMyEncoder::XMyEncoder::QueryInterface(REFIID riid, void **ppvObject) {
    return m_This.ExternalQueryInterface(riid, ppvObject);
}

ULONG CMyEncoder::XMyEncoder::AddRef() { return m_This.ExternalAddRef(); }

ULONG CMyEncoder::XMyEncoder::Release() { return m_This.ExternalRelease(); }

HRESULT CMyEncoder::XMyEncoder::LoadLib(const char *pszLibFile) {
    // The old image goes first, so a failed load leaves the object without a library. No
    // data method reads the image meanwhile.
    tav::WriteScope writing(m_This.m_libLock);
    if (m_This.m_pLib != nullptr) {
        dr_free_lib(m_This.m_pLib);
        m_This.m_pLib = nullptr;
    }
    return dr_load_lib_file(&m_This.m_pLib, pszLibFile) == 0 ? S_OK : S_FALSE;
}

HRESULT CMyEncoder::XMyEncoder::HostToNet(int iDataTypeId, char *pNetBuf, int *piNetLen,
                                          const char *pHostBuf, int iVersion) {
    return m_This.WithMeta(iDataTypeId, [&](const DrMeta *meta) {
        if (pNetBuf == nullptr || piNetLen == nullptr || pHostBuf == nullptr) return S_FALSE;
        DrBuffer net{pNetBuf, ENCODE_BUF_SIZE};
        // The encoder only reads the host record.
        DrBuffer host{const_cast<char *>(pHostBuf), ENCODE_BUF_SIZE};
        const int rc = dr_host_to_net(meta, &net, &host, iVersion);
        *piNetLen = net.len;  // a failed encode still reports the bytes it wrote
        return rc == 0 ? S_OK : S_FALSE;
    });
}

HRESULT CMyEncoder::XMyEncoder::NetToHost(int iDataTypeId, char *pHostBuf, const char *pNetBuf,
                                          int iNetLen, int iVersion) {
    return m_This.WithMeta(iDataTypeId, [&](const DrMeta *meta) {
        if (pHostBuf == nullptr || pNetBuf == nullptr) return S_FALSE;
        DrBuffer host{pHostBuf, ENCODE_BUF_SIZE};
        // The decoder only reads the network bytes; a negative length offers none of them.
        DrBuffer net{const_cast<char *>(pNetBuf), iNetLen < 0 ? 0 : iNetLen};
        // On failure the host record keeps what was decoded before the decoder stopped.
        return dr_net_to_host(meta, &host, &net, iVersion) == 0 ? S_OK : S_FALSE;
    });
}

HRESULT CMyEncoder::XMyEncoder::PrintToFile(const char *pszFileName, int iDataTypeId,
                                            const char *pHostBuf, int iVersion) {
    // The lookup comes first: an unknown type leaves an existing file untouched.
    return m_This.WithMeta(iDataTypeId, [&](const DrMeta *meta) {
        if (pszFileName == nullptr || pHostBuf == nullptr) return S_FALSE;
        DrBuffer host{const_cast<char *>(pHostBuf), PRINT_BUF_SIZE};
        FILE *fp = std::fopen(pszFileName, "w");
        if (fp == nullptr) return S_FALSE;
        // On failure the file keeps what was written before the renderer stopped.
        const int rc = dr_print_data(meta, fp, &host, iVersion);
        const bool written = !std::ferror(fp);
        return std::fclose(fp) == 0 && written && rc == 0 ? S_OK : S_FALSE;
    });
}
