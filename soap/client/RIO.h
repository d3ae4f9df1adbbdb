// TRIO: the remote-interface object. A cast to a registered invokable
// interface gives an implementation whose every method becomes one SOAP
// exchange: the converter writes the request, the transport posts it, the
// converter reads the answer into the caller's result.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "rtl/Component.h"
#include "rtl/Interface.h"
#include "rtl/Stream.h"
#include "rtl/TypeInfo.h"
#include "soap/client/WebNode.h"
#include "soap/server/HeaderList.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/SOAPHeaders.h"
#include "soap/server/SoapConverter.h"

namespace vv {

class TRIO;
class TInvContext;

// Gives back the remote-interface object behind any of its interfaces.
struct IRIOAccess : virtual IInterface {
  VV_INTERFACE(IRIOAccess, "{7A4C2E10-93B5-4E4B-8D21-5F0C6B3A9E04}")
  virtual TRIO *GetRIO() = 0;

protected:
  ~IRIOAccess() override = default;
};

// The implementation of the served interface: the interface's proxy class,
// whose methods all land in the RIO's invoke handler. Its references count
// on the RIO; the back reference to the RIO counts nothing.
class TRioVirtualInterface final : public IProxyHandler {
public:
  // Raises EIntfCastError when the interface declares no proxy class.
  TRioVirtualInterface(TRIO *Rio, const TTypeInfo *Info);
  ~TRioVirtualInterface();
  TRioVirtualInterface(const TRioVirtualInterface &) = delete;
  TRioVirtualInterface &operator=(const TRioVirtualInterface &) = delete;
  // The served interface itself (the pointer a cast hands out).
  void *Intf() const { return FProxy; }

  void ProxyInvoke(const TIntfMethod &method, void **args, void *result) override;
  int32_t ProxyQueryInterface(const TGUID &iid, void **obj) override;
  int32_t ProxyAddRef() override;
  int32_t ProxyRelease() override;

private:
  TRIO *FRio;
  const TTypeInfo *FInfo;
  void *FProxy = nullptr;
};

using TBeforeExecuteEvent =
    std::function<void(const std::string &MethodName, TStream &SOAPRequest)>;
using TAfterExecuteEvent =
    std::function<void(const std::string &MethodName, TStream &SOAPResponse)>;

class TRIO : public TComponent, public IRIOAccess {
  VV_CLASS(TRIO)
  // The message of destroying a RIO that is still referenced.
  static constexpr const char *SInvalidPointer = "Invalid Pointer";

  ~TRIO() override;

  // Destroys a RIO that nobody references; one that still has references
  // stays alive and EInvalidPointer "Invalid Pointer" is raised.
  void Free();

  // The cast: the served interface (fixed by the first cast to a registered
  // interface), ISOAPHeaders, IRIOAccess or the base interface.
  int32_t QueryInterface(const TGUID &iid, void **obj) override;
  int32_t _AddRef() override;
  int32_t _Release() override;
  int32_t RefCount() const { return FRefCount.load(); }
  TRIO *GetRIO() override { return this; }

  // The served interface (empty GUID before the first successful cast).
  const TGUID &IID() const { return FIID; }
  const TIntfMetaData &IntfMD() const { return FIntfMD; }
  THeaderList &HeadersOutBound() { return FHeadersOutBound; }
  THeaderList &HeadersInbound() { return FHeadersInbound; }
  ISoapConvert *ConverterIntf() const { return FConverter.Get(); }
  IWebNode *WebNodeIntf() const { return FWebNode.Get(); }

  TBeforeExecuteEvent OnBeforeExecute;
  TAfterExecuteEvent OnAfterExecute;

  // Every method of the served interface lands here: `VirtualIndex` is its
  // slot, `args` its parameter slots in order, `result` its result slot.
  void Invoke(int VirtualIndex, void **args, void *result);

protected:
  // Only a concrete RIO is made; it ends its construction at 0 references
  // (the count is 1 while it is being built).
  explicit TRIO(TComponent *owner = nullptr);
  // After a successful cast to the served interface: the transport-specific
  // settings (SOAPAction, UDDI data).
  virtual void AfterServedCast(const TGUID &) {}
  // Builds the served interface for `iid` when the registry knows it.
  void MakeInterface(const TGUID &iid);
  void DeriveConverterOptions(const TGUID &iid);
  void Exchange(TInvContext &Context, int MethNum, const TIntfMethEntry &MethMD);

  std::unique_ptr<TRioVirtualInterface> FInterface;
  std::atomic<int32_t> FRefCount{1}; // 1 while constructing
  std::unique_ptr<TSOAPHeaders> FSOAPHeaders;
  THeaderList FHeadersOutBound;
  THeaderList FHeadersInbound;
  TGUID FIID;
  TIntfMetaData FIntfMD;
  IPtr<ISoapConvert> FConverter;
  IPtr<IWebNode> FWebNode;
};

} // namespace vv
