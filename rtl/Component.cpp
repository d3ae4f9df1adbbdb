#include "rtl/Component.h"

#include <algorithm>

#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"

namespace vv {

TClass TComponent::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TComponent, TObject>("TComponent", "Classes").Build();
  return &info;
}

TComponent::TComponent(TComponent *owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Owned components go first, last created first.
  while (!FComponents.empty()) {
    TComponent *c = FComponents.back();
    FComponents.pop_back();
    c->FOwner = nullptr;
    delete c;
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

TComponent *TComponent::FindComponent(std::string_view name) const {
  for (auto *c : FComponents)
    if (!name.empty() && SameText(c->FName, name)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent *c) {
  if (c->FOwner) c->FOwner->RemoveComponent(c);
  c->FOwner = this;
  FComponents.push_back(c);
}

void TComponent::RemoveComponent(TComponent *c) {
  auto it = std::find(FComponents.begin(), FComponents.end(), c);
  if (it != FComponents.end()) FComponents.erase(it);
  c->FOwner = nullptr;
}

} // namespace vv
