#include "ui/Application.h"

#include <utility>

#include "rtl/Exception.h"
#include "ui/Form.h"
#include "ui/WindowClass.h"

namespace {

TApplication& Instance() {
  static TApplication* a = new TApplication;
  return *a;
}

std::function<void()>& Hook() {
  static std::function<void()>* hook = new std::function<void()>;
  return *hook;
}

win::LRESULT ORV_WINAPI ApplicationWindowProc(win::HWND hWnd, win::UINT aMsg, win::WPARAM wParam, win::LPARAM lParam) {
  // The hidden owner is closed only with the application.
  if (aMsg == win::WM_CLOSE) return 0;
  return win::DefWindowProcW(hWnd, aMsg, wParam, lParam);
}

}  // namespace

TApplication* const Application = &Instance();

TApplication::TApplication() : TComponent(nullptr) {}

void TApplication::Initialize() {}

void TApplication::TitleSet(const Text& aTitle) {
  FTitle = aTitle;
  if (FHandle) win::SetWindowTextW(FHandle, FTitle.c_str());
}

win::HWND TApplication::Handle() {
  if (!FHandle && WindowClassEnsure(u"TOrvantaApplication", ApplicationWindowProc)) {
    // Never shown: it owns the main form, so that form gets no task bar button of its own.
    FHandle = win::CreateWindowExW(0, u"TOrvantaApplication", FTitle.c_str(), win::WS_POPUP, 0, 0, 0, 0, nullptr,
                                   nullptr, win::GetModuleHandleW(nullptr), nullptr);
  }
  return FHandle;
}

void TApplication::FormCreated(TForm* aForm) {
  aForm->AfterConstruction();
  if (!FMainForm) {
    FMainForm = aForm;
    aForm->HandleNeeded();
  }
}

void TApplication::FormDestroyed(TForm* aForm) {
  if (FMainForm == aForm) FMainForm = nullptr;
}

void TApplication::Run() {
  FTerminated = false;
  if (FMainForm && ShowMainForm) FMainForm->VisibleSet(true);
  while (!FTerminated) {
    try {
      if (!HandleMessage()) break;
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
}

bool TApplication::HandleMessage() {
  win::MSG m{};
  win::BOOL got = win::GetMessageW(&m, nullptr, 0, 0);
  if (got == 0 || got == -1) {
    // WM_QUIT, or a queue that cannot be read: either way the loop is over.
    FTerminated = true;
    return false;
  }
  win::TranslateMessage(&m);
  win::DispatchMessageW(&m);
  return true;
}

void TApplication::ProcessMessages() {
  win::MSG m{};
  while (win::PeekMessageW(&m, nullptr, 0, 0, win::PM_REMOVE)) {
    if (m.message == win::WM_QUIT) {
      FTerminated = true;
      return;
    }
    win::TranslateMessage(&m);
    win::DispatchMessageW(&m);
  }
}

void TApplication::Terminate() {
  if (FTerminated) return;
  win::PostQuitMessage(0);
}

int TApplication::MessageBox(const Text& aText, const Text& aCaption, win::UINT aFlags) {
  win::HWND owner = nullptr;
  if (FMainForm && FMainForm->HandleAllocated() && win::IsWindowVisible(FMainForm->Handle()))
    owner = FMainForm->Handle();
  return win::MessageBoxW(owner, aText.c_str(), aCaption.c_str(), aFlags);
}

void TApplication::HandleException(std::exception_ptr aException) {
  if (!aException) return;
  if (OnException) {
    OnException(aException);
    return;
  }
  ShowException(aException);
}

void TApplication::ShowException(std::exception_ptr aException) {
  Text message;
  try {
    std::rethrow_exception(aException);
  } catch (const Exception& e) {
    message = e.Message();
  } catch (const std::exception& e) {
    message = Utf8ToText(e.what());
  } catch (...) {
    message = u"An unknown exception occurred";
  }
  MessageBox(message, FTitle, win::MB_OK | win::MB_ICONSTOP);
}

void ApplicationProcessMessages() {
  if (Hook()) Hook()();
  else Application->ProcessMessages();
}

std::function<void()> ApplicationProcessMessagesHookSet(std::function<void()> aHook) {
  std::function<void()> previous = std::move(Hook());
  Hook() = std::move(aHook);
  return previous;
}
