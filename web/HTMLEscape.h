// Text put into an HTML page from outside (error messages, request paths).
#pragma once

#include <string>
#include <string_view>

namespace vv {

// "&", "<", ">", '"' and "'" as character references, so the text can stand
// in element content and in quoted attribute values.
std::string HTMLEscape(std::string_view text);

} // namespace vv
