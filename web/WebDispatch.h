// Components that dispatch requests by themselves: a web module offers them
// every request its action items did not take.
#pragma once

#include <string>

#include "web/Mask.h"
#include "web/WebRequest.h"

namespace vv {

class TComponent;
class TWebResponse;

// Implemented by a component owned by a web module (next to its TComponent
// base). The module finds such components among its own, in the order they
// were inserted, and offers them the request when enabled, when the method
// fits (mtAny fits every method) and when the mask matches the path info.
class IWebDispatch {
public:
  virtual bool DispatchEnabled() = 0;
  virtual TMethodType DispatchMethodType() = 0;
  // Handles the request; returns whether it was handled.
  virtual bool DispatchRequest(TObject *sender, TWebRequest *request, TWebResponse *response) = 0;
  virtual const TMask &DispatchMask() = 0;

protected:
  ~IWebDispatch() = default;
};

// The dispatch settings a self-dispatching component owns and publishes as
// WebDispatch; the component answers the first, second and fourth operation
// of IWebDispatch from it.
class TWebDispatch {
public:
  // `component` is the owning component, whose name stands in for an empty
  // PathInfo.
  explicit TWebDispatch(TComponent *component) : FComponent(component) {}

  bool Enabled = true;
  TMethodType MethodType = mtPost;

  // The path pattern; the owner's name when empty.
  std::string PathInfo() const;
  // Assigning the owner's name stores an empty value.
  void SetPathInfo(const std::string &value);
  // The compiled mask of PathInfo with "/" put in front, rebuilt when the
  // path changed.
  const TMask &Mask();

private:
  TComponent *FComponent;
  std::string FPathInfo;
  std::string FCompiledFrom;
  bool FCompiled = false;
  TMask FMask;
};

// The path with backslashes turned into "/" and a "/" put in front when
// missing; an empty path stays empty.
std::string DosPathToUnixPath(const std::string &path);

} // namespace vv
