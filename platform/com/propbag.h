// A property bag in memory: what a container hands a control to save its
// properties into by name, and later to load them from. Names compare without
// regard to case.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "comobject.h"

class CMemoryPropertyBag final : public CComObjectImpl<IPropertyBag> {
public:
    CMemoryPropertyBag() = default;

    // Read: the stored value converted to pVar->vt (VT_EMPTY: as stored);
    // E_INVALIDARG for an unknown name, the conversion's error otherwise
    // (also reported to pErrorLog). Write: stores a copy, replacing any value
    // of that name.
    HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
    HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) override;

    // The stored names (UTF-8) in the order first written.
    std::vector<std::string> GetNames() const;
    const VARIANT* Find(LPCOLESTR name) const;

private:
    std::vector<std::pair<std::u16string, COleVariant>> m_values;
};
