// Readable names from the C++ runtime's names: routine names of call-stack frames that only a
// linker symbol names, and class names of exceptions.
#pragma once

#include <string>
#include <typeinfo>

#include "platform/win32api_types.h"

// A linker symbol (mangled or not) as a call-stack routine name: "TClass.Method" for a
// method, "Routine" for a free function. Namespaces and the argument list are left out; a
// lambda is "{lambda}" after the routine that holds it. "" for "".
Text RoutineNameOfSymbol(const std::string& aSymbol);

// The class name of a type without its namespaces: "EDebugStop", "runtime_error".
Text ClassNameOfType(const std::type_info& aType);
