#include "web/WebActionItem.h"

#include "rtl/Exception.h"
#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"
#include "web/WebDispatch.h"

namespace vv {

TClass TWebActionItem::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TWebActionItem, TObject>("TWebActionItem", "WebActionItem").Build();
  return &info;
}

TWebActionItem::TWebActionItem(TWebActionItems *collection) : FCollection(collection) {}

void TWebActionItem::SetDefault(bool value) {
  if (value && FCollection)
    for (auto &item : FCollection->FItems)
      if (item.get() != this) item->FDefault = false;
  FDefault = value;
}

void TWebActionItem::SetName(const std::string &value) {
  if (FCollection)
    for (auto &item : FCollection->FItems)
      if (item.get() != this && SameText(item->FName, value))
        throw Exception("Duplicate action name");
  FName = value;
}

void TWebActionItem::SetPathInfo(const std::string &value) { FPathInfo = DosPathToUnixPath(value); }

const TMask &TWebActionItem::Mask() {
  if (!FMaskCompiled || !SameText(FMaskPathInfo, FPathInfo)) {
    // "/" alone means the empty path (and "/", which dispatch folds to it).
    FMask = TMask(FPathInfo == "/" ? std::string() : FPathInfo);
    FMaskPathInfo = FPathInfo;
    FMaskCompiled = true;
  }
  return FMask;
}

bool TWebActionItem::DispatchAction(TObject *, TWebRequest *request, TWebResponse *response,
                                    bool defaultPass) {
  bool matches;
  if (defaultPass && FDefault) {
    matches = true;
  } else {
    std::string path = request->InternalPathInfo();
    if (path == "/") path.clear();
    matches = Enabled && (MethodType == mtAny || MethodType == request->MethodType()) &&
              Mask().Matches(path);
  }
  if (!matches || !OnAction) return false;
  bool handled = true;
  OnAction(this, request, response, handled);
  return handled;
}

TWebActionItem *TWebActionItems::Add() {
  auto item = std::make_unique<TWebActionItem>(this);
  for (int n = 1;; ++n) {
    std::string name = "WebActionItem" + std::to_string(n);
    if (!ActionByName(name)) {
      item->FName = name;
      break;
    }
  }
  FItems.push_back(std::move(item));
  return FItems.back().get();
}

TWebActionItem *TWebActionItems::ActionByName(const std::string &name) const {
  for (auto &item : FItems)
    if (SameText(item->Name(), name)) return item.get();
  return nullptr;
}

} // namespace vv
