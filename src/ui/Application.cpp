#include "ui/Application.h"

#include <utility>

namespace {
std::function<void()>& Hook() {
  static std::function<void()>* hook = new std::function<void()>;
  return *hook;
}
}  // namespace

void ApplicationProcessMessages() {
  if (Hook()) Hook()();
}

std::function<void()> ApplicationProcessMessagesHookSet(std::function<void()> aHook) {
  std::function<void()> previous = std::move(Hook());
  Hook() = std::move(aHook);
  return previous;
}
