// What the remote-interface object needs of a transport: settle the call,
// post the request, hand back the answer. THTTPReqResp is the one transport.
#pragma once

#include <string>

#include "rtl/EnumSet.h"
#include "rtl/Interface.h"
#include "rtl/Stream.h"
#include "soap/server/WebServiceBindingType.h"

namespace vv {

struct TIntfMetaData;
struct TIntfMethEntry;

enum TWebNodeOption { wnoSOAP12 }; // SOAP 1.2 framing
using TWebNodeOptions = TEnumSet<TWebNodeOption>;

// The MIME packaging of a request that carries attachments. No call of this
// program has attachments; the transport only reads the boundary and hands
// over the SOAP part's headers.
class IMimeAttachmentHandler {
public:
  virtual std::string MIMEBoundary() const = 0;
  virtual void AddSoapHeader(const std::string &Header) = 0;

protected:
  ~IMimeAttachmentHandler() = default;
};

struct IWebNode : virtual IInterface {
  VV_INTERFACE(IWebNode, "{7A4C2E10-93B5-4E4B-8D21-5F0C6B3A9E01}")
  // Settles SOAPAction, endpoint and binding for the coming call. MethodIndex
  // counts the interface's own methods (0 for the first).
  virtual void BeforeExecute(const TIntfMetaData &IntfMD, const TIntfMethEntry &MethMD,
                             int MethodIndex, IMimeAttachmentHandler *AttachHandler) = 0;
  // Posts Request (from position 0); the answer's body lands in Response
  // from its start.
  virtual void Execute(TStream &Request, TStream &Response) = 0;
  virtual std::string GetMimeBoundary() = 0;
  virtual void SetMimeBoundary(const std::string &Value) = 0;
  virtual TWebNodeOptions GetWebNodeOptions() = 0;
  virtual void SetWebNodeOptions(TWebNodeOptions Value) = 0;

protected:
  ~IWebNode() override = default;
};

} // namespace vv
