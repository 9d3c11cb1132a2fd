// Dispatch tables: a class lists its automation members as data (name,
// dispatch identifier, parameter and result types, and the member functions
// that do the work), and one engine answers IDispatch::GetIDsOfNames and
// IDispatch::Invoke from that list. A table reads:
//
//   static constexpr DispatchEntry kDispatchMap[] = {
//       DispProperty<&C::GetServer, &C::SetServer, VT_BSTR>("server", 1),
//       DispMethod<&C::RequestImage, VT_EMPTY, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4>("RequestImage", 5),
//       DispMethod<&C::GetImgAttrib, VT_EMPTY, VT_BYREF | VT_I4, ...>("GetImgAttrib", 9),
//   };
//
// Parameters are listed in declaration order. The member functions take and
// return plain C++ values: VT_I4 as an integer, VT_BOOL as BOOL or bool (any
// non-zero value is true; results become VARIANT_TRUE/FALSE), VT_BSTR as
// const char* / std::string (UTF-8, valid for the call) or BSTR (borrowed when
// passed in; a returned BSTR is handed to the caller), and VT_BYREF|x as a
// pointer the callee writes through.
#pragma once

#include <exception>
#include <new>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "comobject.h"

constexpr int kMaxDispParams = 16;

// Parameter types kept inside the entry, so that tables are constant data.
struct VarTypeList {
    VARTYPE types[kMaxDispParams];
    BYTE count;
    constexpr std::span<const VARTYPE> Span() const { return {types, count}; }
};

template <VARTYPE... Vts>
constexpr VarTypeList MakeVarTypeList() {
    static_assert(sizeof...(Vts) <= kMaxDispParams, "too many parameters");
    return VarTypeList{{Vts...}, static_cast<BYTE>(sizeof...(Vts))};
}

enum class DispKind : BYTE { method, property };

struct DispatchEntry {
    const char* name;
    DISPID dispid;
    DispKind kind;
    VARTYPE type;  // property type, or method result (VT_EMPTY: none)
    VarTypeList params;
    // The thunks get the object and values already coerced to the declared
    // types; they write a result into a VT_EMPTY variant.
    HRESULT (*get)(void* object, VARIANT* result);
    HRESULT (*set)(void* object, VARIANT* value);  // null: read-only property
    HRESULT (*method)(void* object, VARIANT* args, VARIANT* result);
};

const DispatchEntry* FindDispatchEntry(std::span<const DispatchEntry> table, DISPID dispid);

// Case-insensitive; the first name is the member. Names of parameters are not
// known: any further names give DISPID_UNKNOWN and DISP_E_UNKNOWNNAME.
HRESULT DispatchGetIDsOfNames(std::span<const DispatchEntry> table, LPOLESTR* names, UINT count, DISPID* ids);

// Invoke for `object` (the class whose members the table names). Arguments
// arrive last first; a put passes its value as the one argument, named
// DISPID_PROPERTYPUT. Errors: DISP_E_MEMBERNOTFOUND (unknown identifier, or
// the wrong kind of access), DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTFOUND (a put
// without its named argument), DISP_E_NONAMEDARGS, DISP_E_TYPEMISMATCH and
// DISP_E_OVERFLOW (with *argErr the index in rgvarg), DISP_E_EXCEPTION (a C++
// exception from the member, described in *excepInfo), E_OUTOFMEMORY.
HRESULT DispatchInvoke(std::span<const DispatchEntry> table, void* object, DISPID dispid, REFIID riid, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);

// The positional arguments of `params`, coerced to `types` (declaration
// order) into `out`. A VT_BYREF type takes a reference of that type, or a
// reference to a VARIANT whose value is converted in place; `out` then holds
// the reference. Count and type errors as for DispatchInvoke.
HRESULT DispatchCoerceArguments(const DISPPARAMS* params, std::span<const VARTYPE> types, std::vector<COleVariant>* out,
                                UINT* argErr);

