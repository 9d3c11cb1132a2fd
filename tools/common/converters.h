// The six converters that write the download file ADSP.OUT. Each tool's main
// hands its command line to one of these.
#pragma once

#include "download.h"

namespace ziv {

// A converter that wraps a whole input file, byte for byte, as one module.
// The five such tools differ only in the fields of this record.
struct WrapperTool {
    const char* banner;       // printed first, line ends included
    const char* input;        // fixed input file in the working directory
    FileMode mode;            // how the input is read
    unsigned char type_code;  // header line "ABCDxx"
    HexCase name_case;        // digits of the name field
    HexCase data_case;        // digits of the data lines
    int check_base;           // check word = base + name sum; < 0: check word 0
};

extern const WrapperTool kExewrap;
extern const WrapperTool kPackwrap;
extern const WrapperTool kBinload;
extern const WrapperTool kTxtload;
extern const WrapperTool kPicload;

// Runs a wrapper tool; returns the process exit status.
int run_wrapper(const WrapperTool& tool, int argc, char** argv);

// Runs `convert` (ADSP.EXE to ADSP.OUT through ADSP.TMP); returns the exit status.
int run_convert(int argc, char** argv);

// One pass of `convert` over ADSP.EXE (`exe`, open in text mode). Mode 0 counts
// the modules and writes nothing. Mode 1 writes each module behind the header
// and name lines already in `out`, gathering its words in `tmp` (ADSP.TMP, open
// and empty; emptied again after each module by opening its path once more),
// and closes both. Prints what stops it and returns the exit status, 0 when the
// pass went through; `nmod` then holds the module count.
int convf(int mode, InFile& exe, OutFile& out, OutFile& tmp, std::int32_t& nmod);

// Checks the single name argument shared by all converters and echoes it with
// echo_format. Prints the usage message and returns false when the tool must
// stop (with exit status 0).
bool take_name_argument(int argc, char** argv, const char* echo_format, NameField& name);

}  // namespace ziv
