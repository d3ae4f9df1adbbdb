// Components: named objects with an owner that frees them.
#pragma once

#include <string>
#include <vector>

#include "rtl/Object.h"

namespace vv {

class TComponent : public TObject {
  VV_CLASS(TComponent)
  explicit TComponent(TComponent *owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent &) = delete;
  TComponent &operator=(const TComponent &) = delete;

  TComponent *Owner() const { return FOwner; }
  const std::string &Name() const { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  int ComponentCount() const { return int(FComponents.size()); }
  TComponent *Components(int i) const { return FComponents.at(size_t(i)); }
  // The owned component of that name (case-insensitive), or none.
  TComponent *FindComponent(std::string_view name) const;
  void InsertComponent(TComponent *c);
  void RemoveComponent(TComponent *c);

private:
  TComponent *FOwner = nullptr;
  std::string FName;
  std::vector<TComponent *> FComponents;
};

} // namespace vv
