// The publisher's unit: its registrations (IWSDLPublish and TWSDLPublish)
// and the process-wide values its pages use, all made once at start by
// InitWSDLPublishUnit (after InitInvokeRegistry, before the contract's).
#pragma once

#include <string>
#include <string_view>

namespace vv {

struct TPublishProcessValues {
  std::string ModulePath; // the program's own file path without extension
  std::string PageTitle;  // the file-name part of ModulePath
  std::string PortFile;   // ModulePath followed by the port-file suffix
};

// Registers IWSDLPublish (in the SOAP layer's types namespace, with its
// documentation and default SOAPAction) and TWSDLPublish, and computes the
// process-wide values from the program's path. Idempotent.
void InitWSDLPublishUnit();
// The values computed by InitWSDLPublishUnit (empty before it ran).
const TPublishProcessValues &PublishProcessValues();
// The values for a program at `exePath`.
TPublishProcessValues PublishValuesFor(std::string_view exePath);

} // namespace vv
