// encoder.cc: CMyEncoder's life, its operations, and the interfaces that report them:
// IMyEncoder with 0 or 1 and its error box, IMyEncoder2 with HRESULTs and error objects.
#include "component/encoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr HRESULT kInsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

// IMyEncoder's two results.
HRESULT zero_or_one(HRESULT hr) { return hr == S_OK ? S_OK : S_FALSE; }

bool lookup_failed(HRESULT hr) { return hr == TAV_E_NO_TYPELIB || hr == TAV_E_UNKNOWN_TYPE; }

// A name field of the image as text (at most 31 characters).
const char *name_of(const DrMeta *meta) { return meta->name; }

// S_OK when a host buffer of `len` bytes holds a whole record of the type.
HRESULT host_fits(const DrMeta *meta, int len, tav::Reason &why) {
    if (len >= meta->datasize) return S_OK;
    return why.fail(kInsufficientBuffer, "%.31s: the host record needs %d bytes; the buffer holds %d", name_of(meta),
                    meta->datasize, len);
}

// The text (or XML) of a record in a buffer of `cap` bytes, or only its length when `out` is
// null; the length is the text's without its NUL, and a text of L bytes fits in L + 1. The
// library wants a byte more than that, and a text it cuts fills the buffer up to the last
// byte, which keeps the NUL: a cut that leaves room means a value that has no text form,
// which no capacity mends.
HRESULT format_into(const DrMeta *meta, bool xml, int version, DrBuffer host, char *out, int cap, int *length,
                    tav::Reason &why) {
    DrError err{};
    auto render = [&](char *buf, int room) {  // 0 done or failed otherwise, 1 cut for room, -1 no text form
        DrBuffer text{buf, room};
        DrBuffer h = host;
        const int rc = xml ? dr_sprint_data_xml_ex(meta, &text, &h, version, &err)
                           : dr_sprint_data_ex(meta, &text, &h, version, &err);
        if (rc == 0) *length = text.len;
        if (rc == 0 || err.code != DR_E_CUT) return 0;
        return std::strlen(buf) + 1 == static_cast<size_t>(room) ? 1 : -1;
    };
    int state = out != nullptr && cap > 0 ? render(out, cap) : 1;
    if (state == 0) return err.code == DR_OK ? S_OK : why.fail(err, name_of(meta));
    // Cut: measure in ever larger scratch buffers; a record's text is bounded, so this ends.
    std::unique_ptr<char, decltype(&std::free)> scratch(nullptr, &std::free);
    for (int room = cap < 2048 ? 4096 : cap * 2; state == 1; room *= 2) {
        if (room > (1 << 29)) return why.fail(E_OUTOFMEMORY, "%.31s: the text exceeds 512 MiB", name_of(meta));
        scratch.reset(static_cast<char *>(std::malloc(room)));
        if (scratch == nullptr) return why.fail(E_OUTOFMEMORY, "%.31s: out of memory", name_of(meta));
        state = render(scratch.get(), room);
        if (state == 0 && err.code != DR_OK) return why.fail(err, name_of(meta));
    }
    if (state == -1)
        return why.fail(TAV_E_CUT, "%.31s: a member's value has no text form (an 8-byte integer, date, time or money)",
                        name_of(meta));
    if (out == nullptr) return S_OK;  // sizing only
    if (*length < cap) {  // the byte the library wanted beyond the NUL
        std::memcpy(out, scratch.get(), static_cast<size_t>(*length) + 1);
        return S_OK;
    }
    return why.fail(kInsufficientBuffer, "%.31s: the text needs %d bytes with its NUL; the buffer holds %d",
                    name_of(meta), *length + 1, cap);
}

}  // namespace

CMyEncoder::CMyEncoder()
    : m_pLib(nullptr), m_xMyEncoder(*this), m_xMyEncoder2(*this), m_xSupportErrorInfo(*this) {
    tav::lock_module();
}

CMyEncoder::~CMyEncoder() {
    if (m_pLib != nullptr) dr_free_lib(m_pLib);
    tav::unlock_module();
}

