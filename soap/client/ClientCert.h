// Which client certificate the transport offers when a server asks for one:
// a description to pick from the offered certificates, or a file or
// PKCS#12 data with its password.
#pragma once

#include <memory>
#include <string>

#include "rtl/Component.h"
#include "rtl/Stream.h"
#include "soap/client/URLClient.h"

namespace vv {

class TClientCert : public TComponent {
  VV_CLASS(TClientCert)
  explicit TClientCert(TComponent *owner = nullptr) : TComponent(owner) {}

  std::string SerialNum;
  std::string CertName;
  std::string Subject;
  std::string Issuer;
  std::string ProtocolName;
  std::string FileName;
  std::string Password;
  // Certificate data (PKCS#12), when given as bytes; none otherwise.
  std::unique_ptr<TMemoryStream> CertStream;

  // True when any of the five describing fields is set.
  bool IsDescribed() const;
  // True when every describing field that is set equals the certificate's.
  bool Matches(const TCertificate &cert) const;
  // True when there is a certificate to send: a file or data.
  bool HasCertificate() const { return !FileName.empty() || (CertStream && CertStream->Size()); }
  void Assign(const TClientCert &other);
};

} // namespace vv