// Calls `body` the way DispatchInvoke calls a member: C++ exceptions become
// E_OUTOFMEMORY or DISP_E_EXCEPTION (described in *excepInfo).
template <class Body>
HRESULT DispatchGuardedCall(EXCEPINFO* excepInfo, Body&& body);
HRESULT DispatchExceptionResult(EXCEPINFO* excepInfo, const char* what, bool outOfMemory);

template <class Body>
HRESULT DispatchGuardedCall(EXCEPINFO* excepInfo, Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return DispatchExceptionResult(excepInfo, nullptr, true);
    } catch (const std::exception& e) {
        return DispatchExceptionResult(excepInfo, e.what(), false);
    } catch (...) {
        return DispatchExceptionResult(excepInfo, "unknown exception", false);
    }
}

namespace dispatch_detail {
template <class>
inline constexpr bool kAlwaysFalse = false;

template <class>
struct MemberTraits;
template <class C, class R, class... A>
struct MemberTraits<R (C::*)(A...)> {
    using Class = C;
    using Result = R;
    using Args = std::tuple<A...>;
};
template <class C, class R, class... A>
struct MemberTraits<R (C::*)(A...) const> : MemberTraits<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct MemberTraits<R (C::*)(A...) noexcept> : MemberTraits<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct MemberTraits<R (C::*)(A...) const noexcept> : MemberTraits<R (C::*)(A...)> {};

// Turns a coerced VARIANT into the C++ parameter type P; keeps a converted
// string alive for the call.
template <VARTYPE Vt, class P>
class ArgHolder {
    using T = std::remove_cvref_t<P>;
    static constexpr bool kUtf8 = std::is_same_v<T, const char*> || std::is_same_v<T, char*> ||
                                  std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view>;

public:
    explicit ArgHolder(VARIANT& v) : m_v(v) {
        if constexpr (Vt == VT_BSTR && kUtf8) m_text = Utf8FromBstr(v.bstrVal);
    }
    P Get() {
        if constexpr ((Vt & VT_BYREF) != 0) {
            static_assert(std::is_pointer_v<T>, "a by-reference parameter is a pointer");
            return static_cast<T>(m_v.byref);
        } else if constexpr (Vt == VT_BSTR) {
            if constexpr (std::is_same_v<T, const char*>) return m_text.c_str();
            else if constexpr (kUtf8) return m_text;
            else if constexpr (std::is_same_v<T, BSTR> || std::is_same_v<T, const OLECHAR*>) return m_v.bstrVal;
            else static_assert(kAlwaysFalse<T>, "unsupported string parameter type");
        } else if constexpr (Vt == VT_BOOL) {
            return static_cast<T>(m_v.boolVal != 0);
        } else if constexpr (Vt == VT_I4) {
            return static_cast<T>(m_v.lVal);
        } else {
            static_assert(kAlwaysFalse<T>, "unsupported parameter type");
        }
    }

private:
    VARIANT& m_v;
    std::string m_text;
};

// Writes a member's C++ result into `out` (VT_EMPTY on entry) as type Vt.
template <VARTYPE Vt, class R>
HRESULT StoreResult(R&& value, VARIANT* out) {
    using T = std::remove_cvref_t<R>;
    if constexpr (Vt == VT_BSTR) {
        BSTR text = nullptr;
        bool wanted = true;
        if constexpr (std::is_same_v<T, BSTR>) {
            text = value;  // the member allocated it for the caller
            wanted = false;
        } else if constexpr (std::is_same_v<T, const OLECHAR*>) {
            text = SysAllocString(value);
            wanted = value != nullptr;
        } else if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, char*>) {
            text = value ? SysAllocStringUtf8(value) : nullptr;
            wanted = value != nullptr;
        } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
            text = SysAllocStringUtf8(std::string_view(value));
        } else {
            static_assert(kAlwaysFalse<T>, "unsupported string result type");
        }
        if (!text && wanted) return E_OUTOFMEMORY;
        out->vt = VT_BSTR;
        out->bstrVal = text;
    } else if constexpr (Vt == VT_BOOL) {
        out->vt = VT_BOOL;
        out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    } else if constexpr (Vt == VT_I4) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(value);
    } else {
        static_assert(kAlwaysFalse<T>, "unsupported result type");
    }
    return S_OK;
}

