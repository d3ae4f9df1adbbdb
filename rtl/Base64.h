// Base64 with the standard alphabet, padded with "=" and without line
// breaks: the form HTTP Basic credentials travel in.
#pragma once

#include <string>
#include <string_view>

namespace vv {

// The Base64 text of the bytes of `bytes`.
std::string Base64Encode(std::string_view bytes);

} // namespace vv
