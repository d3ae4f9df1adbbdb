// The FastCGI protocol as a worker speaks it, without any I/O: what a web
// server sends is read here byte by byte into whole requests, and what the
// worker answers is framed here into records. Nothing the peer announces
// is allocated before its bytes arrive, and nothing beyond the request
// limits of web/WebLimits.h is kept. The worker reads the protocol itself
// rather than through a FastCGI library: one that allocates what a record
// announces (and aborts when it cannot) would have to be guarded by reading
// every record first anyway, and its blocking request loop would hold the
// worker on one connection at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "web/CGIHost.h"

namespace vv::fastcgi {

inline constexpr uint8_t kVersion = 1;
inline constexpr size_t kHeaderSize = 8;
// The most one record carries.
inline constexpr size_t kMaxRecordContent = 65535;

enum class TType : uint8_t {
  BeginRequest = 1,
  AbortRequest = 2,
  EndRequest = 3,
  Params = 4,
  Stdin = 5,
  Stdout = 6,
  Stderr = 7,
  Data = 8,
  GetValues = 9,
  GetValuesResult = 10,
  UnknownType = 11,
};

// Roles a web server may ask for; this worker is a responder only.
inline constexpr uint16_t kRoleResponder = 1;
// BEGIN_REQUEST flag: the web server keeps the connection for more requests.
inline constexpr uint8_t kFlagKeepConn = 1;

enum class TProtocolStatus : uint8_t {
  RequestComplete = 0,
  CantMultiplex = 1,
  Overloaded = 2,
  UnknownRole = 3,
};

// ---- writing ----

// A record header for `contentLength` bytes followed by `padding` bytes.
void AppendHeader(std::string &out, TType type, uint16_t id, size_t contentLength, uint8_t padding);
// Records of a stream (STDOUT, STDERR) carrying `data`, padded to 8 bytes;
// empty `data` appends the record that ends the stream.
void AppendStream(std::string &out, TType type, uint16_t id, std::string_view data);
void AppendEndRequest(std::string &out, uint16_t id, uint32_t appStatus, TProtocolStatus status);

// ---- the variables of a request ----

// Why a request's variables were not taken.
enum class TParamsFault : uint8_t {
  None,
  TooLarge,  // a variable above kMaxParamLength, or all above kMaxParamsTotal
  Malformed, // the stream ended inside a name-value pair
};

// Decodes the name-value pairs of a PARAMS stream as its bytes arrive,
// into a CGI environment of "NAME=value" entries. A pair is checked
// against the limits as soon as its lengths are read, before any byte of
// it is kept; after a fault the rest of the stream is skipped unread. An
// entry ends at its first NUL byte, as it would in a CGI process's
// environment.
class TParamsDecoder {
public:
  void Feed(std::string_view bytes);
  // The stream's end; reports the fault, if any.
  TParamsFault Finish();
  TParamsFault Fault() const { return FFault; }
  // The environment decoded (empty after a fault).
  TCGIEnvironment Take();

private:
  enum class TState : uint8_t { NameLength, ValueLength, Name, Value };
  bool ReadLength(std::string_view &bytes, uint32_t &length);
  void StartPair();
  void EndPair();

  TState FState = TState::NameLength;
  TParamsFault FFault = TParamsFault::None;
  uint8_t FLengthBytes[4] = {};
  uint8_t FLengthHave = 0;
  uint32_t FNameLength = 0, FValueLength = 0, FLeft = 0;
  int64_t FTotal = 0;
  std::string FEntry; // the pair being decoded
  TCGIEnvironment FEnv;
};

// ---- reading a connection ----

// A request read whole, ready to serve.
struct TRequest {
  uint16_t Id = 0;
  bool KeepConnection = false;
  TParamsFault Fault = TParamsFault::None;
  TCGIEnvironment Env;
  std::string Body;        // the input up to what CONTENT_LENGTH announces
  bool InputEnded = false; // the end of the input stream was read
};

// What one connection sends, read record by record. A connection carries
// one request at a time (the worker answers FCGI_MPXS_CONNS with 0): a
// second one begun meanwhile is refused with FCGI_CANT_MPX_CONN, and
// records of requests not in progress are ignored. Management records are
// answered; the answers wait in Replies() for the caller to send.
class TConnectionReader {
public:
  // Takes bytes as they were read. False on a fault of the protocol
  // itself (an unknown version): the connection cannot be read further.
  bool Take(std::string_view bytes);
  // A fault of the protocol was met (also while reading what followed a
  // request, once it was taken).
  bool Broken() const { return FBroken; }
  // A request is whole: its variables read, and its input up to
  // CONTENT_LENGTH (none when CONTENT_LENGTH is above kMaxContentLength,
  // which the application refuses unread).
  bool Ready() const { return FReady; }
  // The whole request; what was read after it is read on (and may make
  // the next one whole).
  TRequest TakeRequest();
  // Bytes of a request (or of a record) have been read and more are due.
  bool MidRequest() const;
  // Records the worker must send on its own (management answers, refusals).
  std::string &Replies() { return FReplies; }
  // A request the worker ended on its own (aborted by the web server
  // before it was served, or of a role this worker does not play) did not
  // ask to keep the connection: it is closed once the replies are sent.
  bool CloseAfterReplies() const { return FCloseAfterReplies; }

private:
  enum class TState : uint8_t { Header, Content, Padding };
  void StartRecord();
  void RecordContent(std::string_view bytes);
  void EndRecord();
  void BeginRequest();
  void EndParams();
  void CheckReady();

  TState FState = TState::Header;
  uint8_t FHeader[kHeaderSize] = {};
  size_t FHave = 0;
  TType FType = TType::UnknownType;
  uint16_t FId = 0;
  size_t FLength = 0, FContentLeft = 0, FPaddingLeft = 0;
  std::string FSmall; // the content of a record read whole (begin, values)

  bool FActive = false; // a request is in progress
  bool FParamsDone = false;
  bool FReady = false;
  bool FCloseAfterReplies = false;
  bool FBroken = false;
  std::string FPending; // read after a whole request, before it was taken
  int64_t FWanted = 0;  // input bytes the request announced, within limits
  TParamsDecoder FParams;
  TRequest FRequest;
  std::string FReplies;
};

} // namespace vv::fastcgi
