// The type library ZIVCONTROLLib: the dispatch interface and the event
// interface (their members: zivtypelib.h) and the control class.
#include "zivtypelib.h"

namespace {
constexpr ImplData kControlInterfaces[] = {
    {DIID__DZiVControl, IMPLTYPEFLAG_FDEFAULT},
    {DIID__DZiVControlEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
};

constexpr TypeData kTypes[] = {
    {TKIND_DISPATCH, "_DZiVControl", DIID__DZiVControl, TYPEFLAG_FHIDDEN | TYPEFLAG_FDISPATCHABLE,
     "Dispatch interface for ZiVControl Control", kZivControlMembers},
    {TKIND_DISPATCH, "_DZiVControlEvents", DIID__DZiVControlEvents, TYPEFLAG_FDISPATCHABLE,
     "Event interface for ZiVControl Control", kZivControlEvents},
    {TKIND_COCLASS,
     "ZiVControl",
     CLSID_ZiVControl,
     TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
     "ZiVControl Control",
     {},
     kControlInterfaces},
};
}  // namespace

const TypeLibData kZivControlTypeLib = {"ZIVCONTROLLib",
                                        LIBID_ZIVCONTROLLib,
                                        kTypeLibMajor,
                                        kTypeLibMinor,
                                        0,
                                        LIBFLAG_FCONTROL,
                                        "ziVControl ActiveX Control module",
                                        "ziVControl.hlp",
                                        kTypes};
