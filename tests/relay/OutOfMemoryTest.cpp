// Running out of memory anywhere in a relay call is a failure like any
// other: the empty list and one line on standard error, never an error
// that escapes the call. Every allocation of a call is made to fail in
// turn, once and from then on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>

#include "relay/uDRUXImpl.h"
#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "soap/server/DataContext.h"
#include "soap/server/InvokeRegistry.h"
#include "tests/soap/client/SOAPHTTPTransTestServer.h"

namespace {

// Allocations of the calling thread counted from the arming (the peer's
// thread is left alone); the one numbered GFailAt fails, and with GFailOn
// every one after it too.
thread_local long GCount = 0, GFailAt = -1;
thread_local bool GFailOn = false;

void Count() {
  if (GFailAt >= 0) {
    long n = GCount++;
    if (n == GFailAt || (GFailOn && n > GFailAt)) throw std::bad_alloc();
  }
}

void *Allocate(std::size_t size) {
  Count();
  if (void *p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

} // namespace

void *operator new(std::size_t size) { return Allocate(size); }
// Aligned requests (the slabs records are made in) fail in turn like the others.
void *operator new(std::size_t size, std::align_val_t align) {
  Count();
  size_t a = size_t(align);
  if (void *q = std::aligned_alloc(a, (size + a - 1) / a * a)) return q;
  throw std::bad_alloc();
}
void operator delete(void *p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void *p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void *operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

using namespace vv;
namespace fs = std::filesystem;

namespace {

const std::string kNS = SUpstreamNameSpace;
const std::string kAnswer =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
    "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
    "<GetFlightsOpResponse xmlns=\"" +
    kNS +
    "\"><GetFlightsOpResult><FlightOp><Flight>F1</Flight></FlightOp><FlightOp><Flight>F2"
    "</Flight><Pax>9</Pax></FlightOp><FlightOp/></GetFlightsOpResult></GetFlightsOpResponse>"
    "</soap:Body></soap:Envelope>";

struct TCallResult {
  size_t Records = 0;
  bool Escaped = false;
  std::string Err;
};

// One relay call as the invoker makes it, with allocation number `failAt`
// failing (or none for -1).
TCallResult Call(long failAt, bool failOn) {
  TCallResult r;
  TInvContext call;
  SetCurrentDataContext(&call);
  IPtr<IDRUX> relay(static_cast<IDRUX *>(new TDRUX));
  ::testing::internal::CaptureStderr();
  GCount = 0;
  GFailOn = failOn;
  GFailAt = failAt < 0 ? LONG_MAX : failAt; // counted either way
  try {
    r.Records = relay->GetFlightsOpSoap("MAD").size();
  } catch (...) {
    r.Escaped = true;
  }
  GFailAt = -1;
  r.Err = ::testing::internal::GetCapturedStderr();
  relay.Reset();
  SetCurrentDataContext(nullptr);
  return r;
}

} // namespace

TEST(RelayOutOfMemory, EveryAllocationOfACallMayFail) {
  InitInvokeRegistry();
  InitOstrelUnit();
  InitDRUXIntfUnit();
  InitDRUXImplUnit();
  vvtest::TLoopbackServer peer({vvtest::Reply("200 OK", "text/xml; charset=utf-8", kAnswer)});
  fs::path old = fs::current_path();
  fs::path dir = fs::temp_directory_path() / ("relay-oom-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "config.ini") << "[AUTHENTICATION]\nusername=u\npassword=TopSecret9\n"
                                       "[WEBSERVICE]\nprotocol=http\nipaddress=127.0.0.1:"
                                    << peer.Port() << "\npath=svc\n";
  fs::current_path(dir);

  TCallResult clean = Call(-1, false);
  ASSERT_EQ(clean.Records, 3u) << clean.Err;
  ASSERT_EQ(clean.Err, "");
  long total = GCount;
  ASSERT_GT(total, 50);

  for (bool failOn : {false, true}) {
    for (long at = 0; at < total; ++at) {
      SCOPED_TRACE("allocation " + std::to_string(at) + (failOn ? " and every later one" : ""));
      TCallResult r = Call(at, failOn);
      ASSERT_FALSE(r.Escaped);
      // A failure the call survives without noticing (libcurl and the
      // parser reach malloc directly) answers the records.
      if (r.Records == 3) continue;
      EXPECT_EQ(r.Records, 0u);
      EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
      EXPECT_EQ(r.Err.rfind("VEVUDE relay: ", 0), 0u) << r.Err;
      EXPECT_EQ(r.Err.find("TopSecret9"), std::string::npos) << r.Err;
      EXPECT_EQ(r.Err.find("std::"), std::string::npos) << r.Err;
      if (failOn) {
        EXPECT_NE(r.Err.find("EOutOfMemory: Out of memory"), std::string::npos) << r.Err;
      }
    }
  }
  fs::current_path(old);
  fs::remove_all(dir);
}
