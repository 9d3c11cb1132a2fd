// The check of a module file before the loader maps it: the loader trusts the
// file's own tables, and touching a page that a cut-short file does not have
// ends the process (SIGBUS) instead of failing the load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "winerror.h"

enum class ModuleFileFault {
    none,
    notSharedLibrary,  // no ELF file, or an ELF file that is no shared object
    otherMachine,      // an ELF file for another class, byte order or machine
    damaged,           // a header or table that points past the end of the file or cannot be read
};

// Reads `size` bytes at `offset` into `buffer`; false when they are not all there.
using ModuleFileReader = std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)>;

// Checks the ELF headers of a file of `fileSize` bytes: the identification
// against this machine, and that every loadable segment and the section
// header table lie inside the file. Every field is taken as hostile.
ModuleFileFault CheckModuleImage(std::uint64_t fileSize, const ModuleFileReader& read);

// The check on the file at `path`. S_OK when it may be loaded; otherwise
// CO_E_ERRORINDLL with the reason and the path in *error.
HRESULT CheckModuleFile(const std::string& path, std::string* error);
