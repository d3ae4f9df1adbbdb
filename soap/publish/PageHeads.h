// The heads of the publisher's HTML pages and the escaping of values that
// the pages insert.
#pragma once

#include <string>
#include <string_view>

namespace vv {

// Head of the HTML service page, formatted with the page title.
std::string ServicePageHead(std::string_view title);
// Head of the WebService listing page, formatted with the page title.
std::string ListingPageHead(std::string_view title);
// Head of the error page; it ends inside an open "<h1>".
std::string ErrorPageHead();

// `s` with the characters that carry meaning in HTML text and attribute
// values replaced by entities, so that request-derived text stays text.
std::string HtmlEscape(std::string_view s);

} // namespace vv
