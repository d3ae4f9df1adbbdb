#include "soap/client/ClientCert.h"

#include "rtl/TypeInfo.h"

namespace vv {

TClass TClientCert::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TClientCert, TComponent>("TClientCert", "SOAPHTTPTrans").Build();
  return &info;
}

bool TClientCert::IsDescribed() const {
  return !CertName.empty() || !SerialNum.empty() || !Subject.empty() || !Issuer.empty() ||
         !ProtocolName.empty();
}

bool TClientCert::Matches(const TCertificate &cert) const {
  auto same = [](const std::string &want, const std::string &have) {
    return want.empty() || want == have;
  };
  return same(CertName, cert.CertName) && same(SerialNum, cert.SerialNum) &&
         same(Subject, cert.Subject) && same(Issuer, cert.Issuer) &&
         same(ProtocolName, cert.ProtocolName);
}

void TClientCert::Assign(const TClientCert &other) {
  SerialNum = other.SerialNum;
  CertName = other.CertName;
  Subject = other.Subject;
  Issuer = other.Issuer;
  ProtocolName = other.ProtocolName;
  FileName = other.FileName;
  Password = other.Password;
  CertStream.reset();
  if (other.CertStream) CertStream = std::make_unique<TMemoryStream>(other.CertStream->Data());
}

} // namespace vv
