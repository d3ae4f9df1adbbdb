#include "soap/publish/WSDLPublishUnit.h"

#include <unistd.h>

#include <climits>
#include <mutex>

#include "soap/publish/PublishConsts.h"
#include "soap/publish/WSDLPublish.h"
#include "soap/server/InvokeRegistry.h"

namespace vv {

namespace {

TPublishProcessValues GValues;

// The path of the running program, or empty when the system does not say.
std::string OwnExecutablePath() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

} // namespace

TPublishProcessValues PublishValuesFor(std::string_view exePath) {
  size_t slash = exePath.rfind('/');
  size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  size_t dot = exePath.rfind('.');
  // The extension is the last "." of the file name, not of a folder.
  std::string_view module =
      dot != std::string_view::npos && dot >= nameStart ? exePath.substr(0, dot) : exePath;
  TPublishProcessValues v;
  v.ModulePath = std::string(module);
  v.PageTitle = std::string(module.substr(nameStart));
  v.PortFile = v.ModulePath + SPortFileSuffix;
  return v;
}

void InitWSDLPublishUnit() {
  static std::once_flag once;
  std::call_once(once, [] {
    TInvokableClassRegistry &reg = InvRegistry();
    reg.RegisterInterface(IWSDLPublish::StaticTypeInfo(), SSoapTypesNameSpace, "", SWSDLPublishDoc,
                          "");
    reg.RegisterDefaultSOAPAction(IWSDLPublish::StaticTypeInfo(),
                                  std::string(SSoapTypesNameSpace) + "-IWSDLPublish");
    reg.RegisterInvokableClass(TWSDLPublish::StaticClassInfo());
    GValues = PublishValuesFor(OwnExecutablePath());
  });
}

const TPublishProcessValues &PublishProcessValues() { return GValues; }

} // namespace vv
