// Walks ITypeLib / ITypeInfo the way a container learns a component's members.
#include "describe.h"

#include <cstdio>
#include <span>
#include <vector>

namespace ziv::grab {

namespace {

struct FlagWord {
    unsigned flag;
    const char* word;
};

constexpr FlagWord kLibFlags[] = {
    {LIBFLAG_FRESTRICTED, "restricted"},
    {LIBFLAG_FCONTROL, "control"},
    {LIBFLAG_FHIDDEN, "hidden"},
};

// TYPEFLAG_FCANCREATE and TYPEFLAG_FDISPATCHABLE are what a coclass and a
// dispinterface are anyway; their absence is shown instead (noncreatable).
constexpr FlagWord kTypeFlags[] = {
    {TYPEFLAG_FAPPOBJECT, "appobject"},
    {TYPEFLAG_FLICENSED, "licensed"},
    {TYPEFLAG_FPREDECLID, "predeclid"},
    {TYPEFLAG_FHIDDEN, "hidden"},
    {TYPEFLAG_FCONTROL, "control"},
    {TYPEFLAG_FDUAL, "dual"},
    {TYPEFLAG_FNONEXTENSIBLE, "nonextensible"},
    {TYPEFLAG_FOLEAUTOMATION, "oleautomation"},
    {TYPEFLAG_FRESTRICTED, "restricted"},
    {TYPEFLAG_FAGGREGATABLE, "aggregatable"},
    {TYPEFLAG_FREPLACEABLE, "replaceable"},
};

constexpr FlagWord kImplFlags[] = {
    {IMPLTYPEFLAG_FDEFAULT, "default"},
    {IMPLTYPEFLAG_FSOURCE, "source"},
    {IMPLTYPEFLAG_FRESTRICTED, "restricted"},
    {IMPLTYPEFLAG_FDEFAULTVTABLE, "defaultvtable"},
};

constexpr FlagWord kParamFlags[] = {
    {PARAMFLAG_FIN, "in"},         {PARAMFLAG_FOUT, "out"},      {PARAMFLAG_FLCID, "lcid"},
    {PARAMFLAG_FRETVAL, "retval"}, {PARAMFLAG_FOPT, "optional"},
};

constexpr struct {
    VARTYPE vt;
    const char* name;
} kTypeNames[] = {
    {VT_EMPTY, "void"},        {VT_VOID, "void"},
    {VT_I2, "short"},          {VT_I4, "long"},
    {VT_R4, "float"},          {VT_R8, "double"},
    {VT_CY, "CURRENCY"},       {VT_DATE, "DATE"},
    {VT_BSTR, "BSTR"},         {VT_DISPATCH, "IDispatch*"},
    {VT_ERROR, "SCODE"},       {VT_BOOL, "VARIANT_BOOL"},
    {VT_VARIANT, "VARIANT"},   {VT_UNKNOWN, "IUnknown*"},
    {VT_DECIMAL, "DECIMAL"},   {VT_I1, "char"},
    {VT_UI1, "unsigned char"}, {VT_UI2, "unsigned short"},
    {VT_UI4, "unsigned long"}, {VT_I8, "int64"},
    {VT_UI8, "uint64"},        {VT_INT, "int"},
    {VT_UINT, "unsigned int"}, {VT_HRESULT, "HRESULT"},
};

// The type of a parameter or result: "long", "BSTR", "long*", ...
std::string describe_type(const TYPEDESC& type) {
    if (type.vt == VT_PTR) return (type.lptdesc ? describe_type(*type.lptdesc) : "void") + "*";
    if (type.vt & VT_BYREF) {
        TYPEDESC plain = type;
        plain.vt = static_cast<VARTYPE>(type.vt & ~VT_BYREF);
        return describe_type(plain) + "*";
    }
    if (type.vt & VT_ARRAY) {
        TYPEDESC plain = type;
        plain.vt = static_cast<VARTYPE>(type.vt & ~VT_ARRAY);
        return "SAFEARRAY(" + describe_type(plain) + ")";
    }
    for (const auto& t : kTypeNames)
        if (t.vt == type.vt) return t.name;
    return "vartype(" + std::to_string(type.vt) + ")";
}

void append_flags(std::vector<std::string>& out, unsigned flags, std::span<const FlagWord> words) {
    for (const FlagWord& w : words)
        if (flags & w.flag) out.emplace_back(w.word);
}

std::string join(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : separator) + p;
    return text;
}

std::string hex(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

// "1AB0D3D2-..." without the braces, as IDL writes a uuid.
std::string bare_guid(REFGUID guid) {
    const std::string text = StringFromGUID(guid);
    return text.size() > 2 ? text.substr(1, text.size() - 2) : text;
}

// A string as an IDL literal.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string take(BSTR text) {
    std::string utf8 = Utf8FromBstr(text);
    SysFreeString(text);
    return utf8;
}

std::string failed(const char* what, HRESULT hr) {
    return std::string("// ") + what + ": " + HResultText(hr) + " (" + hex(static_cast<std::uint32_t>(hr)) + ")\n";
}

// The attribute block "[\n  uuid(...),\n  ...\n]\n" at `indent`.
std::string attribute_block(const std::vector<std::string>& attributes, const std::string& indent) {
    std::string text = indent + "[\n";
    for (std::size_t i = 0; i < attributes.size(); ++i)
        text += indent + "  " + attributes[i] + (i + 1 < attributes.size() ? ",\n" : "\n");
    return text + indent + "]\n";
}

struct TypeDoc {
    std::string name, help;
};

TypeDoc type_doc(ITypeInfo* info, MEMBERID memid) {
    BSTR name = nullptr, help = nullptr;
    if (FAILED(info->GetDocumentation(memid, &name, &help, nullptr, nullptr))) return {};
    return {take(name), take(help)};
}

// One member of a dispatch interface, as gathered from its functions.
struct Member {
    MEMBERID id = 0;
    std::string name, help;
    bool property = false;
    bool has_put = false;
    std::string type;  // property type or method result
    std::vector<std::string> params;
};

std::string describe_param(const ELEMDESC& param, const std::string& name) {
    std::vector<std::string> flags;
    append_flags(flags, param.paramdesc.wParamFlags, kParamFlags);
    std::string text;
    if (!flags.empty()) text.append("[").append(join(flags, ", ")).append("] ");
    text += describe_type(param.tdesc);
    if (!name.empty()) text.append(" ").append(name);
    return text;
}

std::string describe_dispinterface(ITypeInfo* info, const TYPEATTR& attr) {
    std::vector<Member> members;
    std::string problems;
    for (UINT i = 0; i < attr.cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        if (const HRESULT hr = info->GetFuncDesc(i, &func); FAILED(hr)) {
            problems += "        " + failed(("member " + std::to_string(i)).c_str(), hr);
            continue;
        }
        const bool get = func->invkind == INVOKE_PROPERTYGET;
        const bool put = func->invkind == INVOKE_PROPERTYPUT || func->invkind == INVOKE_PROPERTYPUTREF;
        Member* member = nullptr;
        if (get || put)
            for (Member& m : members)
                if (m.property && m.id == func->memid) member = &m;
        if (!member) {
            Member m;
            m.id = func->memid;
            m.property = get || put;
            const TypeDoc doc = type_doc(info, func->memid);
            m.name = doc.name;
            m.help = doc.help;
            members.push_back(m);
            member = &members.back();
        }
        if (put) {
            member->has_put = true;
            if (member->type.empty() && func->cParams > 0)
                member->type = describe_type(func->lprgelemdescParam[0].tdesc);
        } else if (get) {
            member->type = describe_type(func->elemdescFunc.tdesc);
        } else {
            member->type = describe_type(func->elemdescFunc.tdesc);
            std::vector<BSTR> names(static_cast<std::size_t>(func->cParams) + 1, nullptr);
            UINT count = 0;
            info->GetNames(func->memid, names.data(), static_cast<UINT>(names.size()), &count);
            for (SHORT p = 0; p < func->cParams; ++p) {
                const std::string name = std::size_t(p) + 1 < count ? Utf8FromBstr(names[p + 1]) : "";
                member->params.push_back(describe_param(func->lprgelemdescParam[p], name));
            }
            for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        }
        info->ReleaseFuncDesc(func);
    }

    auto line = [](const Member& m) {
        std::vector<std::string> attributes{"id(" + std::to_string(m.id) + ")"};
        if (m.property && !m.has_put) attributes.emplace_back("readonly");
        if (!m.help.empty()) attributes.push_back("helpstring(" + quoted(m.help) + ")");
        std::string text = "        [" + join(attributes, ", ") + "] " + m.type + " " + m.name;
        if (!m.property) text += "(" + join(m.params, ", ") + ")";
        return text + ";\n";
    };
    std::string text = "    properties:\n";
    for (const Member& m : members)
        if (m.property) text += line(m);
    text += "    methods:\n";
    for (const Member& m : members)
        if (!m.property) text += line(m);
    return text + problems;
}

std::string describe_coclass(ITypeInfo* info, const TYPEATTR& attr) {
    std::string text;
    for (UINT i = 0; i < attr.cImplTypes; ++i) {
        HREFTYPE ref = 0;
        INT flags = 0;
        ITypeInfo* impl = nullptr;
        HRESULT hr = info->GetRefTypeOfImplType(i, &ref);
        if (SUCCEEDED(hr)) hr = info->GetImplTypeFlags(i, &flags);
        if (SUCCEEDED(hr)) hr = info->GetRefTypeInfo(ref, &impl);
        if (FAILED(hr)) {
            text += "        " + failed(("implemented interface " + std::to_string(i)).c_str(), hr);
            continue;
        }
        TYPEATTR* impl_attr = nullptr;
        const bool dispatch = SUCCEEDED(impl->GetTypeAttr(&impl_attr)) && impl_attr->typekind == TKIND_DISPATCH;
        if (impl_attr) impl->ReleaseTypeAttr(impl_attr);
        std::vector<std::string> words;
        append_flags(words, static_cast<unsigned>(flags), kImplFlags);
        text += "        ";
        if (!words.empty()) text.append("[").append(join(words, ", ")).append("] ");
        text.append(dispatch ? "dispinterface " : "interface ").append(type_doc(impl, MEMBERID_NIL).name).append(";\n");
        impl->Release();
    }
    return text;
}

std::string describe_type_info(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    if (const HRESULT hr = info->GetTypeAttr(&attr); FAILED(hr)) return "    " + failed("type", hr);
    const TypeDoc doc = type_doc(info, MEMBERID_NIL);
    std::vector<std::string> attributes{"uuid(" + bare_guid(attr->guid) + ")"};
    if (!doc.help.empty()) attributes.push_back("helpstring(" + quoted(doc.help) + ")");
    append_flags(attributes, attr->wTypeFlags, kTypeFlags);
    std::string text;
    if (attr->typekind == TKIND_DISPATCH) {
        text = attribute_block(attributes, "    ") + "    dispinterface " + doc.name + "\n    {\n" +
               describe_dispinterface(info, *attr) + "    };\n";
    } else if (attr->typekind == TKIND_COCLASS) {
        if (!(attr->wTypeFlags & TYPEFLAG_FCANCREATE)) attributes.emplace_back("noncreatable");
        text = attribute_block(attributes, "    ") + "    coclass " + doc.name + "\n    {\n" +
               describe_coclass(info, *attr) + "    };\n";
    } else {
        text = "    // " + doc.name + ": a type of kind " + std::to_string(attr->typekind) + "\n";
    }
    info->ReleaseTypeAttr(attr);
    return text;
}

}  // namespace