void CMyEncoder::OnFinalRelease() { delete this; }

// The interface map. IUnknown is always IMyEncoder's part, so that identity holds.
IUnknown *CMyEncoder::GetInterface(REFIID riid) {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IMyEncoder)) return &m_xMyEncoder;
    if (IsEqualGUID(riid, IID_IMyEncoder2)) return &m_xMyEncoder2;
    if (IsEqualGUID(riid, IID_ISupportErrorInfo)) return &m_xSupportErrorInfo;
    return nullptr;
}

template <class Use>
HRESULT CMyEncoder::WithMeta(int iDataTypeId, const char *pszTypeName, tav::Reason &why, Use use) {
    tav::ReadScope reading(m_libLock);
    if (m_pLib == nullptr) return why.fail(TAV_E_NO_TYPELIB, "no typelib is loaded");
    const DrMeta *meta = nullptr;
    if (pszTypeName != nullptr) {
        if (dr_meta_by_name(m_pLib, pszTypeName, &meta) != 0 || meta == nullptr)
            return why.fail(TAV_E_UNKNOWN_TYPE, "the typelib has no type named \"%.64s\"", pszTypeName);
    } else if (dr_meta_by_id(m_pLib, iDataTypeId, &meta) != 0 || meta == nullptr) {
        return why.fail(TAV_E_UNKNOWN_TYPE, "the typelib has no type with id %d", iDataTypeId);
    }
    return use(meta);
}

// ---- the operations -------------------------------------------------------------------

HRESULT CMyEncoder::LoadReplacing(const char *pszLibFile, tav::Reason &why) {
    // The old image goes first, so a failed load leaves the object without a library. No
    // data method reads the image meanwhile.
    tav::WriteScope writing(m_libLock);
    if (m_pLib != nullptr) {
        dr_free_lib(m_pLib);
        m_pLib = nullptr;
    }
    if (pszLibFile == nullptr) return why.fail(E_INVALIDARG, "no typelib file name");
    DrError err{};
    return dr_load_lib_file_ex(&m_pLib, pszLibFile, &err) == 0 ? S_OK : why.fail(err, pszLibFile);
}

HRESULT CMyEncoder::LoadKeeping(const char *pszLibFile, tav::Reason &why) {
    if (pszLibFile == nullptr) return why.fail(E_INVALIDARG, "no typelib file name");
    DrLib *loaded = nullptr;
    DrError err{};
    if (dr_load_lib_file_ex(&loaded, pszLibFile, &err) != 0) return why.fail(err, pszLibFile);
    DrLib *old = nullptr;
    {
        tav::WriteScope writing(m_libLock);
        old = m_pLib;
        m_pLib = loaded;
    }
    dr_free_lib(old);
    return S_OK;
}

HRESULT CMyEncoder::HostToNetFixed(int iDataTypeId, char *pNetBuf, int *piNetLen, const char *pHostBuf,
                                   int iVersion, tav::Reason &why) {
    return WithMeta(iDataTypeId, nullptr, why, [&](const DrMeta *meta) {
        if (pNetBuf == nullptr || piNetLen == nullptr || pHostBuf == nullptr)
            return why.fail(E_INVALIDARG, "a buffer or the length pointer is null");
        DrBuffer net{pNetBuf, ENCODE_BUF_SIZE};
        // The encoder only reads the host record.
        DrBuffer host{const_cast<char *>(pHostBuf), ENCODE_BUF_SIZE};
        DrError err{};
        const int rc = dr_host_to_net_ex(meta, &net, &host, iVersion, &err);
        *piNetLen = net.len;  // a failed encode still reports the bytes it wrote
        return rc == 0 ? S_OK : why.fail(err, name_of(meta));
    });
}

