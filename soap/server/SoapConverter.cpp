#include "soap/server/SoapConverter.h"

#include "rtl/TypeInfo.h"

namespace vv {

TClass TSoapConverter::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TSoapConverter, TSOAPDomConv>("TSoapConverter", "SoapConverter").Build();
  return &info;
}

TSoapConverter::TSoapConverter(TComponent *owner) : TSOAPDomConv(owner) {}

TSoapConverter::~TSoapConverter() = default;

int32_t TSoapConverter::QueryInterface(const TGUID &iid, void **obj) {
  if (iid == ISoapConvert::IID) {
    *obj = static_cast<ISoapConvert *>(this);
    _AddRef();
    return S_OK;
  }
  return TSOAPDOMProcessor::QueryInterface(iid, obj);
}

void TSoapConverter::SetTempDir(const std::string &value) {
  FTempDir = value;
  if (FTempDir.empty() || FTempDir.back() != '\\') FTempDir += '\\';
}

std::unique_ptr<TStream> TSoapConverter::InvContextToMsg(const TIntfMetaData &, int, TInvContext &,
                                                         THeaderList *) {
  throw ESOAPDomConvertError("not yet implemented");
}
void TSoapConverter::ProcessResponse(TStream &, const TIntfMetaData &, const TIntfMethEntry &,
                                     TInvContext &, THeaderList *) {
  throw ESOAPDomConvertError("not yet implemented");
}
void TSoapConverter::ProcessResponse(const std::string &, const TIntfMetaData &,
                                     const TIntfMethEntry &, TInvContext &, THeaderList *) {
  throw ESOAPDomConvertError("not yet implemented");
}
void TSoapConverter::MsgToInvContext(const std::string &, const TIntfMetaData &, int &,
                                     TInvContext &) {
  throw ESOAPDomConvertError("not yet implemented");
}
void TSoapConverter::MsgToInvContext(TStream &, const TIntfMetaData &, int &, TInvContext &,
                                     THeaderList *) {
  throw ESOAPDomConvertError("not yet implemented");
}
void TSoapConverter::MakeResponse(const TIntfMetaData &, int, TInvContext &, TStream &,
                                  THeaderList *) {
  throw ESOAPDomConvertError("not yet implemented");
}
void TSoapConverter::MakeFault(const std::exception &, TStream &) {
  throw ESOAPDomConvertError("not yet implemented");
}

} // namespace vv
