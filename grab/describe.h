// A type library in readable, IDL-like form: the library, its dispatch
// interfaces with their properties and methods (dispatch identifiers,
// parameter types with by-reference shown as pointers, results, help
// strings) and its classes with the interfaces they implement.
#pragma once

#include <string>

#include "oaidl.h"

namespace ziv::grab {

// The whole library; a part that cannot be read is named in a comment in
// its place, so the rest is still shown.
std::string describe_type_library(ITypeLib* lib);

}  // namespace ziv::grab