HRESULT CMyEncoder::NetToHostFixed(int iDataTypeId, char *pHostBuf, const char *pNetBuf, int iNetLen,
                                   int iVersion, tav::Reason &why) {
    return WithMeta(iDataTypeId, nullptr, why, [&](const DrMeta *meta) {
        if (pHostBuf == nullptr || pNetBuf == nullptr) return why.fail(E_INVALIDARG, "a buffer is null");
        DrBuffer host{pHostBuf, ENCODE_BUF_SIZE};
        // The decoder only reads the network bytes; a negative length offers none of them.
        DrBuffer net{const_cast<char *>(pNetBuf), iNetLen < 0 ? 0 : iNetLen};
        DrError err{};
        // On failure the host record keeps what was decoded before the decoder stopped.
        return dr_net_to_host_ex(meta, &host, &net, iVersion, &err) == 0 ? S_OK : why.fail(err, name_of(meta));
    });
}

HRESULT CMyEncoder::PrintToFileFixed(const char *pszFileName, int iDataTypeId, const char *pHostBuf, int iVersion,
                                     tav::Reason &why) {
    // The lookup comes first: an unknown type leaves an existing file untouched.
    return WithMeta(iDataTypeId, nullptr, why, [&](const DrMeta *meta) {
        if (pszFileName == nullptr || pHostBuf == nullptr)
            return why.fail(E_INVALIDARG, "the file name or the host record is null");
        DrBuffer host{const_cast<char *>(pHostBuf), PRINT_BUF_SIZE};
        FILE *fp = std::fopen(pszFileName, "w");
        if (fp == nullptr) return why.fail(TAV_E_OPEN, "%.200s: the file cannot be opened for writing", pszFileName);
        // On failure the file keeps what was written before the renderer stopped.
        DrError err{};
        const int rc = dr_print_data_ex(meta, fp, &host, iVersion, &err);
        const bool written = !std::ferror(fp);
        if (std::fclose(fp) != 0 || !written)
            return why.fail(TAV_E_OPEN, "%.200s: the text could not be written whole", pszFileName);
        return rc == 0 ? S_OK : why.fail(err, name_of(meta));
    });
}

HRESULT CMyEncoder::FindType(int iDataTypeId, const char *pszTypeName, TavTypeInfo *pInfo, tav::Reason &why) {
    if (pInfo == nullptr) return why.fail(E_INVALIDARG, "the type information pointer is null");
    return WithMeta(iDataTypeId, pszTypeName, why, [&](const DrMeta *meta) {
        pInfo->iDataTypeId = meta->id;
        pInfo->iVersion = meta->version;
        pInfo->iHostSize = meta->datasize;
        std::memcpy(pInfo->szName, meta->name, sizeof pInfo->szName);
        pInfo->szName[sizeof pInfo->szName - 1] = '\0';
        return S_OK;
    });
}

HRESULT CMyEncoder::Encode(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen, char *pNetBuf,
                           int iNetCap, int *piNetLen, tav::Reason &why) {
    if (pHostBuf == nullptr || piNetLen == nullptr || (pNetBuf == nullptr && iNetCap != 0))
        return why.fail(E_INVALIDARG, "a null pointer: the host record, the length or a network buffer of %d bytes",
                        iNetCap);
    if (iHostLen < 0 || iNetCap < 0) return why.fail(E_INVALIDARG, "a negative buffer size");
    return WithMeta(iDataTypeId, nullptr, why, [&](const DrMeta *meta) {
        if (const HRESULT hr = host_fits(meta, iHostLen, why); hr != S_OK) return hr;
        DrBuffer net{pNetBuf, iNetCap};
        DrBuffer host{const_cast<char *>(pHostBuf), iHostLen};
        DrError err{};
        const int rc = dr_host_to_net_ex(meta, &net, &host, iVersion, &err);
        *piNetLen = net.len;
        if (rc == 0) return S_OK;
        if (pNetBuf == nullptr || err.code != DR_E_NET_END) return why.fail(err, name_of(meta));
        // Too small: the same encode, sized, says how large the buffer must be, unless the
        // record fails further on for another reason.
        DrBuffer size{nullptr, 0};
        DrBuffer again{const_cast<char *>(pHostBuf), iHostLen};
        if (dr_host_to_net_ex(meta, &size, &again, iVersion, &err) != 0) return why.fail(err, name_of(meta));
        *piNetLen = size.len;
        return why.fail(kInsufficientBuffer, "%.31s: the network form needs %d bytes; the buffer holds %d",
                        name_of(meta), size.len, iNetCap);
    });
}

