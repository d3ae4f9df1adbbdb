// The message converter of both sides.
//
// Server: MsgToInvContext reads an rpc/encoded request into a call context,
// MakeResponse writes the call's result as an rpc/encoded response, MakeFault
// writes any error as a SOAP fault. Client: InvContextToMsg writes the
// request of a call (document/literal when soDocument is set) and
// ProcessResponse reads the answer into the call's result, raising
// ERemotableException for a received fault.
//
// The converter knows no contract: it writes and reads values through the
// type descriptors and the registries only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Interface.h"
#include "rtl/Stream.h"
#include "soap/server/HeaderList.h"
#include "soap/server/SOAPConvertOptions.h"
#include "soap/server/SOAPDomConv.h"
#include "soap/server/SoapEnvelope.h"

namespace vv {

struct TIntfMetaData;
struct TIntfMethEntry;
class TInvContext;

// A MIME attachment of a message; this program never sends or receives one.
struct TSOAPAttachment {
  std::string FileName;
  std::string ContentType;
  std::string ContentID;
};
using TSOAPAttachments = std::vector<TSOAPAttachment>;

struct ISoapConvert : virtual IInterface {
  VV_INTERFACE(ISoapConvert, "{5E3C8A41-2B7D-4F19-A6E0-3C9D1B8E7F21}")
  virtual TSOAPConvertOptions GetOptions() = 0;
  virtual void SetOptions(TSOAPConvertOptions value) = 0;
  virtual const TSOAPAttachments &GetAttachments() = 0;
  virtual void SetAttachments(const TSOAPAttachments &value) = 0;
  virtual std::string GetTempDir() = 0;
  virtual void SetTempDir(const std::string &value) = 0;
  virtual std::string GetEncoding() = 0;
  virtual void SetEncoding(const std::string &value) = 0;

  // Client: the request of method MethNum (index in IntfMD.MDA) from the
  // parameter slots of Con; a new stream, positioned at its end, that the
  // caller owns.
  virtual std::unique_ptr<TStream> InvContextToMsg(const TIntfMetaData &IntfMD, int MethNum,
                                                   TInvContext &Con, THeaderList *Headers) = 0;
  // Client: reads the answer (from position 0) into Context's result slot.
  virtual void ProcessResponse(TStream &Resp, const TIntfMetaData &IntfMD, const TIntfMethEntry &MD,
                               TInvContext &Context, THeaderList *Headers) = 0;
  virtual void ProcessResponse(const std::string &Resp, const TIntfMetaData &IntfMD,
                               const TIntfMethEntry &MD, TInvContext &Context,
                               THeaderList *Headers) = 0;
  // Server: reads the request (from position 0); sets MethNum to the index
  // of the called method in IntfMD.MDA, or leaves it unchanged when the Body
  // selects none; fills Context with the method and its parameter values.
  virtual void MsgToInvContext(const std::string &Request, const TIntfMetaData &IntfMD,
                               int &MethNum, TInvContext &Context) = 0;
  virtual void MsgToInvContext(TStream &Request, const TIntfMetaData &IntfMD, int &MethNum,
                               TInvContext &Context, THeaderList *Headers) = 0;
  // Server: writes the response document of method MethNum into Response at
  // its position. A large answer going to a TContentStream is made while
  // the stream is sent: Context must then live as long as the stream.
  virtual void MakeResponse(const TIntfMetaData &IntfMD, int MethNum, TInvContext &Context,
                            TStream &Response, THeaderList *Headers) = 0;
  // Server: writes the fault document for Ex into EStream at its position.
  virtual void MakeFault(const std::exception &Ex, TStream &EStream) = 0;

protected:
  ~ISoapConvert() override = default;
};

class TSoapConverter : public TSOAPDomConv, public ISoapConvert {
  VV_CLASS(TSoapConverter)
  // With an owner, the owner frees the converter; without one, the last
  // interface reference does.
  explicit TSoapConverter(TComponent *owner = nullptr);
  ~TSoapConverter() override;

  int32_t QueryInterface(const TGUID &iid, void **obj) override;
  int32_t _AddRef() override { return TSOAPDOMProcessor::_AddRef(); }
  int32_t _Release() override { return TSOAPDOMProcessor::_Release(); }

