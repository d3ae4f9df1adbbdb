// The heads of the publisher's HTML pages.
#pragma once

#include <string>
#include <string_view>

namespace vv {

// Head of the HTML service page, formatted with the page title.
std::string ServicePageHead(std::string_view title);
// Head of the WebService listing page, formatted with the page title.
std::string ListingPageHead(std::string_view title);
// The banner under the head of the listing and service pages:
// "<title> - <subtitle>" centred on the background stripe.
std::string PageBanner(std::string_view title, std::string_view subtitle);
// Head of the error page; it ends inside an open "<h1>".
std::string ErrorPageHead();

} // namespace vv