HRESULT CMyEncoder::Decode(int iDataTypeId, int iVersion, const char *pNetBuf, int iNetLen, char *pHostBuf,
                           int iHostCap, int *piNetUsed, tav::Reason &why) {
    if (pNetBuf == nullptr || pHostBuf == nullptr || piNetUsed == nullptr)
        return why.fail(E_INVALIDARG, "a null pointer: the network bytes, the host record or the length");
    if (iNetLen < 0 || iHostCap < 0) return why.fail(E_INVALIDARG, "a negative buffer size");
    return WithMeta(iDataTypeId, nullptr, why, [&](const DrMeta *meta) {
        if (const HRESULT hr = host_fits(meta, iHostCap, why); hr != S_OK) return hr;
        // Only the record's own bytes are cleared and written.
        std::memset(pHostBuf, 0, static_cast<size_t>(meta->datasize));
        DrBuffer host{pHostBuf, meta->datasize};
        DrBuffer net{const_cast<char *>(pNetBuf), iNetLen};
        DrError err{};
        const int rc = dr_net_to_host_ex(meta, &host, &net, iVersion, &err);
        *piNetUsed = rc == 0 ? net.len : err.net_offset < 0 ? 0 : err.net_offset;
        return rc == 0 ? S_OK : why.fail(err, name_of(meta));
    });
}

HRESULT CMyEncoder::Format(bool xml, int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                           char *pszText, int iTextCap, int *piTextLen, tav::Reason &why) {
    if (pHostBuf == nullptr || piTextLen == nullptr || (pszText == nullptr && iTextCap != 0))
        return why.fail(E_INVALIDARG, "a null pointer: the host record, the length or a text buffer of %d bytes",
                        iTextCap);
    if (iHostLen < 0 || iTextCap < 0) return why.fail(E_INVALIDARG, "a negative buffer size");
    return WithMeta(iDataTypeId, nullptr, why, [&](const DrMeta *meta) {
        if (const HRESULT hr = host_fits(meta, iHostLen, why); hr != S_OK) return hr;
        return format_into(meta, xml, iVersion, DrBuffer{const_cast<char *>(pHostBuf), iHostLen}, pszText, iTextCap,
                           piTextLen, why);
    });
}

// ---- the interface parts ---------------------------------------------------------------

template <class Interface>
HRESULT InterfacePart<Interface>::QueryInterface(REFIID riid, void **ppvObject) {
    return m_This.ExternalQueryInterface(riid, ppvObject);
}

template <class Interface>
ULONG InterfacePart<Interface>::AddRef() {
    return m_This.ExternalAddRef();
}

template <class Interface>
ULONG InterfacePart<Interface>::Release() {
    return m_This.ExternalRelease();
}

// IMyEncoder's box comes after the image is let go: a LoadLib on another thread need not
// wait for the user.
template <class Interface, bool kBox>
HRESULT EncoderPart<Interface, kBox>::Answer(HRESULT hr, const tav::Reason &why, int iDataTypeId) {
    if constexpr (kBox) {
        if (lookup_failed(hr)) tav::show_lookup_error(iDataTypeId);
    } else if (hr != S_OK) {
        tav::set_error_info(why);
    }
    return zero_or_one(hr);
}

template <class Interface, bool kBox>
HRESULT EncoderPart<Interface, kBox>::LoadLib(const char *pszLibFile) {
    tav::Reason why;
    return Answer(this->m_This.LoadReplacing(pszLibFile, why), why, 0);
}

template <class Interface, bool kBox>
HRESULT EncoderPart<Interface, kBox>::HostToNet(int iDataTypeId, char *pNetBuf, int *piNetLen, const char *pHostBuf,
                                                int iVersion) {
    tav::Reason why;
    return Answer(this->m_This.HostToNetFixed(iDataTypeId, pNetBuf, piNetLen, pHostBuf, iVersion, why), why,
                  iDataTypeId);
}

