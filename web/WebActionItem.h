// Action items: a path pattern, a method and a handler each.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "web/Mask.h"
#include "web/WebRequest.h"

namespace vv {

class TWebResponse;
class TWebActionItems;

// (Sender, Request, Response, var Handled)
using THTTPMethodEvent = std::function<void(TObject *sender, TWebRequest *request,
                                            TWebResponse *response, bool &handled)>;

// The sender of its OnAction handler.
class TWebActionItem : public TObject {
  VV_CLASS(TWebActionItem)
  explicit TWebActionItem(TWebActionItems *collection = nullptr);

  bool Default() const { return FDefault; }
  // True clears Default on every other item of the collection.
  void SetDefault(bool value);
  bool Enabled = true;
  TMethodType MethodType = mtAny;
  const std::string &Name() const { return FName; }
  // Fails with "Duplicate action name" when another item bears the name.
  void SetName(const std::string &value);
  const std::string &PathInfo() const { return FPathInfo; }
  // Backslashes become "/" and a "/" is put in front; "" stays "".
  void SetPathInfo(const std::string &value);
  THTTPMethodEvent OnAction;

  // The item's dispatch: whether it took the request. In the default pass
  // a Default item takes whatever comes.
  bool DispatchAction(TObject *sender, TWebRequest *request, TWebResponse *response,
                      bool defaultPass);
  // The compiled mask of PathInfo ("/" compiles as the empty mask).
  const TMask &Mask();

private:
  friend class TWebActionItems;
  TWebActionItems *FCollection;
  bool FDefault = false;
  std::string FName;
  std::string FPathInfo;
  std::string FMaskPathInfo;
  bool FMaskCompiled = false;
  TMask FMask;
};

class TWebActionItems {
  friend class TWebActionItem;

public:
  // A new item named "WebActionItem<n>" with the smallest free n.
  TWebActionItem *Add();
  int Count() const { return int(FItems.size()); }
  TWebActionItem *Items(int index) const { return FItems.at(size_t(index)).get(); }
  // The first item of that name (case-insensitive), or none.
  TWebActionItem *ActionByName(const std::string &name) const;

private:
  std::vector<std::unique_ptr<TWebActionItem>> FItems;
};

} // namespace vv
