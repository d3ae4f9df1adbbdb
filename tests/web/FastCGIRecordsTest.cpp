// The FastCGI records a worker reads and writes: byte streams as a web
// server (or a broken or hostile peer) sends them, read in every split, and
// the exact bytes of what the worker answers on its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/CGIRequest.h"
#include "web/FastCGIListener.h"
#include "web/FastCGIRecords.h"
#include "web/WebLimits.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/un.h>

using namespace vv;
using namespace vv::fastcgi;

namespace {

// Padding is whatever the peer sends; the worker's own is zeros.
std::string Record(TType type, uint16_t id, const std::string &content, uint8_t padding = 0,
                   char fill = '\0') {
  std::string out;
  AppendHeader(out, type, id, content.size(), padding);
  return out + content + std::string(padding, fill);
}

std::string Begin(uint16_t id, bool keep = false, uint16_t role = kRoleResponder) {
  std::string body = {
      char(role >> 8), char(role & 0xFF), char(keep ? kFlagKeepConn : 0), 0, 0, 0, 0, 0};
  return Record(TType::BeginRequest, id, body);
}

std::string Length(uint32_t n, bool wide = false) {
  if (n < 128 && !wide) return std::string(1, char(n));
  return {char(0x80 | (n >> 24)), char((n >> 16) & 0xFF), char((n >> 8) & 0xFF), char(n & 0xFF)};
}

std::string Pair(const std::string &name, const std::string &value, bool wide = false) {
  return Length(uint32_t(name.size()), wide) + Length(uint32_t(value.size()), wide) + name + value;
}

// The stream in records of at most 65,535 bytes, and its end.
std::string Params(uint16_t id, const std::string &pairs) {
  std::string out;
  for (size_t at = 0; at < pairs.size(); at += kMaxRecordContent)
    out += Record(TType::Params, id, pairs.substr(at, kMaxRecordContent));
  return out + Record(TType::Params, id, "");
}

std::string Stdin(uint16_t id, const std::string &body) {
  return (body.empty() ? "" : Record(TType::Stdin, id, body)) + Record(TType::Stdin, id, "");
}

std::string EndRequest(uint16_t id, TProtocolStatus status) {
  std::string out;
  AppendEndRequest(out, id, 0, status);
  return out;
}

// What a reader made of a stream: the requests in order (entries, body,
// keep flag, fault), the replies, whether it was still mid-request, and
// whether the stream was refused as no FastCGI at all.
struct TOutcome {
  std::vector<std::vector<std::string>> Envs;
  std::vector<std::string> Bodies;
  std::vector<bool> Keeps;
  std::vector<TParamsFault> Faults;
  std::string Replies;
  bool Mid = false, Refused = false, CloseAfter = false;

