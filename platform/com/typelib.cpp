// ITypeLib and ITypeInfo over a type library description. The library copies
// the description and builds every block it hands out once; the type infos
// live inside the library and share its reference count.
#include "typelib.h"

#include <memory>
#include <string>
#include <vector>

#include "asciicase.h"
#include "comobject.h"

namespace {
class CTypeLib;

bool NameEquals(const OLECHAR* wide, const std::string& name) {
    return wide && EqualsAsciiNoCase(std::u16string_view(wide), std::string_view(name));
}

std::string Text(const char* s) { return s ? s : ""; }

// An absent string is a null BSTR.
void PutString(BSTR* out, const std::string& s) {
    if (out) *out = s.empty() ? nullptr : SysAllocStringUtf8(s);
}

struct Function {
    FUNCDESC desc{};
    std::vector<ELEMDESC> params;
    std::vector<TYPEDESC> pointees;  // targets of VT_PTR parameter types
    std::string name;
    std::vector<std::string> paramNames;
    std::string help;
};

void SetType(ELEMDESC& elem, TYPEDESC& pointee, VARTYPE vt) {
    if (vt & VT_BYREF) {
        pointee.vt = vt & ~VT_BYREF;
        elem.tdesc.vt = VT_PTR;
        elem.tdesc.lptdesc = &pointee;
        elem.paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;
    } else {
        elem.tdesc.vt = vt == VT_EMPTY ? VARTYPE{VT_VOID} : vt;
        elem.paramdesc.wParamFlags = PARAMFLAG_FIN;
    }
}

std::unique_ptr<Function> MakeFunction(const MemberData& m, INVOKEKIND invkind, std::span<const ParamData> params,
                                       VARTYPE result) {
    auto f = std::make_unique<Function>();
    f->name = m.name;
    f->help = Text(m.help);
    f->params.resize(params.size());
    f->pointees.resize(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        f->paramNames.push_back(Text(params[i].name));
        SetType(f->params[i], f->pointees[i], params[i].vt);
    }
    TYPEDESC unused{};
    SetType(f->desc.elemdescFunc, unused, result);
    f->desc.elemdescFunc.paramdesc.wParamFlags = PARAMFLAG_NONE;
    f->desc.memid = m.dispid;
    f->desc.lprgelemdescParam = f->params.empty() ? nullptr : f->params.data();
    f->desc.funckind = FUNC_DISPATCH;
    f->desc.invkind = invkind;
    f->desc.callconv = CC_STDCALL;
    f->desc.cParams = static_cast<SHORT>(params.size());
    return f;
}

class CTypeInfo final : public ITypeInfo {
public:
    CTypeInfo(CTypeLib* lib, UINT index, const TypeData& data, const std::vector<HREFTYPE>& implRefs);

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_ITypeInfo) return E_NOINTERFACE;
        *ppv = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) override {
        if (!ppTypeAttr) return E_POINTER;
        *ppTypeAttr = &m_attr;
        return S_OK;
    }
    HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override {
        if (!ppFuncDesc) return E_POINTER;
        *ppFuncDesc = nullptr;
        if (index >= m_functions.size()) return TYPE_E_ELEMENTNOTFOUND;
        *ppFuncDesc = &m_functions[index]->desc;
        return S_OK;
    }
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT cMaxNames, UINT* pcNames) override {
        if (!names || !pcNames) return E_POINTER;
        *pcNames = 0;
        const Function* f = FindFunction(memid);
        if (!f) return TYPE_E_ELEMENTNOTFOUND;
        if (cMaxNames == 0) return S_OK;
        names[(*pcNames)++] = SysAllocStringUtf8(f->name);
        for (const std::string& p : f->paramNames) {
            if (*pcNames >= cMaxNames) break;
            names[(*pcNames)++] = SysAllocStringUtf8(p);
        }
        return S_OK;
    }
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override {
        if (!pRefType) return E_POINTER;
        if (index >= m_implRefs.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = m_implRefs[index];
        return S_OK;
    }
    HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override {
        if (!pImplTypeFlags) return E_POINTER;
        if (index >= m_implFlags.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pImplTypeFlags = m_implFlags[index];
        return S_OK;
    }
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT cNames, MEMBERID* pMemId) override {
        if (!names || !pMemId) return E_POINTER;
        for (UINT i = 0; i < cNames; ++i) pMemId[i] = MEMBERID_NIL;
        if (cNames == 0) return E_INVALIDARG;
        const Function* found = nullptr;
        for (const auto& f : m_functions)
            if (NameEquals(names[0], f->name)) {
                found = f.get();
                break;
            }
        if (!found) return DISP_E_UNKNOWNNAME;
        pMemId[0] = found->desc.memid;
        HRESULT hr = S_OK;
        for (UINT i = 1; i < cNames; ++i) {
            for (std::size_t p = 0; p < found->paramNames.size(); ++p)
                if (NameEquals(names[i], found->paramNames[p])) pMemId[i] = static_cast<MEMBERID>(p);
            if (pMemId[i] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* pName, BSTR* pDoc, DWORD* pHelpContext, BSTR* pHelpFile) override;
    HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
    void ReleaseTypeAttr(TYPEATTR*) override {}
    void ReleaseFuncDesc(FUNCDESC*) override {}

    const TYPEATTR& Attr() const { return m_attr; }
    const std::string& Name() const { return m_name; }
    const std::string& Help() const { return m_help; }

private:
    const Function* FindFunction(MEMBERID memid) const {
        for (const auto& f : m_functions)
            if (f->desc.memid == memid) return f.get();
        return nullptr;
    }

    CTypeLib* m_lib;
    UINT m_index;
    TYPEATTR m_attr{};
    std::string m_name;
    std::string m_help;
    std::vector<std::unique_ptr<Function>> m_functions;
    std::vector<HREFTYPE> m_implRefs;
    std::vector<INT> m_implFlags;
};

class CTypeLib final : public CComObjectImpl<ITypeLib> {
public:
    explicit CTypeLib(const TypeLibData& data) {
        m_name = Text(data.name);
        m_help = Text(data.help);
        m_helpFile = Text(data.helpFile);
        m_attr.guid = data.libid;
        m_attr.lcid = data.lcid;
        m_attr.syskind = SYS_WIN32;
        m_attr.wMajorVerNum = data.major;
        m_attr.wMinorVerNum = data.minor;
        m_attr.wLibFlags = data.flags;
        for (UINT i = 0; i < data.types.size(); ++i) {
            std::vector<HREFTYPE> refs;
            for (const ImplData& impl : data.types[i].impls) refs.push_back(IndexOf(data, impl.iid));
            m_types.push_back(std::make_unique<CTypeInfo>(this, i, data.types[i], refs));
        }
    }

    // The index of the type with `guid`, or the type count.
    static UINT IndexOf(const TypeLibData& data, REFGUID guid) {
        UINT i = 0;
        while (i < data.types.size() && data.types[i].guid != guid) ++i;
        return i;
    }

    UINT GetTypeInfoCount() override { return static_cast<UINT>(m_types.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        if (index >= m_types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *ppTInfo = m_types[index].get();
        AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) override {
        if (!pTKind) return E_POINTER;
        if (index >= m_types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *pTKind = m_types[index]->Attr().typekind;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override {
        if (!ppTinfo) return E_POINTER;
        for (UINT i = 0; i < m_types.size(); ++i)
            if (m_types[i]->Attr().guid == guid) return GetTypeInfo(i, ppTinfo);
        *ppTinfo = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) override {
        if (!ppTLibAttr) return E_POINTER;
        *ppTLibAttr = &m_attr;
        return S_OK;
    }
    HRESULT GetDocumentation(INT index, BSTR* pName, BSTR* pDoc, DWORD* pHelpContext, BSTR* pHelpFile) override {
        if (index < -1 || index >= static_cast<INT>(m_types.size())) return TYPE_E_ELEMENTNOTFOUND;
        PutString(pName, index < 0 ? m_name : m_types[index]->Name());
        PutString(pDoc, index < 0 ? m_help : m_types[index]->Help());
        if (pHelpContext) *pHelpContext = 0;
        PutString(pHelpFile, m_helpFile);
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR*) override {}

    CTypeInfo* Type(UINT index) { return index < m_types.size() ? m_types[index].get() : nullptr; }
    const std::string& HelpFile() const { return m_helpFile; }

private:
    TLIBATTR m_attr{};
    std::string m_name;
    std::string m_help;
    std::string m_helpFile;
    std::vector<std::unique_ptr<CTypeInfo>> m_types;
};

CTypeInfo::CTypeInfo(CTypeLib* lib, UINT index, const TypeData& data, const std::vector<HREFTYPE>& implRefs)
    : m_lib(lib), m_index(index), m_name(Text(data.name)), m_help(Text(data.help)), m_implRefs(implRefs) {
    for (const MemberData& m : data.members) {
        if (m.kind == MemberKind::method) {
            m_functions.push_back(MakeFunction(m, INVOKE_FUNC, m.params, m.type));
        } else {
            m_functions.push_back(MakeFunction(m, INVOKE_PROPERTYGET, {}, m.type));
            if (m.kind == MemberKind::property) {
                const ParamData value[] = {{"", m.type}};
                m_functions.push_back(MakeFunction(m, INVOKE_PROPERTYPUT, value, VT_EMPTY));
            }
        }
    }
    for (const ImplData& impl : data.impls) m_implFlags.push_back(impl.flags);
    m_attr.guid = data.guid;
    m_attr.memidConstructor = MEMBERID_NIL;
    m_attr.memidDestructor = MEMBERID_NIL;
    m_attr.typekind = data.kind;
    m_attr.cFuncs = static_cast<WORD>(m_functions.size());
    m_attr.cImplTypes = static_cast<WORD>(m_implRefs.size());
    m_attr.cbSizeVft = data.kind == TKIND_DISPATCH ? static_cast<WORD>(7 * sizeof(void*)) : 0;
    m_attr.cbAlignment = sizeof(void*);
    m_attr.wTypeFlags = data.flags;
    m_attr.tdescAlias.vt = VT_EMPTY;
}

ULONG CTypeInfo::AddRef() { return m_lib->AddRef(); }
ULONG CTypeInfo::Release() { return m_lib->Release(); }

HRESULT CTypeInfo::GetDocumentation(MEMBERID memid, BSTR* pName, BSTR* pDoc, DWORD* pHelpContext, BSTR* pHelpFile) {
    const std::string* name = &m_name;
    const std::string* help = &m_help;
    if (memid != MEMBERID_NIL) {
        const Function* f = FindFunction(memid);
        if (!f) return TYPE_E_ELEMENTNOTFOUND;
        name = &f->name;
        help = &f->help;
    }
    PutString(pName, *name);
    PutString(pDoc, *help);
    if (pHelpContext) *pHelpContext = 0;
    PutString(pHelpFile, m_lib->HelpFile());
    return S_OK;
}

HRESULT CTypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    CTypeInfo* target = m_lib->Type(hRefType);
    if (!target) return TYPE_E_ELEMENTNOTFOUND;
    target->AddRef();
    *ppTInfo = target;
    return S_OK;
}

HRESULT CTypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
    if (ppTLib) {
        m_lib->AddRef();
        *ppTLib = m_lib;
    }
    if (pIndex) *pIndex = m_index;
    return S_OK;
}

bool IsValid(const TypeLibData& data) {
    if (!data.name) return false;
    for (std::size_t i = 0; i < data.types.size(); ++i) {
        const TypeData& t = data.types[i];
        if (!t.name || (t.kind != TKIND_DISPATCH && t.kind != TKIND_COCLASS)) return false;
        if (CTypeLib::IndexOf(data, t.guid) != i) return false;  // a GUID used twice
        for (const MemberData& m : t.members)
            if (!m.name || (m.kind != MemberKind::method && !m.params.empty()) || m.params.size() > 0x7FFF)
                return false;
        for (const ImplData& impl : t.impls) {
            const UINT target = CTypeLib::IndexOf(data, impl.iid);
            if (target >= data.types.size() || data.types[target].kind != TKIND_DISPATCH) return false;
        }
    }
    return true;
}
}  // namespace

HRESULT CreateTypeLibFromData(const TypeLibData& data, ITypeLib** ppTLib) {
    if (!ppTLib) return E_POINTER;
    *ppTLib = nullptr;
    if (!IsValid(data)) return E_INVALIDARG;
    try {
        *ppTLib = new CTypeLib(data);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