template <class Interface, bool kBox>
HRESULT EncoderPart<Interface, kBox>::NetToHost(int iDataTypeId, char *pHostBuf, const char *pNetBuf, int iNetLen,
                                                int iVersion) {
    tav::Reason why;
    return Answer(this->m_This.NetToHostFixed(iDataTypeId, pHostBuf, pNetBuf, iNetLen, iVersion, why), why,
                  iDataTypeId);
}

template <class Interface, bool kBox>
HRESULT EncoderPart<Interface, kBox>::PrintToFile(const char *pszFileName, int iDataTypeId, const char *pHostBuf,
                                                  int iVersion) {
    tav::Reason why;
    return Answer(this->m_This.PrintToFileFixed(pszFileName, iDataTypeId, pHostBuf, iVersion, why), why,
                  iDataTypeId);
}

template class InterfacePart<IMyEncoder>;
template class InterfacePart<IMyEncoder2>;
template class InterfacePart<ISupportErrorInfo>;
template class EncoderPart<IMyEncoder, true>;
template class EncoderPart<IMyEncoder2, false>;

// ---- IMyEncoder2's own methods: HRESULTs and the thread's error object -----------------

namespace {

HRESULT reported(HRESULT hr, const tav::Reason &why) {
    if (hr != S_OK) tav::set_error_info(why);
    return hr;
}

}  // namespace

HRESULT CMyEncoder::XMyEncoder2::LoadTypelib(const char *pszLibFile) {
    tav::Reason why;
    return reported(m_This.LoadKeeping(pszLibFile, why), why);
}

HRESULT CMyEncoder::XMyEncoder2::FindTypeById(int iDataTypeId, TavTypeInfo *pInfo) {
    tav::Reason why;
    return reported(m_This.FindType(iDataTypeId, nullptr, pInfo, why), why);
}

HRESULT CMyEncoder::XMyEncoder2::FindTypeByName(const char *pszTypeName, TavTypeInfo *pInfo) {
    tav::Reason why;
    if (pszTypeName == nullptr) return reported(why.fail(E_INVALIDARG, "the type name is null"), why);
    return reported(m_This.FindType(0, pszTypeName, pInfo, why), why);
}

HRESULT CMyEncoder::XMyEncoder2::Encode(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                                        char *pNetBuf, int iNetCap, int *piNetLen) {
    tav::Reason why;
    return reported(m_This.Encode(iDataTypeId, iVersion, pHostBuf, iHostLen, pNetBuf, iNetCap, piNetLen, why), why);
}

HRESULT CMyEncoder::XMyEncoder2::Decode(int iDataTypeId, int iVersion, const char *pNetBuf, int iNetLen,
                                        char *pHostBuf, int iHostCap, int *piNetUsed) {
    tav::Reason why;
    return reported(m_This.Decode(iDataTypeId, iVersion, pNetBuf, iNetLen, pHostBuf, iHostCap, piNetUsed, why), why);
}

HRESULT CMyEncoder::XMyEncoder2::FormatText(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                                            char *pszText, int iTextCap, int *piTextLen) {
    tav::Reason why;
    return reported(
        m_This.Format(false, iDataTypeId, iVersion, pHostBuf, iHostLen, pszText, iTextCap, piTextLen, why), why);
}

HRESULT CMyEncoder::XMyEncoder2::FormatXml(int iDataTypeId, int iVersion, const char *pHostBuf, int iHostLen,
                                           char *pszText, int iTextCap, int *piTextLen) {
    tav::Reason why;
    return reported(m_This.Format(true, iDataTypeId, iVersion, pHostBuf, iHostLen, pszText, iTextCap, piTextLen, why),
                    why);
}

// ---- ISupportErrorInfo -------------------------------------------------------------------

HRESULT CMyEncoder::XSupportErrorInfo::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualGUID(riid, IID_IMyEncoder2) ? S_OK : S_FALSE;
}
