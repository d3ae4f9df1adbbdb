// The server interface IDRUX that VEVUDE offers to its own clients, and its
// registration (InitDRUXIntfUnit, called once at start after InitOstrelUnit).
#pragma once

#include <string>

#include "relay/uOstrel.h"
#include "rtl/Interface.h"

namespace vv {

struct IDRUX : IInvokable {
  VV_INTERFACE(IDRUX, "{1C65D2BA-2C94-4D58-874E-36F2CAE056BF}")
  // The flight operations of an airport, as the upstream service answers
  // them; an empty list on any failure.
  virtual ArrayOfFlightOp GetFlightsOpSoap(const std::string &Airport) = 0;

protected:
  ~IDRUX() override = default;
};

// Registers IDRUX with its default namespace. Idempotent.
void InitDRUXIntfUnit();

} // namespace vv
