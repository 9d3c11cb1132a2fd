// The memory stream and the memory property bag.
#include <algorithm>
#include <cstring>
#include <limits>

#include "asciicase.h"
#include "comobject.h"
#include "propbag.h"

namespace {
class CMemoryStream final : public CComObjectImpl<IStream> {
public:
    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead) *pcbRead = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        const ULONGLONG available = m_position < m_data.size() ? m_data.size() - m_position : 0;
        const ULONG n = static_cast<ULONG>(std::min<ULONGLONG>(cb, available));
        if (n) std::memcpy(pv, m_data.data() + m_position, n);
        m_position += n;
        if (pcbRead) *pcbRead = n;
        return n == cb ? S_OK : S_FALSE;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        if (cb == 0) return S_OK;
        const ULONGLONG end = m_position + cb;
        if (end > static_cast<ULONGLONG>(kMaxSize)) return STG_E_MEDIUMFULL;
        try {
            if (end > m_data.size()) m_data.resize(end);
        } catch (const std::exception&) {
            return STG_E_MEDIUMFULL;
        }
        std::memcpy(m_data.data() + m_position, pv, cb);
        m_position = end;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        LONGLONG base;
        switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(m_position); break;
        case STREAM_SEEK_END: base = static_cast<LONGLONG>(m_data.size()); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        if ((move.QuadPart < 0 && base + move.QuadPart < 0) || (move.QuadPart > 0 && move.QuadPart > kMaxSize - base))
            return STG_E_INVALIDFUNCTION;
        m_position = static_cast<ULONGLONG>(base + move.QuadPart);
        if (newPosition) newPosition->QuadPart = m_position;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (size.QuadPart > static_cast<ULONGLONG>(kMaxSize)) return STG_E_MEDIUMFULL;
        try {
            m_data.resize(size.QuadPart);
        } catch (const std::exception&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (!stat) return STG_E_INVALIDPOINTER;
        *stat = {};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = m_data.size();
        return S_OK;
    }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }

    std::vector<BYTE> m_data;

private:
    // Positions stay within what a signed 64-bit offset can reach.
    static constexpr LONGLONG kMaxSize = std::numeric_limits<LONGLONG>::max() / 2;
    ULONGLONG m_position = 0;
};

bool SameName(const std::u16string& a, LPCOLESTR b) {
    return EqualsAsciiNoCase(std::u16string_view(a), std::u16string_view(b));
}
}  // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL, LPSTREAM* ppstm) {
    if (!ppstm) return E_INVALIDARG;
    *ppstm = nullptr;
    if (hGlobal) return E_INVALIDARG;
    try {
        *ppstm = new CMemoryStream;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CreateStreamOnBytes(const void* data, ULONG size, LPSTREAM* ppstm) {
    if (!ppstm || (size && !data)) return E_INVALIDARG;
    *ppstm = nullptr;
    try {
        auto* stream = new CMemoryStream;
        try {
            stream->m_data.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
        } catch (...) {
            stream->Release();
            throw;
        }
        *ppstm = stream;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT ReadStreamContents(IStream* stream, std::vector<BYTE>* contents) {
    if (!stream || !contents) return E_POINTER;
    ULARGE_INTEGER here{};
    LARGE_INTEGER zero{};
    HRESULT hr = stream->Seek(zero, STREAM_SEEK_CUR, &here);
    if (FAILED(hr)) return hr;
    hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    contents->clear();
    BYTE buffer[4096];
    ULONG n = 0;
    while (SUCCEEDED(hr) && SUCCEEDED(hr = stream->Read(buffer, sizeof buffer, &n)) && n > 0)
        contents->insert(contents->end(), buffer, buffer + n);
    LARGE_INTEGER back;
    back.QuadPart = static_cast<LONGLONG>(here.QuadPart);
    const HRESULT restored = stream->Seek(back, STREAM_SEEK_SET, nullptr);
    return FAILED(hr) ? hr : restored;
}

// ---- CMemoryPropertyBag -----------------------------------------------------

const VARIANT* CMemoryPropertyBag::Find(LPCOLESTR name) const {
    if (!name) return nullptr;
    for (const auto& [key, value] : m_values)
        if (SameName(key, name)) return &value;
    return nullptr;
}

HRESULT CMemoryPropertyBag::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) {
    if (!pszPropName || !pVar) return E_POINTER;
    const VARIANT* stored = Find(pszPropName);
    if (!stored) return E_INVALIDARG;
    COleVariant value;
    const HRESULT hr =
        pVar->vt == VT_EMPTY ? VariantCopy(&value, stored) : VariantChangeType(&value, stored, 0, pVar->vt);
    if (FAILED(hr)) {
        if (pErrorLog) {
            EXCEPINFO info{};
            info.scode = hr;
            pErrorLog->AddError(pszPropName, &info);
        }
        return hr;
    }
    VariantClear(pVar);
    *pVar = value.Detach();
    return S_OK;
}

HRESULT CMemoryPropertyBag::Write(LPCOLESTR pszPropName, VARIANT* pVar) {
    if (!pszPropName || !pVar) return E_POINTER;
    try {
        COleVariant value;
        const HRESULT hr = VariantCopyInd(&value, pVar);
        if (FAILED(hr)) return hr;
        for (auto& [key, stored] : m_values)
            if (SameName(key, pszPropName)) {
                stored = std::move(value);
                return S_OK;
            }
        m_values.emplace_back(std::u16string(pszPropName), std::move(value));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::vector<std::string> CMemoryPropertyBag::GetNames() const {
    std::vector<std::string> names;
    for (const auto& entry : m_values)
        names.push_back(Utf8FromOleString(entry.first.data(), static_cast<UINT>(entry.first.size())));
    return names;
}
