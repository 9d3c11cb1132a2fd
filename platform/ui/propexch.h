// Saving and loading a control's properties. The control describes its state
// once, in DoPropExchange, as a sequence of PX_ calls on an exchange object;
// the object decides the direction and the medium: a property bag (values by
// name), a stream (values in exchange order), or a reset to the defaults.
//
// The stream layout is ours: each value in the order exchanged, with no names
// and no padding; a long is 4 bytes, little-endian. A version number comes
// first ("_Version"), so a later layout can be told from this one.
#pragma once

#include "comobject.h"

class CPropExchange {
public:
    virtual ~CPropExchange() = default;
    CPropExchange(const CPropExchange&) = delete;
    CPropExchange& operator=(const CPropExchange&) = delete;

    BOOL IsLoading() const { return m_bLoading; }

    // Saving writes dwVersionDefault (bConvert) or dwVersionLoaded as "_Version";
    // loading reads it into dwVersionLoaded, dwVersionDefault when absent.
    virtual BOOL ExchangeVersion(DWORD& dwVersionLoaded, DWORD dwVersionDefault, BOOL bConvert);
    // One property of type vtProp at pvProp (VT_I4: a LONG). Loading a
    // property the medium does not hold stores *pvDefault when given and
    // fails otherwise, leaving the value alone.
    virtual BOOL ExchangeProp(LPCTSTR pszPropName, VARTYPE vtProp, void* pvProp, const void* pvDefault) = 0;

    // The first failure of the exchange (a medium that cannot be read or
    // written), or S_OK.
    HRESULT GetResult() const { return m_hrResult; }

protected:
    explicit CPropExchange(BOOL bLoading) : m_bLoading(bLoading) {}
    BOOL Fail(HRESULT hr) {
        if (SUCCEEDED(m_hrResult)) m_hrResult = hr;
        return FALSE;
    }

private:
    BOOL m_bLoading;
    HRESULT m_hrResult = S_OK;
};

BOOL PX_Long(CPropExchange* pPX, LPCTSTR pszPropName, LONG& lValue);
BOOL PX_Long(CPropExchange* pPX, LPCTSTR pszPropName, LONG& lValue, LONG lDefault);

// Values by name in a property bag. Loading a value the bag lacks is not a
// failure of the exchange: the default takes its place.
class CPropbagPropExchange final : public CPropExchange {
public:
    CPropbagPropExchange(IPropertyBag* pPropBag, IErrorLog* pErrorLog, BOOL bLoading);
    BOOL ExchangeProp(LPCTSTR pszPropName, VARTYPE vtProp, void* pvProp, const void* pvDefault) override;

private:
    IPropertyBag* m_pPropBag;
    IErrorLog* m_pErrorLog;
};

// Values in exchange order in a stream. A stream that ends early fails the
// exchange (E_FAIL); later values are not read.
class CStreamPropExchange final : public CPropExchange {
public:
    CStreamPropExchange(IStream* pStream, BOOL bLoading);
    BOOL ExchangeProp(LPCTSTR pszPropName, VARTYPE vtProp, void* pvProp, const void* pvDefault) override;

private:
    IStream* m_pStream;
};

// Loading without a medium: every property takes its default.
class CResetPropExchange final : public CPropExchange {
public:
    CResetPropExchange() : CPropExchange(TRUE) {}
    BOOL ExchangeProp(LPCTSTR pszPropName, VARTYPE vtProp, void* pvProp, const void* pvDefault) override;
};
