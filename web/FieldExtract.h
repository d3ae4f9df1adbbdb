// Splitting query, cookie and form texts into name=value fields, with the
// URL decoding of each field.
#pragma once

#include <string>
#include <string_view>

#include "rtl/Exception.h"
#include "rtl/StringList.h"

namespace vv {

// Raised for a field that is not valid URL encoding.
VV_EXCEPTION(EURLDecodeError, Exception);
// Raised for bytes that are not valid UTF-8 where UTF-8 is required.
VV_EXCEPTION(EEncodingError, Exception);

// Decodes one field: "+" is a blank, "%%" one "%", "%XX" one byte; the
// bytes must form valid UTF-8. Errors name the 1-based position of the "%".
std::string URLDecodeField(std::string_view field);

// Raises EEncodingError unless `bytes` are valid UTF-8.
void CheckUtf8(std::string_view bytes);

// Adds the URL-decoded fields of `text` to `list` in order of appearance.
// Separators and white space are ASCII character sets; NUL, CR, LF and the
// double quote always separate, CR and LF are always white space. Entries
// added before a decoding error stay in the list.
void ExtractHTTPFields(std::string_view separators, std::string_view whiteSpace,
                       std::string_view text, TStringList &list);

} // namespace vv
