// Component base: an owner destroys the components it owns, in reverse order
// of creation. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "support/Delegate.h"

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // True while the owner is being destroyed (or this component itself):
  // handlers use it to skip work that reads sibling components.
  bool Destroying() const;

  // Design-environment support is not part of the run time: always false.
  bool Designing() const { return false; }

 protected:
  void BeginDestroy() { destroying_ = true; }
  // Frees owned components now (newest first); a derived destructor calls it
  // while its own members are still alive.
  void DestroyComponents();

 private:
  void Insert(TComponent* child) { components_.push_back(child); }
  void Remove(TComponent* child);

  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> components_;
  bool destroying_ = false;
};
