// Kernel objects and their handles in a simulated process.
#pragma once

#include <memory>

#include "platform/win32api_types.h"

namespace sim {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Objects a wait function can wait on (events, processes) say so.
  virtual bool Waitable() const { return false; }
};

// Handle values are small multiples of 4, never 0, -1 or -2 (the pseudo-handles).
win::HANDLE HandleInsert(std::shared_ptr<KernelObject> aObject);
std::shared_ptr<KernelObject> HandleGet(win::HANDLE aHandle);
// Removes the handle; the object goes when its last handle (or user) lets go of it.
bool HandleClose(win::HANDLE aHandle);

template <class T>
std::shared_ptr<T> HandleGetAs(win::HANDLE aHandle) {
  return std::dynamic_pointer_cast<T>(HandleGet(aHandle));
}

}  // namespace sim
