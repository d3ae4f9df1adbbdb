// Reading a response's status line and header block as the server sent
// them: the binding collects the raw lines, these turn them into status,
// headers and cookies. And the token rule a request's method must follow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "soap/client/HTTPClient.h"

namespace vv {

// "HTTP/1.1 404 Not Found": the version, the code (at most three digits; 0
// when there are none) and the text after it, trimmed.
void ParseStatusLine(std::string_view line, int32_t &code, std::string &text,
                     THTTPProtocolVersion &version);

// Splits a raw header block into headers and cookies. Lines end in CR LF
// or LF alone, and a CR within a line reads as a blank; status lines,
// request lines and lines without ":" are skipped; name and value are split
// at the first ":" and trimmed;
// "Set-Cookie" values go to `cookies`; repeated names are joined into one
// value with ", ".
void ParseHeaderBlock(std::string_view raw, TNetHeaders &headers,
                      std::vector<std::string> &cookies);

// True when `text` is an HTTP token: not empty, visible ASCII only, and
// none of the separators of the HTTP grammar (brackets, quotes, "@,;:/?=").
bool IsHTTPToken(std::string_view text);

} // namespace vv