  TSOAPConvertOptions GetOptions() override { return FOptions; }
  void SetOptions(TSOAPConvertOptions value) override { FOptions = value; }
  const TSOAPAttachments &GetAttachments() override { return FAttachments; }
  void SetAttachments(const TSOAPAttachments &value) override { FAttachments = value; }
  std::string GetTempDir() override { return FTempDir; }
  void SetTempDir(const std::string &value) override;
  std::string GetEncoding() override { return FEncoding; }
  void SetEncoding(const std::string &value) override { FEncoding = value; }

  std::unique_ptr<TStream> InvContextToMsg(const TIntfMetaData &IntfMD, int MethNum,
                                           TInvContext &Con, THeaderList *Headers) override;
  void ProcessResponse(TStream &Resp, const TIntfMetaData &IntfMD, const TIntfMethEntry &MD,
                       TInvContext &Context, THeaderList *Headers) override;
  void ProcessResponse(const std::string &Resp, const TIntfMetaData &IntfMD,
                       const TIntfMethEntry &MD, TInvContext &Context,
                       THeaderList *Headers) override;
  void MsgToInvContext(const std::string &Request, const TIntfMetaData &IntfMD, int &MethNum,
                       TInvContext &Context) override;
  void MsgToInvContext(TStream &Request, const TIntfMetaData &IntfMD, int &MethNum,
                       TInvContext &Context, THeaderList *Headers) override;
  void MakeResponse(const TIntfMetaData &IntfMD, int MethNum, TInvContext &Context,
                    TStream &Response, THeaderList *Headers) override;
  void MakeFault(const std::exception &Ex, TStream &EStream) override;

  // Server: makes a response MakeResponse measured (`Size` bytes), into Out.
  void ProduceResponse(uint64_t Size, const TIntfMetaData &IntfMD, int MethNum,
                       TInvContext &Context, TXMLSink &Out);

  TSoapEnvelope Envelope;

private:
  using TCompose = std::function<void()>;
  // A value of a message: its element name and namespace, type and slot.
  struct TValue {
    std::string Name, NS;
    const TTypeInfo *Info;
    const void *Data;
  };
  // Writes one message, in document order, into Out.
  void WriteMessage(TXMLOutput &Out, const TCompose &Compose);
  void ComposeResponse(const TIntfMetaData &IntfMD, const TIntfMethEntry &MD, TInvContext &Context,
                       THeaderList *Headers);
  void ComposeRequest(const TIntfMetaData &IntfMD, const TIntfMethEntry &MD, TInvContext &Con,
                      THeaderList *Headers);
  void ComposeFault(const std::exception &Ex);
  // The method element's name (with its namespace's prefix, declared on the
  // Body, in rpc style).
  std::string MethodQName(THandle Body, const std::string &Name, const std::string &NS);
  // The method element holding the values, then the objects they reference.
  void WriteValues(THandle Body, const std::string &MethodQName, const std::string &NS,
                   const std::vector<TValue> &Values);

  // Client: reads an answer's bytes (UTF-8 ones where they lie).
  void ReadResponse(std::string_view Resp, const TIntfMetaData &IntfMD, const TIntfMethEntry &MD,
                    TInvContext &Context, THeaderList *Headers);
  void ReadHeader(TXMLCursor HeaderNode, const TIntfMetaData &IntfMD, THeaderList *Headers);
  void CheckEncodingStyle(TXMLCursor Node) const;
  void ReadRequestBody(TXMLCursor Body, const TIntfMetaData &IntfMD, int &MethNum,
                       TInvContext &Context);
  void ReadResult(TXMLCursor Response, const TIntfMetaData &IntfMD, const TIntfMethEntry &MD,
                  TInvContext &Context);
  TXMLCursor FindReturnElement(TXMLCursor Response, const TIntfMetaData &IntfMD,
                               const TIntfMethEntry &MD);
  // The method element, now current; the Body itself in document style
  // with literal parameters.
  THandle AddMethodElement(THandle Body, const std::string &QName, const std::string &NS);
  void WriteHeaders(THeaderList *Headers);
  // The declaration, the Envelope with its headers and the Body, now current.
  THandle StartMessage(THeaderList *Headers);

  std::string FTempDir;
  std::string FEncoding; // empty: no document carries an encoding declaration
  TSOAPAttachments FAttachments;
};

} // namespace vv
