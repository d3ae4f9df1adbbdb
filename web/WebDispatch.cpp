#include "web/WebDispatch.h"

#include "rtl/Component.h"
#include "rtl/StrUtils.h"

namespace vv {

std::string DosPathToUnixPath(const std::string &path) {
  std::string p = StringReplace(path, "\\", "/");
  if (!p.empty() && p[0] != '/') p.insert(p.begin(), '/');
  return p;
}

std::string TWebDispatch::PathInfo() const {
  if (!FPathInfo.empty() || !FComponent) return FPathInfo;
  return FComponent->Name();
}

void TWebDispatch::SetPathInfo(const std::string &value) {
  FPathInfo = FComponent && value == FComponent->Name() ? std::string() : value;
}

const TMask &TWebDispatch::Mask() {
  std::string path = PathInfo();
  if (!FCompiled || path != FCompiledFrom) {
    FMask = TMask(DosPathToUnixPath(path));
    FCompiledFrom = path;
    FCompiled = true;
  }
  return FMask;
}

} // namespace vv
