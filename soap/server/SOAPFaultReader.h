// Turns the Fault element of a received SOAP response into the error it
// stands for.
#pragma once

#include "xml/XMLReader.h"

namespace vv {

// Raises ERemotableException with the fault's message, code (as received,
// prefix included), actor and detail; never returns.
[[noreturn]] void RaiseSOAPFault(TXMLCursor FaultNode);

} // namespace vv
