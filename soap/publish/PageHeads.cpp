#include "soap/publish/PageHeads.h"

#include <array>

#include "rtl/Format.h"

namespace vv {

namespace {

constexpr const char *CRLF = "\r\n";

constexpr const char *BodyWithMargins =
    "body       {font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; "
    "margin-left: 0px; margin-top: 0px; margin-right: 0px; }";
constexpr const char *BodyWithoutMargins =
    "body       {font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 9pt; }";

// The style rules after the body rule, in the order the pages use them.
constexpr std::array<const char *, 18> StyleLines = {
    "h1         {color: #333333; font-size: 18pt; font-style: normal; font-weight: bold; }",
    "h2         {color: #333333; font-size: 14pt; font-style: normal; font-weight: bold; }",
    "h3         {color: #333333; font-size: 12pt; font-style: normal; font-weight: bold; }",
    ".h1Style   {color: #333333; font-size: 18pt; font-style: normal; font-weight: bold; }",
    ".TblRow    {color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; "
    "font-size: 10pt; font-weight: normal; }",
    ".TblRow1   {color: #333333; background-color: #f5f5dc; font-family: Verdana, Arial, "
    "Helvetica, sans-serif; font-size: 9pt; font-weight: normal; }",
    ".TblRow0   {color: #333333; background-color: #d9d4aa; font-family: Verdana, Arial, "
    "Helvetica, sans-serif; font-size: 9pt; font-weight: normal; }",
    ".TblHdr    {color: #CCCC99; background-color: #333333; font-family: Verdana, Arial, "
    "Helvetica, sans-serif; font-size: 10pt; font-weight: bold; text-align: center;}",
    ".IntfName  {color: #660000; font-family: Verdana, Arial, Helvetica, sans-serif; "
    "font-size: 10pt; font-weight: bold; }",
    ".MethName  {color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; "
    "font-size: 8pt; font-weight: bold; text-decoration: none; }",
    ".ParmName  {color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; "
    "font-size: 8pt; text-decoration: none; }",
    ".Namespace {color: #333333; font-family: Verdana, Arial, Helvetica, sans-serif; "
    "font-size: 9pt; font-style: italic; }",
    ".WSDL      {color: #990000; font-family: Verdana, Arial, Helvetica, sans-serif; "
    "font-size: 8pt; font-weight: bold; }",
    ".MainBkgnd {background-color : #d9d4aa; }",
    ".Info      {font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 12pt; "
    "font-weight: bold; }",
    ".NavBar    {color: #660000; background-color: #f5f5dc; font-family: Verdana, Arial, "
    "Helvetica, sans-serif; font-size: 8pt; font-weight: bold;text-decoration: none; }",
    ".Off       {color: #A0A0A0; }",
    ".Tip \t    {color: #666666; font-family : Verdana, Arial, Helvetica, sans-serif; "
    "font-weight : normal; font-size : 9pt; }",
};

std::string Head(std::string_view firstLine, const char *bodyLine, std::string_view last) {
  std::string h(firstLine);
  h += CRLF;
  h += bodyLine;
  h += CRLF;
  for (const char *line : StyleLines) {
    h += line;
    h += CRLF;
  }
  h += "--></style>";
  h += CRLF;
  h += last;
  return h;
}

} // namespace

std::string ServicePageHead(std::string_view title) {
  return Head(Format("<html><head><META name=\"serviceInspection\" content=\"inspection.wsil\">"
                     "<title>%s</title><style type=\"text/css\"><!--",
                     {title}),
              BodyWithMargins, "</head><body>");
}

std::string ListingPageHead(std::string_view title) {
  return Head(Format("<html><head><title>%s</title><style type=\"text/css\"><!--", {title}),
              BodyWithMargins, "</head><body>");
}

std::string PageBanner(std::string_view title, std::string_view subtitle) {
  return std::string("<table class=\"MainBkgnd\" border=0 cellpadding=0 cellspacing=0 "
                     "width=\"100%\"><tr><td>&nbsp;</td></tr>") +
         Format("<tr><td class=\"h1Style\" align=\"center\">%s - %s</td></tr></table>",
                {title, subtitle});
}

std::string ErrorPageHead() {
  return Head("<html><head><style type=\"text/css\"><!--", BodyWithoutMargins, "</head><body><h1>");
}

} // namespace vv
