// Every limit and default of the SOAP client layer, in one place: the SOAP
// transport, the HTTP client, its libcurl binding and the kept
// connections. A limit guards the process against what a server merely
// announces or sends; a default is what a caller gets without asking.
// (The transport's default invoke options sit beside their enumeration in
// SOAPHTTPTrans.h.)
#pragma once

#include <cstddef>
#include <cstdint>

namespace vv {

// ---- timeouts ----
// Connecting, sending and waiting for the answer each get a minute, in ms:
// far above what a healthy upstream takes, so only a dead or stuck peer
// meets it. The HTTP client and the SOAP transport both start from it.
constexpr int32_t kDefaultTimeoutMs = 60000;
// The whole handshake that only reads a server's certificate, in ms: the
// probe has no stall watch of its own, so it gets the same minute at most.
constexpr long kCertificateProbeTimeoutMs = kDefaultTimeoutMs;

// ---- the SOAP transport and the HTTP client ----
// The "User-Agent" the SOAP transport sends, and the one of a bare HTTP client.
constexpr const char *kDefaultSOAPAgent = "Zentrova SOAP 1.4";
constexpr const char *kDefaultUserAgent = "Zentrova URI Client/1.0";
// Redirects followed in one execution before it fails.
constexpr int32_t kDefaultMaxRedirects = 5;
// Passes of one execution: a safety net against a binding that keeps
// asking for another one, far above what redirects and authentication
// rounds need.
constexpr int32_t kMaxPassesPerExecute = 64;
// Cookies kept by one client, and bytes of one "Set-Cookie" value (name,
// value and attributes); what is beyond either is dropped, not stored.
constexpr size_t kMaxCookies = 64;
constexpr size_t kMaxCookieSize = 4096;
// Code points of one host-name label turned into its ASCII form: far above
// the 63 bytes a label may have on the wire, and small enough that the
// encoding, whose cost grows with the square of the length, stays cheap.
constexpr size_t kMaxHostLabel = 256;
// Bytes of one WSDL document read from a file.
constexpr int64_t kMaxWSDLSize = 8 << 20;

// ---- the libcurl binding ----
// Bytes kept of one response body; a power of two, so that the memory
// stream that takes it never grows its room past it.
constexpr int64_t kMaxResponseBody = int64_t(256) << 20;
// Bytes and lines of one response header block.
constexpr size_t kMaxHeaderBlock = 256 * 1024;
constexpr size_t kMaxHeaderLines = 512;
// Bytes of the request body handed to libcurl per read.
constexpr int64_t kSendChunkSize = 65536;
// A request body up to this size is handed to libcurl whole and goes out
// with the head in one write (libcurl does so below 64 KiB); a larger one
// is read as it is sent.
constexpr int64_t kMaxInlineBody = 60000;
// Bytes of a client certificate file, or of certificate data, checked
// before the first pass.
constexpr size_t kMaxClientCertificateFile = 1 << 20;
// The hashed system directory of trusted certificates: looked up per
// issuer, where a bundle file would be parsed whole on every request.
constexpr const char *kDefaultCADirectory = "/etc/ssl/certs";

// ---- kept connections (persistent mode) ----
// Profiles kept at once; the least recently used goes.
constexpr size_t kMaxKeptGroups = 8;
// Idle connections kept for one profile.
constexpr long kMaxConnectionsPerGroup = 2;
// Seconds an idle connection may wait and still be reused.
constexpr long kMaxIdleSeconds = 60;
// Seconds a connection is used at all; then a fresh one, which sees a
// renewed certificate and a new address of the name.
constexpr long kMaxConnectionLifetime = 300;
// A kept connection serves again only once this share (in percent) of the
// longest time the upstream took to answer (from the request's going out to
// the answer's end) in the group's last kAnswerWaitsKept exchanges has
// passed since its last request went out: an answer owed to that request,
// should the exchange have been answered early by bytes nobody asked for,
// arrives within that. A normal exchange has taken most of it already.
// Waiting for the rest is at most kMaxQuietWaitUs (microseconds); a call
// that would wait longer takes a new connection.
constexpr int64_t kQuietPercent = 150;
constexpr size_t kAnswerWaitsKept = 8;
constexpr int64_t kMaxQuietWaitUs = 20000;
// libcurl handles a worker keeps for its next requests: one serves a
// request at a time, and a call uses one.
constexpr size_t kMaxSpareHandles = 2;
// Bytes of a certificate file read on every call to tell its content from
// the next version of it: far above a bundle of every public authority
// (about 200 KiB). A larger file still works, without kept connections.
constexpr size_t kMaxTrustFileKeyed = 4 << 20;

} // namespace vv
