// Upstream connections kept from one request for the next, in a process
// that serves many (persistent mode); a CGI process, which makes one call
// and ends, never turns this on.
//
// Kept connections live in groups. A group is one libcurl share object
// holding idle connections, the TLS sessions learnt on them and resolved
// names; it is filed under a digest of everything that decides what a
// connection may be used for: the address, the proxy, the credentials,
// the TLS settings with what the certificate files hold (not only their
// names), the certificate decision and the caller's scope.
//
// A kept connection is idle between exchanges: anything arriving on it
// then (a second answer, the rest of a short one) would be read as the
// next exchange's answer. So a group whose connection was left with
// unread input after its exchange, or received any while idle, is thrown
// away whole, sessions included, before it serves again. And a connection
// serves again only once half as long again as the upstream lately took to
// answer has passed since its last request went out: should that exchange
// have been answered early by bytes nobody asked for, its own answer,
// still owed, shows on the connection by then instead of reaching the
// next exchange. An
// exchange only ever sees the group of its own profile, so a connection is
// reused only by a request that would have made the very same connection,
// whatever libcurl itself would consider a match. Requests, credentials,
// headers and cookies still belong to their request: only the sockets,
// TLS sessions and resolved names of a group outlive it.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vv {

// What a connection carries with it. Two exchanges share kept connections
// only when every field is the same.
struct TCurlConnectionProfile {
  std::string Origin;         // "scheme://host:port" of the server
  std::string Proxy, NoProxy; // as given to libcurl; empty: none
  std::string ServerUser, ServerPassword;
  std::string ProxyUser, ProxyPassword;
  long SSLVersion = 0; // CURLOPT_SSLVERSION as set
  bool HTTP2 = false;
  std::string CAFile, CAPath;
  std::string ClientCertPath, ClientCertData, ClientCertPassword;
  // The certificate (PEM) the request accepted although it failed
  // validation; empty while the connection must pass validation.
  std::string AcceptedCertificate;
  std::string Scope; // the caller's own distinction, e.g. its certificate policy
};

struct TKeptSockets;

// Turns keeping on or off for the process (the entry turns it on for a
// FastCGI worker). Off, every request closes its own connections.
void SetKeepConnections(bool on);
bool KeepConnections();

// Closes every kept connection and forgets every group and spare handle
// (a worker's end, or its starting afresh).
void CloseKeptConnections();

// A libcurl handle for a new request: while connections are kept, one that
// a finished request gave back (reset to libcurl's defaults, so that
// nothing of its request is left), else a new one; null when none can be
// made. Keeping handles spares each request making libcurl's own set-up
// again (its wake-up socket pair above all).
CURL *TakeCurlHandle();
// Gives a request's handle back. It is kept for the next request only when
// every exchange it made borrowed a group's connections (`ownConnections`
// false): a handle holds, besides its settings, the connections and TLS
// sessions it made on its own, and those must not serve another request.
// Any other handle is freed, as are handles beyond kMaxSpareHandles.
void GiveBackCurlHandle(CURL *handle, bool ownConnections);

// One exchange's use of the group of a profile: attaches the group to a
// libcurl handle for the exchange and detaches it at the end, leaving the
// connection (if still good) with the group. A group serves one exchange
// at a time; when keeping is off, the group is busy, or every slot is busy,
// nothing is attached and the exchange keeps its connection to itself.
class TCurlConnectionLease {
public:
  TCurlConnectionLease(CURL *handle, const TCurlConnectionProfile &profile);
  ~TCurlConnectionLease();
  TCurlConnectionLease(const TCurlConnectionLease &) = delete;
  TCurlConnectionLease &operator=(const TCurlConnectionLease &) = delete;

  bool Attached() const { return FShare != nullptr; }
  // To be called once the exchange's connection is ready, before its
  // request goes out (the pass's own call from libcurl): the one moment
  // that connection's TLS state can be learnt.
  void NoteConnection(int localPort);

private:
  bool LeftInput() const;

  CURL *FHandle;
  CURLSH *FShare = nullptr;
  TKeptSockets *FSockets = nullptr;
  bool FFresh = false;  // the exchange takes a new connection
  int FLocalPort = -1;  // the exchange's connection
  int64_t FSentUs = 0;  // when its request went out
  void *FTLS = nullptr; // and its TLS state, if any
};

} // namespace vv
