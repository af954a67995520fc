#include "ui/Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* aOwner) : FOwner(aOwner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (FOwner) {
    auto& siblings = FOwner->FComponents;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

void TComponent::DestroyComponents() {
  // Each free removes the component from the list; the newest goes first.
  while (!FComponents.empty()) ComponentFree(FComponents.back());
}

void ComponentFree(TComponent* aComponent) {
  if (!aComponent) return;
  aComponent->BeforeDestruction();
  delete aComponent;
}
