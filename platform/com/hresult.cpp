// Plain words for the result codes that our tools and containers report.
#include "winerror.h"

#include <iterator>

namespace {
struct CodeText {
    HRESULT code;
    const char* text;
};

constexpr CodeText kTexts[] = {
    {S_OK, "success"},
    {S_FALSE, "success (false)"},
    {E_NOTIMPL, "not implemented"},
    {E_NOINTERFACE, "interface not supported"},
    {E_POINTER, "invalid pointer"},
    {E_ABORT, "operation aborted"},
    {E_FAIL, "unspecified failure"},
    {E_UNEXPECTED, "unexpected failure"},
    {E_ACCESSDENIED, "access denied"},
    {E_OUTOFMEMORY, "out of memory"},
    {E_INVALIDARG, "invalid argument"},
    {CLASS_E_NOAGGREGATION, "class does not support aggregation"},
    {CLASS_E_CLASSNOTAVAILABLE, "class not available from this module"},
    {REGDB_E_READREGDB, "registry could not be read"},
    {REGDB_E_WRITEREGDB, "registry could not be written"},
    {REGDB_E_CLASSNOTREG, "class not registered"},
    {CO_E_CLASSSTRING, "invalid class string"},
    {CO_E_DLLNOTFOUND, "module not found"},
    {CO_E_ERRORINDLL, "module could not be loaded or lacks an entry point"},
    {SELFREG_E_TYPELIB, "type library registration failed (or: no such connection)"},
    {SELFREG_E_CLASS, "class registration failed (or: too many connections)"},
    {CONNECT_E_CANNOTCONNECT, "sink does not support the event interface"},
    {DISP_E_UNKNOWNINTERFACE, "unknown interface"},
    {DISP_E_MEMBERNOTFOUND, "member not found"},
    {DISP_E_PARAMNOTFOUND, "parameter not found"},
    {DISP_E_TYPEMISMATCH, "type mismatch"},
    {DISP_E_UNKNOWNNAME, "unknown name"},
    {DISP_E_NONAMEDARGS, "named arguments not supported"},
    {DISP_E_BADVARTYPE, "bad variant type"},
    {DISP_E_EXCEPTION, "exception occurred"},
    {DISP_E_OVERFLOW, "value out of range"},
    {DISP_E_BADINDEX, "invalid index"},
    {DISP_E_BADPARAMCOUNT, "wrong number of parameters"},
    {TYPE_E_REGISTRYACCESS, "type library registry entries not accessible"},
    {TYPE_E_LIBNOTREGISTERED, "type library not registered"},
    {TYPE_E_ELEMENTNOTFOUND, "element not found"},
    {STG_E_INVALIDFUNCTION, "invalid stream function"},
    {STG_E_INVALIDPOINTER, "invalid stream pointer"},
    {STG_E_MEDIUMFULL, "not enough room in the stream"},
};
}  // namespace

const char* HResultText(HRESULT hr) {
    for (const CodeText& t : kTexts)
        if (t.code == hr) return t.text;
    return SUCCEEDED(hr) ? "success" : "unknown failure";
}