template <VARTYPE Result, bool LastFirst, VARTYPE... Vts, class F, class... Ps, std::size_t... I>
HRESULT CallWith(F&& call, VARIANT* args, VARIANT* result, std::tuple<Ps...>*, std::index_sequence<I...>) {
    std::tuple<ArgHolder<Vts, Ps>...> holders(args[LastFirst ? sizeof...(I) - 1 - I : I]...);
    using R = decltype(call(std::get<I>(holders).Get()...));
    if constexpr (std::is_void_v<R>) {
        call(std::get<I>(holders).Get()...);
        return S_OK;
    } else if constexpr (Result == VT_EMPTY) {
        (void)call(std::get<I>(holders).Get()...);
        return S_OK;
    } else {
        return StoreResult<Result>(call(std::get<I>(holders).Get()...), result);
    }
}

// Calls `call` (whose parameter types are Args, a std::tuple) with `args`
// converted by the declared types Vts.
template <class Args, VARTYPE Result, VARTYPE... Vts, class F>
HRESULT CallConverted(F&& call, VARIANT* args, VARIANT* result) {
    static_assert(std::tuple_size_v<Args> == sizeof...(Vts), "one VARTYPE per parameter");
    return CallWith<Result, false, Vts...>(std::forward<F>(call), args, result, static_cast<Args*>(nullptr),
                                           std::make_index_sequence<sizeof...(Vts)>{});
}
// The same for `args` last first, as DISPPARAMS carries them (events: no result).
template <class Args, VARTYPE... Vts, class F>
HRESULT CallConvertedLastFirst(F&& call, VARIANT* args) {
    static_assert(std::tuple_size_v<Args> == sizeof...(Vts), "one VARTYPE per parameter");
    return CallWith<VT_EMPTY, true, Vts...>(std::forward<F>(call), args, nullptr, static_cast<Args*>(nullptr),
                                            std::make_index_sequence<sizeof...(Vts)>{});
}

template <auto Method, VARTYPE Result, VARTYPE... Vts>
HRESULT MethodThunk(void* object, VARIANT* args, VARIANT* result) {
    using Traits = MemberTraits<decltype(Method)>;
    auto* self = static_cast<typename Traits::Class*>(object);
    return CallConverted<typename Traits::Args, Result, Vts...>(
        [self](auto&&... a) -> decltype(auto) { return (self->*Method)(std::forward<decltype(a)>(a)...); }, args,
        result);
}

template <auto Get, VARTYPE Vt>
HRESULT GetThunk(void* object, VARIANT* result) {
    using Traits = MemberTraits<decltype(Get)>;
    return StoreResult<Vt>((static_cast<typename Traits::Class*>(object)->*Get)(), result);
}

template <auto Set, VARTYPE Vt>
HRESULT SetThunk(void* object, VARIANT* value) {
    return MethodThunk<Set, VT_EMPTY, Vt>(object, value, nullptr);
}
}  // namespace dispatch_detail

template <auto Get, auto Set, VARTYPE Vt>
constexpr DispatchEntry DispProperty(const char* name, DISPID dispid) {
    return {name,
            dispid,
            DispKind::property,
            Vt,
            MakeVarTypeList<>(),
            &dispatch_detail::GetThunk<Get, Vt>,
            &dispatch_detail::SetThunk<Set, Vt>,
            nullptr};
}

template <auto Method, VARTYPE Result, VARTYPE... Params>
constexpr DispatchEntry DispMethod(const char* name, DISPID dispid) {
    return {name,
            dispid,
            DispKind::method,
            Result,
            MakeVarTypeList<Params...>(),
            nullptr,
            nullptr,
            &dispatch_detail::MethodThunk<Method, Result, Params...>};
}
