#include "ui/WindowClass.h"

#include <exception>
#include <mutex>
#include <set>

#include "ui/Application.h"

bool WindowClassEnsure(const Text& aName, win::WNDPROC aProcedure, win::HBRUSH aBackground) {
  static std::mutex lock;
  static std::set<Text>* registered = new std::set<Text>;
  std::lock_guard<std::mutex> g(lock);
  if (registered->count(aName)) return true;
  win::WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = aProcedure;
  c.hInstance = win::GetModuleHandleW(nullptr);
  c.hbrBackground = aBackground;
  c.lpszClassName = aName.c_str();
  if (!win::RegisterClassExW(&c)) return false;
  registered->insert(aName);
  return true;
}

win::LRESULT WindowProcedureGuarded(const std::function<win::LRESULT()>& aBody) {
  try {
    return aBody();
  } catch (...) {
    Application->HandleException(std::current_exception());
    return 0;
  }
}
