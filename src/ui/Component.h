// The component of the UI class library: an object owned by another, freed with its owner.
#pragma once

#include <functional>
#include <vector>

class TComponent;

// The handler of an event: called with the component that raised it.
using TNotifyEvent = std::function<void(TComponent* Sender)>;

class TComponent {
 public:
  // A component with an owner is freed by it, its components before it, the newest first.
  explicit TComponent(TComponent* aOwner = nullptr);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  virtual ~TComponent();

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int aIndex) const { return FComponents.at(static_cast<size_t>(aIndex)); }
  // Frees every owned component (BeforeDestruction, then delete), the newest first.
  void DestroyComponents();

  // Runs while the whole object still exists, before any destructor: forms run their
  // OnDestroy here, when the fields of the derived form are still there to use.
  virtual void BeforeDestruction() {}

 private:
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
};

// Frees a component the way its owner would: BeforeDestruction, then delete. Null is fine.
void ComponentFree(TComponent* aComponent);
