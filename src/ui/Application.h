// The application object of the UI class library: the main form, the message loop, message
// boxes and the handling of exceptions that leave an event handler.
#pragma once

#include <exception>
#include <functional>

#include "platform/win32api.h"
#include "ui/Component.h"

class TForm;

class TApplication : public TComponent {
 public:
  TApplication();

  // Prepares the application; call it once, first.
  void Initialize();

  // The application's title: the caption of ShowMessage and of the exception message box,
  // and of the application's hidden window.
  Text TitleGet() const { return FTitle; }
  void TitleSet(const Text& aTitle);
  // Run shows the main form when true (the default).
  bool ShowMainForm = true;
  // False (the default): the main form is owned by the application's hidden window and so
  // has no task bar button of its own.
  bool MainFormOnTaskBar = false;

  // Creates a form owned by the application and runs its OnCreate; the first form created
  // becomes the main form, with its window made at once (hidden).
  template <class T, class... Args>
  T* CreateForm(Args&&... aArgs) {
    T* form = new T(this, std::forward<Args>(aArgs)...);
    FormCreated(form);
    return form;
  }
  TForm* MainForm() const { return FMainForm; }

  // Runs the message loop until the application is terminated (the main form closed).
  void Run();
  // Handles the messages waiting in the queue, then returns.
  void ProcessMessages();
  // Ends the message loop: Run returns once the messages before it are handled.
  void Terminate();
  bool Terminated() const { return FTerminated; }

  // MessageBoxW owned by the main form (when it is visible). The button's id.
  int MessageBox(const Text& aText, const Text& aCaption, win::UINT aFlags = win::MB_OK);

  // Called with an exception that left an event handler (a timer's, a form's); without a
  // handler ShowException shows it. The exception is passed on unchanged.
  std::function<void(std::exception_ptr aException)> OnException;
  void HandleException(std::exception_ptr aException);
  // A message box with the exception's message, titled with the application's title.
  void ShowException(std::exception_ptr aException);

  // The hidden window that owns the main form (made with the main form's window).
  win::HWND Handle();
  // The hidden window if it was made already (never makes it: any thread may ask).
  win::HWND HandleGet() const { return FHandle; }

 private:
  friend class TForm;
  void FormCreated(TForm* aForm);
  // A form is destroyed: the main form no longer exists.
  void FormDestroyed(TForm* aForm);
  // Waits for one message and handles it; false once WM_QUIT came.
  bool HandleMessage();

  Text FTitle;
  TForm* FMainForm = nullptr;
  bool FTerminated = false;
  win::HWND FHandle = nullptr;
};

// The program's application object.
extern TApplication* const Application;

// Processes the window messages waiting in the main thread's queue, once
// (Application->ProcessMessages, unless a test has set another pass).
void ApplicationProcessMessages();
// Replaces what a pass does (an empty function: Application->ProcessMessages); returns the
// one it replaces.
std::function<void()> ApplicationProcessMessagesHookSet(std::function<void()> aHook);
