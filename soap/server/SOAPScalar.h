// The text form of scalar values in SOAP messages: text as is, booleans as
// "true"/"false", integers in decimal, floats in their shortest exact form
// (with "INF", "-INF", "NaN"), enumerations by member name.
#pragma once

#include <string>
#include <string_view>

#include "rtl/TypeInfo.h"

namespace vv {

// True for the kinds written and read as one typed element.
bool IsSOAPScalar(const TTypeInfo *info);
// The text of the value in `slot`.
std::string ScalarToText(const TTypeInfo *info, const void *slot);
// Stores `text` into `slot`; EConvertError when it is not a value of the type.
void TextToScalar(const TTypeInfo *info, std::string_view text, void *slot);

} // namespace vv
