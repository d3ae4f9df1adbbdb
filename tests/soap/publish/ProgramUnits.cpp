#include "soap/publish/WSDLPublishUnit.h"
#include "soap/server/InvokeRegistry.h"
#include "tests/support/PublishTestSupport.h"
#include "tests/support/TestContract.h"

namespace vvtest {

// As test_service registers them.
void InitProgramUnits() {
  vv::InitInvokeRegistry();
  vv::InitWSDLPublishUnit();
  InitTestContract();
}

} // namespace vvtest
