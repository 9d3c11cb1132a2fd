// A type library as constant data, so that a module carries the description
// of its classes and interfaces in its image, and ITypeLib / ITypeInfo over
// it for containers that walk it:
//
//   constexpr ParamData kAttribParams[] = {{"x", VT_BYREF | VT_I4}, ...};
//   constexpr MemberData kMembers[] = {
//       {"server", 1, MemberKind::property, VT_BSTR},
//       {"GetImgAttrib", 9, MemberKind::method, VT_EMPTY, kAttribParams},
//   };
//   constexpr ImplData kImpls[] = {{kIid, IMPLTYPEFLAG_FDEFAULT}, {kEventIid, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
//   constexpr TypeData kTypes[] = {{TKIND_DISPATCH, "_DThing", kIid, TYPEFLAG_FHIDDEN, "help", kMembers}, ...};
//   constexpr TypeLibData kLib = {"THINGLib", kLibid, 1, 0, 0, LIBFLAG_FCONTROL, "help", "thing.hlp", kTypes};
//
// A property appears as a property-get and a property-put function with one
// identifier (the put takes one parameter of the property's type); a
// read-only property only as the get. By-reference parameters appear as
// VT_PTR to their type.
#pragma once

#include <span>
#include <string>

#include "oaidl.h"

struct ParamData {
    const char* name;
    VARTYPE vt;  // VT_BYREF | x: by reference
};

enum class MemberKind : BYTE { method, property, readonlyProperty };

struct MemberData {
    const char* name;
    DISPID dispid;
    MemberKind kind;
    VARTYPE type;  // property type, or method result (VT_EMPTY: none)
    std::span<const ParamData> params = {};
    const char* help = nullptr;
};

// An interface a coclass implements, by its identifier in the same library.
struct ImplData {
    IID iid;
    INT flags;  // IMPLTYPEFLAG_*
};

struct TypeData {
    TYPEKIND kind;  // TKIND_DISPATCH or TKIND_COCLASS
    const char* name;
    GUID guid;
    WORD flags;  // TYPEFLAG_*
    const char* help = nullptr;
    std::span<const MemberData> members = {};  // dispatch interfaces
    std::span<const ImplData> impls = {};      // coclasses
};

struct TypeLibData {
    const char* name;
    GUID libid;
    WORD major;
    WORD minor;
    LCID lcid;
    WORD flags;  // LIBFLAG_*
    const char* help;
    const char* helpFile;
    std::span<const TypeData> types;
};

// An ITypeLib over a copy of `data` (the copy lets it outlive the module the
// data lives in). E_INVALIDARG when the description contradicts itself: a
// type kind other than dispatch interface or coclass, an implemented
// interface that is not in the library, two types with one GUID, a missing name.
HRESULT CreateTypeLibFromData(const TypeLibData& data, ITypeLib** ppTLib);

// Registration of a type library under HKEY_CLASSES_ROOT\TypeLib\{libid}\{major}.{minor}
// (hexadecimal version): default value the library's help string (else its
// name), FLAGS, {lcid}\win32 = the module holding it, HELPDIR; and for each
// dispatch interface Interface\{iid} = its name, with ProxyStubClsid and
// ProxyStubClsid32 (the automation marshaller) and TypeLib = {libid} with
// the value Version. Registering again overwrites. Unregistering removes that
// version's key, the Interface keys that name this library and version, and
// the {libid} key once no version is left; it fails with
// TYPE_E_REGISTRYACCESS when the version is not registered, unless interface
// or class keys still name the library (a registration left partial): then the
// interface keys go and it succeeds. Paths are UTF-8.
HRESULT RegisterTypeLib(ITypeLib* ptlib, const char* szFullPath, const char* szHelpDir);
HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);
// The registered module path of a type library; TYPE_E_LIBNOTREGISTERED when none.
HRESULT QueryPathOfRegTypeLib(REFGUID guid, WORD wMaj, WORD wMin, LCID lcid, std::string* path);
