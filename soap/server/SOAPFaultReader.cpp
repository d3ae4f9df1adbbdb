#include "soap/server/SOAPFaultReader.h"

#include "rtl/StrUtils.h"
#include "soap/server/RemotableException.h"

namespace vv {

void RaiseSOAPFault(TXMLCursor FaultNode) {
  TXMLCursor code, text, detail, actor;
  // By local name in any letter case and any namespace; of repeated names
  // the last one counts.
  for (TXMLCursor c = FaultNode.FirstChildElement(); c; c = c.NextSiblingElement()) {
    std::string_view name = c.LocalName();
    if (SameText(name, "faultcode"))
      code = c;
    else if (SameText(name, "faultstring"))
      text = c;
    else if (SameText(name, "detail"))
      detail = c;
    else if (SameText(name, "faultactor"))
      actor = c;
  }
  std::string message = text ? text.Text() : std::string();
  if (message.empty()) message = detail ? detail.XML() : FaultNode.XML();
  ERemotableException e(message);
  if (actor) e.FFaultActor = actor.Text();
  if (code) e.FFaultCode = code.Text();
  if (detail) e.FFaultDetail = detail.XML();
  throw e;
}

} // namespace vv