  bool operator==(const TOutcome &) const = default;
};

TOutcome ReadStream(const std::string &stream, size_t piece) {
  TConnectionReader reader;
  TOutcome o;
  for (size_t at = 0; at < stream.size() && !o.Refused; at += piece) {
    o.Refused = !reader.Take(std::string_view(stream).substr(at, piece));
    while (reader.Ready()) {
      TRequest r = reader.TakeRequest();
      std::vector<std::string> env;
      for (size_t i = 0; i < r.Env.Count(); ++i) env.emplace_back(r.Env.Entry(i));
      o.Envs.push_back(env);
      o.Bodies.push_back(r.Body);
      o.Keeps.push_back(r.KeepConnection);
      o.Faults.push_back(r.Fault);
    }
  }
  o.Replies = reader.Replies();
  o.Mid = reader.MidRequest();
  o.CloseAfter = reader.CloseAfterReplies();
  return o;
}

struct TStreamCase {
  const char *Name;
  std::string Stream;
  std::vector<std::vector<std::string>> Envs;
  std::vector<std::string> Bodies;
  std::string Replies;
  bool Mid = false;
  bool Refused = false;
  std::vector<TParamsFault> Faults = {};
  bool CloseAfter = false;
};

std::string BigValue(size_t n) { return std::string(n, 'v'); }

TEST(FastCGIRecords, StreamsReadTheSameInEverySplit) {
  const std::string post = Pair("REQUEST_METHOD", "POST") + Pair("CONTENT_LENGTH", "5");
  const TStreamCase cases[] = {
      {"a request with its body",
       Begin(1) + Params(1, post) + Stdin(1, "hello"),
       {{"REQUEST_METHOD=POST", "CONTENT_LENGTH=5"}},
       {"hello"},
       ""},
      {"padding after every record, and the variables split over records",
       Begin(1) + Record(TType::Params, 1, post.substr(0, 7), 3, 'p') +
           Record(TType::Params, 1, post.substr(7), 7, 'p') + Record(TType::Params, 1, "", 5, 'p') +
           Record(TType::Stdin, 1, "hello", 3, 'p') + Record(TType::Stdin, 1, "", 0),
       {{"REQUEST_METHOD=POST", "CONTENT_LENGTH=5"}},
       {"hello"},
       ""},
      {"four-byte lengths, an empty name and an empty value",
       Begin(1) + Params(1, Pair("A", "b", true) + Pair("", "x") + Pair("E", "")) + Stdin(1, ""),
       {{"A=b", "=x", "E="}},
       {""},
       ""},
      {"an entry ends at its first NUL, as in a process environment",
       Begin(1) +
           Params(1, Pair("N", std::string("ab\0cd", 5)) + Pair(std::string("X\0Y", 3), "1")) +
           Stdin(1, ""),
       {{"N=ab", "X"}},
       {""},
       ""},
      {"the input is kept up to CONTENT_LENGTH, and the request is whole there",
       Begin(1) + Params(1, post) + Record(TType::Stdin, 1, "hello world"),
       {{"REQUEST_METHOD=POST", "CONTENT_LENGTH=5"}},
       {"hello"},
       ""},
      {"no CONTENT_LENGTH: whole once the variables are",
       Begin(1) + Params(1, Pair("REQUEST_METHOD", "GET")),
       {{"REQUEST_METHOD=GET"}},
       {""},
       ""},
      {"a body announced above the limit is not waited for",
       Begin(1) + Params(1, Pair("CONTENT_LENGTH", std::to_string(kMaxContentLength + 1))) +
           Record(TType::Stdin, 1, "abc"),
       {{"CONTENT_LENGTH=" + std::to_string(kMaxContentLength + 1)}},
       {""},
       ""},
      {"a body cut short by the end of the input",
       Begin(1) + Params(1, post) + Stdin(1, "he"),
       {{"REQUEST_METHOD=POST", "CONTENT_LENGTH=5"}},
       {"he"},
       ""},
      {"two requests one after the other on a kept connection",
       Begin(1, true) + Params(1, Pair("A", "1")) + Stdin(1, "") + Begin(2, true) +
           Params(2, Pair("B", "2")) + Stdin(2, ""),
       {{"A=1"}, {"B=2"}},
       {"", ""},
       ""},
      {"records of other requests are ignored",
       Begin(1) + Record(TType::Params, 7, Pair("X", "7")) + Params(1, Pair("A", "1")) +
           Record(TType::Stdin, 9, "zzz") + Stdin(1, "") + Record(TType::Data, 1, "data"),
       {{"A=1"}},
       {""},
       ""},
      {"a second request on the same connection meanwhile is refused",
       Begin(1) + Begin(2) + Params(1, Pair("A", "1")) + Stdin(1, ""),
       {{"A=1"}},
       {""},
       EndRequest(2, TProtocolStatus::CantMultiplex)},
      {"a role other than responder is refused",
       Begin(3, false, 2) + Params(3, Pair("A", "1")),
       {},
       {},
       EndRequest(3, TProtocolStatus::UnknownRole),
       false,
       false,
       {},
       true},
      {"an aborted request is ended and never served",
       Begin(1) + Record(TType::Params, 1, Pair("A", "1")) + Record(TType::AbortRequest, 1, "") +
           Record(TType::Params, 1, ""),
       {},
       {},
       EndRequest(1, TProtocolStatus::RequestComplete),
       false,
       false,
       {},
       true},
      {"the values asked for, answered; an unknown one left out",
       Record(TType::GetValues, 0,
              Pair("FCGI_MPXS_CONNS", "") + Pair("FCGI_MAX_CONNS", "") + Pair("NOPE", "")),
       {},
       {},
       Record(TType::GetValuesResult, 0,
              Pair("FCGI_MPXS_CONNS", "0") + Pair("FCGI_MAX_CONNS", "128"), 3)},
      {"an unknown management record is named back",
       Record(TType(42), 0, "xyz", 5),
       {},
       {},
       Record(TType::UnknownType, 0, std::string("\x2a\0\0\0\0\0\0\0", 8))},
      {"the variables end inside a pair",
       Begin(1) + Params(1, Pair("A", "1") + std::string("\x05\x01"
                                                         "AB",
                                                         4)),
       {{}},
       {""},
       "",
       false,
       false,
       {TParamsFault::Malformed}},
      {"a variable announced at two gigabytes is refused unkept",
       Begin(1) + Params(1, Length(0x7FFFFFF0, true) + Length(0x0FFFFFFF, true) + "tiny") +
           Stdin(1, ""),
       {{}},
       {""},
       "",
       false,
       false,
       {TParamsFault::TooLarge}},
      {"one variable above the limit",
       Begin(1) + Params(1, Pair("BIG", BigValue(kMaxParamLength - 3))) + Stdin(1, ""),
       {{}},
       {""},
       "",
       false,
       false,
       {TParamsFault::TooLarge}},
      {"not FastCGI at all", "GET / HTTP/1.1\r\n\r\n", {}, {}, "", false, true},
      {"silent after a partial header", Begin(1).substr(0, 5), {}, {}, "", true},
  };
  for (const auto &c : cases) {
    TOutcome want;
    want.Envs = c.Envs;
    want.Bodies = c.Bodies;
    want.Replies = c.Replies;
    want.Mid = c.Mid;
    want.Refused = c.Refused;
    for (size_t i = 0; i < c.Envs.size(); ++i) {
      want.Keeps.push_back(c.Stream.find(Begin(uint16_t(i + 1), true)) != std::string::npos);
      want.Faults.push_back(i < c.Faults.size() ? c.Faults[i] : TParamsFault::None);
    }
    want.CloseAfter = c.CloseAfter;
    for (size_t piece : {c.Stream.size() + 1, size_t(1), size_t(3), size_t(8), size_t(9)}) {
      SCOPED_TRACE(std::string(c.Name) + ", pieces of " + std::to_string(piece));
      TOutcome got = ReadStream(c.Stream, piece);
      EXPECT_EQ(got.Envs, want.Envs);
      EXPECT_EQ(got.Bodies, want.Bodies);
      EXPECT_EQ(got.Keeps, want.Keeps);
      EXPECT_EQ(got.Faults, want.Faults);
      EXPECT_EQ(got.Replies, want.Replies);
      EXPECT_EQ(got.Mid, want.Mid);
      EXPECT_EQ(got.Refused, want.Refused);
      EXPECT_EQ(got.CloseAfter, want.CloseAfter);
    }
  }
}

// The whole of the variables is held to what a process could be started
// with: the limit counts "NAME=value" and its end, as before.
TEST(FastCGIRecords, VariablesUpToTheLimitAreTakenOneMoreByteIsNot) {
  auto stream = [](int64_t total) {
    // Pairs of 1000-byte entries ("N=vvv...") and one to reach the total.
    std::string pairs;
    int64_t left = total;
    for (int i = 0; left > 0; ++i) {
      int64_t entry = std::min<int64_t>(left, 1001) - 1; // its end counts one
      std::string name = "N" + std::to_string(i);
      pairs += Pair(name, BigValue(size_t(entry - int64_t(name.size()) - 1)));
      left -= entry + 1;
    }
    return Begin(1) + Params(1, pairs) + Stdin(1, "");
  };
  TOutcome at = ReadStream(stream(kMaxParamsTotal), 65536);
  ASSERT_EQ(at.Faults.size(), 1u);
  EXPECT_EQ(at.Faults[0], TParamsFault::None);
  size_t bytes = 0;
  for (const std::string &e : at.Envs[0]) bytes += e.size() + 1;
  EXPECT_EQ(int64_t(bytes), kMaxParamsTotal);
  TOutcome over = ReadStream(stream(kMaxParamsTotal + 1), 65536);
  ASSERT_EQ(over.Faults.size(), 1u);
  EXPECT_EQ(over.Faults[0], TParamsFault::TooLarge);
  EXPECT_TRUE(over.Envs[0].empty());
}

TEST(FastCGIRecords, AnswersAreFramedInPaddedRecords) {
  std::string out;
  AppendStream(out, TType::Stdout, 0x0102, "abc");
  AppendStream(out, TType::Stdout, 0x0102, "");
  AppendEndRequest(out, 0x0102, 7, TProtocolStatus::RequestComplete);
  EXPECT_EQ(out, std::string("\x01\x06\x01\x02\x00\x03\x05\x00"
                             "abc\0\0\0\0\0"
                             "\x01\x06\x01\x02\x00\x00\x00\x00"
                             "\x01\x03\x01\x02\x00\x08\x00\x00"
                             "\x00\x00\x00\x07\x00\x00\x00\x00",
                             40));
  // Large data goes in records of at most 65,535 bytes, each whole.
  std::string big(200000, 'x'), framed;
  AppendStream(framed, TType::Stdout, 1, big);
  TOutcome none = ReadStream(framed, framed.size());
  EXPECT_FALSE(none.Refused);
  EXPECT_FALSE(none.Mid);
}

TEST(FastCGIRecords, TheReaderAnnouncesTheLengthTheRequestReads) {
  const std::vector<std::vector<std::string>> envs = {
      {"CONTENT_LENGTH=12"},
      {"CONTENT_LENGTH= 12"},
      {"CONTENT_LENGTH=+12"},
      {"CONTENT_LENGTH=-1"},
      {"content_length=9"},
      {"HTTP_CONTENT_LENGTH=3", "CONTENT_LENGTH=9"},
      {"CONTENT_LENGTH=abc"},
      {},
      {"CONTENT_LENGTH=99999999999999999999"},
  };
  for (const auto &vars : envs) {
    TCGIHost host;
    host.Env = TCGIEnvironment(vars);
    TCGIRequest request(host);
    EXPECT_EQ(AnnouncedContentLength(host.Env), request.ContentLength())
        << (vars.empty() ? "" : vars[0]);
  }
}

sockaddr_storage V4(const char *text) {
  sockaddr_storage s{};
  auto *a = reinterpret_cast<sockaddr_in *>(&s);
  a->sin_family = AF_INET;
  inet_pton(AF_INET, text, &a->sin_addr);
  return s;
}

sockaddr_storage V6(const char *text) {
  sockaddr_storage s{};
  auto *a = reinterpret_cast<sockaddr_in6 *>(&s);
  a->sin6_family = AF_INET6;
  inet_pton(AF_INET6, text, &a->sin6_addr);
  return s;
}

TEST(FastCGIRecords, PeerFilterComparesAddressesWhateverTheFamilyOfTheSocket) {
  struct TCase {
    const char *List;
    sockaddr_storage Peer;
    bool Allowed;
  } const cases[] = {
      {"127.0.0.1", V4("127.0.0.1"), true},
      {"10.0.0.5,10.0.0.6", V4("127.0.0.1"), false},
      {" 10.0.0.5 , 127.0.0.1 ", V4("127.0.0.1"), true},
      // An IPv4 peer on a dual-stack socket arrives mapped.
      {"127.0.0.1", V6("::ffff:127.0.0.1"), true},
      {"10.0.0.5", V6("::ffff:127.0.0.1"), false},
      {"::1", V6("::1"), true},
      {"[::1]", V6("::1"), true},
      {"::1", V4("127.0.0.1"), false},
      {"::ffff:127.0.0.1", V4("127.0.0.1"), true},
      {"2001:db8::1", V6("2001:db8::2"), false},
      // Set, but naming no address: nobody.
      {"", V4("127.0.0.1"), false},
      {"web1.example", V4("127.0.0.1"), false},
  };
  for (const auto &c : cases) {
    std::vector<std::string> bad;
    TPeerFilter f = TPeerFilter::Parse(c.List, bad);
    socklen_t len = c.Peer.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    EXPECT_EQ(f.Allows(reinterpret_cast<const sockaddr *>(&c.Peer), len), c.Allowed) << c.List;
  }
  std::vector<std::string> bad;
  TPeerFilter::Parse("10.0.0.5,web1.example,,300.1.1.1", bad);
  EXPECT_EQ(bad, (std::vector<std::string>{"web1.example", "300.1.1.1"}));
  sockaddr_un unix{};
  unix.sun_family = AF_UNIX;
  EXPECT_TRUE(
      TPeerFilter::Parse("10.0.0.5", bad).Allows(reinterpret_cast<sockaddr *>(&unix), sizeof unix));
  sockaddr_storage any = V4("192.0.2.1");
  EXPECT_TRUE(TPeerFilter().Allows(reinterpret_cast<sockaddr *>(&any), sizeof(sockaddr_in)));
}

} // namespace
