// Date-time values as the request and response fields hold them: days since
// 1899-12-30 with the time of day as the fraction; -1 means "no date".
#pragma once

#include <string>
#include <string_view>

namespace vv {

using TDateTime = double;

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
// "Tue, 09 Dec 2025 14:03:05 GMT"; the value is printed as stored.
std::string DateTimeToHTTPDate(TDateTime value);
// Parses the three HTTP date forms (RFC 1123, RFC 850, asctime);
// -1 when the text is not one of them.
TDateTime HTTPDateToDateTime(std::string_view text);

} // namespace vv
