#include "soap/server/SOAPArrayTypes.h"

namespace vv {

#define VV_SOAP_ARRAY_INFO(T)                                                                      \
  const TTypeInfo *T::StaticTypeInfo() {                                                           \
    static const TTypeInfo info = DynArrayInfo<T>(#T, "InvokeRegistry");                           \
    return &info;                                                                                  \
  }

VV_SOAP_ARRAY_INFO(InvStringDynArray)
VV_SOAP_ARRAY_INFO(TIntegerDynArray)
VV_SOAP_ARRAY_INFO(TInt64DynArray)
VV_SOAP_ARRAY_INFO(TDoubleDynArray)

} // namespace vv
