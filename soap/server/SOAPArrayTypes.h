// This SOAP layer's own array types, registered in its own namespace
// (SSoapTypesNameSpace) as built-in entries of the type registry.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/TypeInfo.h"

namespace vv {

VV_DYNARRAY(InvStringDynArray, std::string);
VV_DYNARRAY(TIntegerDynArray, int32_t);
VV_DYNARRAY(TInt64DynArray, int64_t);
VV_DYNARRAY(TDoubleDynArray, double);

} // namespace vv
