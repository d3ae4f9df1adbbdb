#include "web/FastCGIRecords.h"

#include <algorithm>
#include <charconv>

#include "web/CGIRequest.h"
#include "web/WebLimits.h"

namespace vv::fastcgi {

// ---- writing ----

void AppendHeader(std::string &out, TType type, uint16_t id, size_t contentLength,
                  uint8_t padding) {
  const char header[kHeaderSize] = {char(kVersion),
                                    char(type),
                                    char(id >> 8),
                                    char(id & 0xFF),
                                    char((contentLength >> 8) & 0xFF),
                                    char(contentLength & 0xFF),
                                    char(padding),
                                    0};
  out.append(header, kHeaderSize);
}

void AppendStream(std::string &out, TType type, uint16_t id, std::string_view data) {
  if (data.empty()) return AppendHeader(out, type, id, 0, 0);
  // Pieces that are a multiple of 8 need no padding but for the last.
  constexpr size_t kPiece = kMaxRecordContent & ~size_t(7);
  for (size_t at = 0; at < data.size(); at += kPiece) {
    std::string_view piece = data.substr(at, kPiece);
    uint8_t padding = uint8_t(-piece.size() & 7);
    AppendHeader(out, type, id, piece.size(), padding);
    out.append(piece);
    out.append(padding, '\0');
  }
}

void AppendEndRequest(std::string &out, uint16_t id, uint32_t appStatus, TProtocolStatus status) {
  AppendHeader(out, TType::EndRequest, id, 8, 0);
  const char body[8] = {char(appStatus >> 24),
                        char((appStatus >> 16) & 0xFF),
                        char((appStatus >> 8) & 0xFF),
                        char(appStatus & 0xFF),
                        char(status),
                        0,
                        0,
                        0};
  out.append(body, 8);
}

// ---- the variables of a request ----

// A length is one byte below 128, else four with the top bit set.
bool TParamsDecoder::ReadLength(std::string_view &bytes, uint32_t &length) {
  while (!bytes.empty()) {
    FLengthBytes[FLengthHave++] = uint8_t(bytes.front());
    bytes.remove_prefix(1);
    if (FLengthHave == 1 && FLengthBytes[0] < 0x80) {
      length = FLengthBytes[0];
      FLengthHave = 0;
      return true;
    }
    if (FLengthHave == 4) {
      length = (uint32_t(FLengthBytes[0] & 0x7F) << 24) | (uint32_t(FLengthBytes[1]) << 16) |
               (uint32_t(FLengthBytes[2]) << 8) | FLengthBytes[3];
      FLengthHave = 0;
      return true;
    }
  }
  return false;
}

// Both lengths are known: the pair is checked before any byte is kept.
void TParamsDecoder::StartPair() {
  int64_t entry = int64_t(FNameLength) + int64_t(FValueLength) + 1; // NAME=value
  FTotal += entry + 1;                                              // and its end
  if (entry > kMaxParamLength || FTotal > kMaxParamsTotal) {
    FFault = TParamsFault::TooLarge;
    FEnv = TCGIEnvironment();
    FEntry = std::string();
    return;
  }
  FEntry.clear();
  FState = TState::Name;
  FLeft = FNameLength;
  if (FLeft == 0) {
    FEntry += '=';
    FState = TState::Value;
    FLeft = FValueLength;
    if (FLeft == 0) EndPair();
  }
}

void TParamsDecoder::EndPair() {
  std::string_view entry = FEntry;
  entry = entry.substr(0, entry.find('\0'));
  FEnv.Add(entry);
  FState = TState::NameLength;
}

void TParamsDecoder::Feed(std::string_view bytes) {
  while (!bytes.empty() && FFault == TParamsFault::None) {
    switch (FState) {
    case TState::NameLength:
      if (ReadLength(bytes, FNameLength)) FState = TState::ValueLength;
      break;
    case TState::ValueLength:
      if (ReadLength(bytes, FValueLength)) StartPair();
      break;
    case TState::Name:
    case TState::Value: {
      size_t n = std::min<size_t>(FLeft, bytes.size());
      FEntry.append(bytes.substr(0, n));
      bytes.remove_prefix(n);
      FLeft -= uint32_t(n);
      if (FLeft > 0) break;
      if (FState == TState::Name) {
        FEntry += '=';
        FState = TState::Value;
        FLeft = FValueLength;
        if (FLeft > 0) break;
      }
      EndPair();
      break;
    }
    }
  }
}

TParamsFault TParamsDecoder::Finish() {
  if (FFault == TParamsFault::None && (FState != TState::NameLength || FLengthHave != 0)) {
    FFault = TParamsFault::Malformed;
    FEnv = TCGIEnvironment();
  }
  FEntry = std::string();
  return FFault;
}

TCGIEnvironment TParamsDecoder::Take() {
  TCGIEnvironment env = std::move(FEnv);
  *this = TParamsDecoder();
  return env;
}

// ---- reading a connection ----

namespace {

// The GET_VALUES names this worker answers, with its answers: one request
// per connection at a time; connections and requests as the limits allow.
std::string ValuesResult(std::string_view query) {
  TParamsDecoder names;
  names.Feed(query);
  names.Finish();
  TCGIEnvironment asked = names.Take();
  std::string pairs;
  auto answer = [&pairs](std::string_view name, std::string_view value) {
    pairs += char(name.size());
    pairs += char(value.size());
    pairs.append(name);
    pairs.append(value);
  };
  char number[24];
  for (size_t i = 0; i < asked.Count(); ++i) {
    std::string_view name = asked.Entry(i);
    name = name.substr(0, name.find('='));
    if (name == "FCGI_MPXS_CONNS") {
      answer(name, "0");
    } else if (name == "FCGI_MAX_CONNS" || name == "FCGI_MAX_REQS") {
      auto end = std::to_chars(number, number + sizeof number, kMaxFastCGIConnections).ptr;
      answer(name, std::string_view(number, size_t(end - number)));
    }
  }
  std::string out;
  AppendHeader(out, TType::GetValuesResult, 0, pairs.size(), uint8_t(-pairs.size() & 7));
  out += pairs;
  out.append(-pairs.size() & 7, '\0');
  return out;
}

} // namespace

bool TConnectionReader::Take(std::string_view bytes) {
  if (FBroken) return false;
  // What follows a whole request waits until that request is taken: the
  // web server sends its next request only after the answer, and one that
  // does not is read in turn all the same.
  if (FReady) {
    FPending.append(bytes);
    return true;
  }
  while (!bytes.empty() && !FReady) {
    switch (FState) {
    case TState::Header: {
      size_t n = std::min(kHeaderSize - FHave, bytes.size());
      std::copy_n(bytes.data(), n, FHeader + FHave);
      FHave += n;
      bytes.remove_prefix(n);
      if (FHave < kHeaderSize) break;
      FHave = 0;
      if (FHeader[0] != kVersion) {
        FBroken = true;
        return false;
      }
      StartRecord();
      break;
    }
    case TState::Content: {
      size_t n = std::min(FContentLeft, bytes.size());
      FContentLeft -= n;
      RecordContent(bytes.substr(0, n));
      bytes.remove_prefix(n);
      if (FContentLeft == 0) {
        EndRecord();
        FState = FPaddingLeft > 0 ? TState::Padding : TState::Header;
      }
      break;
    }
    case TState::Padding: {
      size_t n = std::min(FPaddingLeft, bytes.size());
      FPaddingLeft -= n;
      bytes.remove_prefix(n);
      if (FPaddingLeft == 0) FState = TState::Header;
      break;
    }
    }
  }
  FPending.append(bytes);
  return true;
}

void TConnectionReader::StartRecord() {
  FType = TType(FHeader[1]);
  FId = uint16_t((FHeader[2] << 8) | FHeader[3]);
  FContentLeft = FLength = size_t((FHeader[4] << 8) | FHeader[5]);
  FPaddingLeft = FHeader[6];
  FSmall.clear();
  if (FContentLeft > 0) {
    FState = TState::Content;
    return;
  }
  EndRecord();
  FState = FPaddingLeft > 0 ? TState::Padding : TState::Header;
}

// Content is handled as it arrives: the variables and the input go
// straight where they belong; the few records read whole are small.
void TConnectionReader::RecordContent(std::string_view bytes) {
  bool ours = FActive && FId == FRequest.Id && !FReady;
  if (FId == 0 || FType == TType::BeginRequest) {
    FSmall.append(bytes);
  } else if (ours && FType == TType::Params && !FParamsDone) {
    FParams.Feed(bytes);
  } else if (ours && FType == TType::Stdin && FParamsDone) {
    size_t room = size_t(FWanted) - FRequest.Body.size();
    FRequest.Body.append(bytes.substr(0, room));
  }
}

void TConnectionReader::EndRecord() {
  if (FId == 0) {
    if (FType == TType::GetValues) {
      FReplies += ValuesResult(FSmall);
    } else {
      AppendHeader(FReplies, TType::UnknownType, 0, 8, 0);
      const char body[8] = {char(FType), 0, 0, 0, 0, 0, 0, 0};
      FReplies.append(body, 8);
    }
    return;
  }
  switch (FType) {
  case TType::BeginRequest:
    return BeginRequest();
  case TType::AbortRequest:
    if (FActive && FId == FRequest.Id && !FReady) {
      AppendEndRequest(FReplies, FId, 0, TProtocolStatus::RequestComplete);
      FCloseAfterReplies = FCloseAfterReplies || !FRequest.KeepConnection;
      FActive = false;
      FRequest = TRequest();
      FParams = TParamsDecoder();
    }
    return;
  case TType::Params:
    // An empty record ends the variables.
    if (FActive && FId == FRequest.Id && !FParamsDone && FLength == 0) EndParams();
    return;
  case TType::Stdin:
    if (FActive && FId == FRequest.Id && FParamsDone && FLength == 0) FRequest.InputEnded = true;
    CheckReady();
    return;
  default:
    return;
  }
}

void TConnectionReader::BeginRequest() {
  if (FSmall.size() < 8) return; // not a request anyone could answer
  uint16_t role = uint16_t((uint8_t(FSmall[0]) << 8) | uint8_t(FSmall[1]));
  bool keep = (uint8_t(FSmall[2]) & kFlagKeepConn) != 0;
  if (FActive) {
    if (FId != FRequest.Id) AppendEndRequest(FReplies, FId, 0, TProtocolStatus::CantMultiplex);
    return;
  }
  if (role != kRoleResponder) {
    AppendEndRequest(FReplies, FId, 0, TProtocolStatus::UnknownRole);
    FCloseAfterReplies = FCloseAfterReplies || !keep;
    return;
  }
  FActive = true;
  FParamsDone = FReady = false;
  FRequest = TRequest();
  FRequest.Id = FId;
  FRequest.KeepConnection = keep;
}

void TConnectionReader::EndParams() {
  FParamsDone = true;
  FRequest.Fault = FParams.Finish();
  FRequest.Env = FParams.Take();
  // The input is kept up to what the application will read: what it
  // announces, unless that is more than the application takes at all.
  int64_t announced =
      FRequest.Fault == TParamsFault::None ? AnnouncedContentLength(FRequest.Env) : 0;
  FWanted = announced > 0 && announced <= kMaxContentLength ? announced : 0;
  CheckReady();
}

void TConnectionReader::CheckReady() {
  if (!FActive || !FParamsDone || FReady) return;
  FReady = FRequest.InputEnded || int64_t(FRequest.Body.size()) >= FWanted;
}

TRequest TConnectionReader::TakeRequest() {
  TRequest r = std::move(FRequest);
  FRequest = TRequest();
  FActive = FParamsDone = FReady = false;
  FWanted = 0;
  std::string pending = std::move(FPending);
  FPending = std::string();
  Take(pending);
  return r;
}

bool TConnectionReader::MidRequest() const {
  return FActive || FState != TState::Header || FHave > 0 || !FPending.empty();
}

} // namespace vv::fastcgi
