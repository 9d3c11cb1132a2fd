// The property exchange objects: property bag, stream and reset.
#include "propexch.h"

#include <cstring>

namespace {
std::size_t SizeOf(VARTYPE vt) { return vt == VT_I4 ? sizeof(LONG) : 0; }
}  // namespace

BOOL CPropExchange::ExchangeVersion(DWORD& dwVersionLoaded, DWORD dwVersionDefault, BOOL bConvert) {
    LONG value = LONG(IsLoading() || bConvert ? dwVersionDefault : dwVersionLoaded);
    const LONG fallback = LONG(dwVersionDefault);
    if (!ExchangeProp("_Version", VT_I4, &value, &fallback)) return FALSE;
    if (IsLoading()) dwVersionLoaded = DWORD(value);
    return TRUE;
}

BOOL PX_Long(CPropExchange* pPX, LPCTSTR pszPropName, LONG& lValue) {
    return pPX->ExchangeProp(pszPropName, VT_I4, &lValue, nullptr);
}

BOOL PX_Long(CPropExchange* pPX, LPCTSTR pszPropName, LONG& lValue, LONG lDefault) {
    return pPX->ExchangeProp(pszPropName, VT_I4, &lValue, &lDefault);
}

CPropbagPropExchange::CPropbagPropExchange(IPropertyBag* pPropBag, IErrorLog* pErrorLog, BOOL bLoading)
    : CPropExchange(bLoading), m_pPropBag(pPropBag), m_pErrorLog(pErrorLog) {}

BOOL CPropbagPropExchange::ExchangeProp(LPCTSTR pszPropName, VARTYPE vtProp, void* pvProp, const void* pvDefault) {
    if (!pszPropName || !pvProp || SizeOf(vtProp) == 0) return Fail(E_INVALIDARG);
    const std::u16string name = OleStringFromUtf8(pszPropName);
    COleVariant value;
    if (!IsLoading()) {
        value.vt = VT_I4;
        value.lVal = *static_cast<const LONG*>(pvProp);
        const HRESULT hr = m_pPropBag->Write(name.c_str(), &value);
        return SUCCEEDED(hr) ? TRUE : Fail(hr);
    }
    value.vt = vtProp;
    if (FAILED(m_pPropBag->Read(name.c_str(), &value, m_pErrorLog)) || value.vt != vtProp) {
        if (!pvDefault) return FALSE;
        std::memcpy(pvProp, pvDefault, SizeOf(vtProp));
        return TRUE;
    }
    *static_cast<LONG*>(pvProp) = value.lVal;
    return TRUE;
}

CStreamPropExchange::CStreamPropExchange(IStream* pStream, BOOL bLoading)
    : CPropExchange(bLoading), m_pStream(pStream) {}

BOOL CStreamPropExchange::ExchangeProp(LPCTSTR, VARTYPE vtProp, void* pvProp, const void*) {
    if (!pvProp || SizeOf(vtProp) == 0) return Fail(E_INVALIDARG);
    if (FAILED(GetResult())) return FALSE;  // the values after a failure are not where they seem
    BYTE bytes[4];
    if (!IsLoading()) {
        const auto v = static_cast<std::uint32_t>(*static_cast<const LONG*>(pvProp));
        for (int i = 0; i < 4; ++i) bytes[i] = BYTE(v >> (8 * i));
        ULONG written = 0;
        const HRESULT hr = m_pStream->Write(bytes, sizeof bytes, &written);
        if (FAILED(hr)) return Fail(hr);
        return written == sizeof bytes ? TRUE : Fail(STG_E_MEDIUMFULL);
    }
    ULONG read = 0;
    const HRESULT hr = m_pStream->Read(bytes, sizeof bytes, &read);
    if (FAILED(hr)) return Fail(hr);
    if (read != sizeof bytes) return Fail(E_FAIL);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t(bytes[i]) << (8 * i);
    *static_cast<LONG*>(pvProp) = static_cast<LONG>(v);
    return TRUE;
}

BOOL CResetPropExchange::ExchangeProp(LPCTSTR, VARTYPE vtProp, void* pvProp, const void* pvDefault) {
    if (!pvProp || SizeOf(vtProp) == 0) return Fail(E_INVALIDARG);
    if (pvDefault) std::memcpy(pvProp, pvDefault, SizeOf(vtProp));
    return TRUE;
}
