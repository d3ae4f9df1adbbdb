// The libcurl binding's side of credentials: which scheme answers a
// challenge, and what libcurl is told of the server's and the proxy's
// credentials in each pass.
#include "rtl/Base64.h"
#include "soap/client/CurlHTTPRequest.h"
#include "soap/client/CurlLibrary.h"
#include "soap/client/CurlOptions.h"
#include "soap/client/CurlPass.h"

namespace vv {

namespace {

// The preferred scheme among `offered` that this libcurl can speak, as a
// CURLAUTH_* bit; 0 for none.
unsigned long ChooseScheme(THTTPAuthSchemes offered) {
  const curl_version_info_data *info = CurlApi().version_info(CURLVERSION_NOW);
  int features = info ? info->features : 0;
  if (offered.Contains(THTTPAuthScheme::Negotiate) && (features & CURL_VERSION_SPNEGO))
    return CURLAUTH_NEGOTIATE;
  if (offered.Contains(THTTPAuthScheme::NTLM) && (features & CURL_VERSION_NTLM))
    return CURLAUTH_NTLM;
  if (offered.Contains(THTTPAuthScheme::Digest)) return CURLAUTH_DIGEST;
  if (offered.Contains(THTTPAuthScheme::Basic)) return CURLAUTH_BASIC;
  return 0;
}

} // namespace

bool TCurlHTTPClient::DoSetCredential(TAuthTargetType target, THTTPRequest &request,
                                      const TCredential &credential) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  bool server = target == TAuthTargetType::Server;
  unsigned long &last = server ? r.FLastServerAuthScheme : r.FLastProxyAuthScheme;
  unsigned long scheme = last;
  if (!scheme) {
    scheme = r.FResponseArrived ? ChooseScheme(server ? r.FServerAuthAvail : r.FProxyAuthAvail) : 0;
    if (scheme)
      last = scheme;
    else
      scheme = CURLAUTH_BASIC; // no challenge yet: Basic, not remembered
  }
  if (!server) {
    r.FProxyUser = credential.UserName;
    r.FProxyPassword = credential.Password;
    r.FProxyAuth = scheme;
    return true;
  }
  bool header = scheme == CURLAUTH_BASIC && !credential.UserName.empty() &&
                (!r.FResponseArrived || ChallengeWantsUTF8(r.FLastServerChallenge));
  if (header) {
    r.SetHeaderValue("Authorization",
                     "Basic " + Base64Encode(credential.UserName + ":" + credential.Password));
  } else if (r.FPreemptiveHeader) {
    r.RemoveHeader("Authorization");
  }
  r.FPreemptiveHeader = header;
  // libcurl is told the credential as well (it sends no Basic of its own
  // beside our header): a challenge that arrives while libcurl knows no
  // credential stays "already seen" in its state, and it would then answer
  // the next one by itself.
  r.FServerUser = credential.UserName;
  r.FServerPassword = credential.Password;
  r.FServerAuth = scheme;
  return true;
}

void TCurlHTTPClient::ApplyCredentialOptions(TCurlHTTPRequest &request, TCurlPass &pass) {
  CURL *curl = request.FCurl;
  bool serverCred =
      request.FServerAuth && !(request.FServerUser.empty() && request.FServerPassword.empty());
  SetOpt(curl, CURLOPT_USERNAME, serverCred ? request.FServerUser.c_str() : nullptr);
  SetOpt(curl, CURLOPT_PASSWORD, serverCred ? request.FServerPassword.c_str() : nullptr);
  SetOpt(curl, CURLOPT_HTTPAUTH, long(serverCred ? request.FServerAuth : CURLAUTH_BASIC));
  // Schemes that take several legs on one connection are libcurl's to run.
  constexpr unsigned long multiLeg = CURLAUTH_NTLM | CURLAUTH_NEGOTIATE;
  pass.OneRequest = !((serverCred ? request.FServerAuth : 0) & multiLeg) &&
                    !((request.FProxyUser.empty() ? 0 : request.FProxyAuth) & multiLeg);
}

} // namespace vv
