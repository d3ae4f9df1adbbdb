// The bytes a SOAP endpoint run as a CGI program writes, built from their
// parts: the answers and faults the endpoint tests expect, and the request
// envelope they send.
#pragma once

#include <string>

namespace vvtest {

inline const std::string kSoapEnvNS = "http://schemas.xmlsoap.org/soap/envelope/";

// A request envelope around `body`.
inline std::string RequestEnvelope(const std::string &body) {
  return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" + kSoapEnvNS +
         "\"><SOAP-ENV:Body>" + body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

// The CGI output of an XML answer.
inline std::string XMLAnswer(const std::string &status, const std::string &body) {
  return "Status: " + status + "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body;
}

// The namespace declarations of the converter's envelope.
inline const std::string kAnswerDecls =
    "xmlns:SOAP-ENV=\"" + kSoapEnvNS +
    "\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"";

// The rpc/encoded answer of `method` (of the interface in `intfNS`) that
// returns an empty array of `itemType` (in `typesNS`).
inline std::string EmptyArrayAnswer(const std::string &method, const std::string &intfNS,
                                    const std::string &typesNS, const std::string &itemType) {
  return XMLAnswer(
      "200 OK",
      "<?xml version=\"1.0\"?>\r\n<SOAP-ENV:Envelope " + kAnswerDecls +
          "><SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
          "xmlns:NS1=\"" +
          intfNS + "\" xmlns:NS2=\"" + typesNS + "\"><NS1:" + method +
          "Response><return xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"NS2:" + itemType +
          "[0]\"/></NS1:" + method + "Response></SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

// A fault written by the converter: status 200 like any answer.
inline std::string CallFault(const std::string &message) {
  return XMLAnswer("200 OK", "<?xml version=\"1.0\"?>\r\n<SOAP-ENV:Envelope " + kAnswerDecls +
                                 "><SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</"
                                 "faultcode><faultstring>" +
                                 message +
                                 "</faultstring><faultactor/></SOAP-ENV:Fault></SOAP-ENV:Body></"
                                 "SOAP-ENV:Envelope>");
}

// The dispatcher's own fault for errors before the call: status 500.
inline std::string FixedFault(const std::string &escapedMessage) {
  return XMLAnswer(
      "500 Internal Server Error",
      "<?xml version=\"1.0\" encoding='UTF-8'?> <SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" + kSoapEnvNS +
          "\" ><SOAP-ENV:Body> <SOAP-ENV:Fault> <faultcode>SOAP-ENV:Server</"
          "faultcode><faultstring>" +
          escapedMessage + "</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

} // namespace vvtest
