// Why the image control could not be created, in the words its containers
// give their users: zivgrab prints the lines to standard error, zivClient shows
// them in a message box.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "objbase.h"
#include "winerror.h"
#include "winreg.h"
#include "zivcontrolids.h"

// One sentence a line, without a final stop: what failed with `hr`, the
// loader's or the registry's reason when it gave one, how to register the
// control when that can help, and the registry folder in use.
inline std::vector<std::string> ControlNotCreatedLines(HRESULT hr) {
    const std::string clsid = StringFromGUID(CLSID_ZiVControl);
    const std::string regsvr = "regsvr <path of ziVControl module>";
    std::vector<std::string> lines;
    if (hr == REGDB_E_CLASSNOTREG) {
        lines.push_back("the image control is not registered (class " + clsid + "): run " + regsvr);
    } else {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        lines.push_back("the image control (class " + clsid + ") cannot be created: " + HResultText(hr) + " (" + code +
                        ")");
        if (!CoGetLastLoadError().empty()) lines.push_back(CoGetLastLoadError());
        // A registry that cannot be read says nothing about the registration.
        if (hr != REGDB_E_READREGDB) lines.push_back("registering it again may help: run " + regsvr);
    }
    if (!RegistryFolder().empty()) lines.push_back("registry folder in use: " + RegistryFolder());
    return lines;
}