std::string describe_type_library(ITypeLib* lib) {
    if (!lib) return "// no type library\n";
    TLIBATTR* attr = nullptr;
    if (const HRESULT hr = lib->GetLibAttr(&attr); FAILED(hr)) return failed("type library", hr);
    BSTR name = nullptr, help = nullptr, file = nullptr;
    DWORD context = 0;
    lib->GetDocumentation(-1, &name, &help, &context, &file);
    const std::string lib_name = take(name), lib_help = take(help), help_file = take(file);

    std::vector<std::string> attributes{
        "uuid(" + bare_guid(attr->guid) + ")",
        "version(" + std::to_string(attr->wMajorVerNum) + "." + std::to_string(attr->wMinorVerNum) + ")"};
    if (attr->lcid) attributes.push_back("lcid(" + hex(attr->lcid) + ")");
    if (!lib_help.empty()) attributes.push_back("helpstring(" + quoted(lib_help) + ")");
    if (!help_file.empty()) attributes.push_back("helpfile(" + quoted(help_file) + ")");
    if (context) attributes.push_back("helpcontext(" + hex(context) + ")");
    append_flags(attributes, attr->wLibFlags, kLibFlags);
    lib->ReleaseTLibAttr(attr);

    std::string text = attribute_block(attributes, "") + "library " + lib_name + "\n{\n";
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ITypeInfo* info = nullptr;
        if (const HRESULT hr = lib->GetTypeInfo(i, &info); FAILED(hr)) {
            text += "    " + failed(("type " + std::to_string(i)).c_str(), hr);
            continue;
        }
        if (i) text += "\n";
        text += describe_type_info(info);
        info->Release();
    }
    return text + "};\n";
}

}  // namespace ziv::grab
