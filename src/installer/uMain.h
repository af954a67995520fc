// The installer: its program entry, its one window (the splash form TForm1) and the
// installation sequence the form runs once, shortly after the message loop starts.
#pragma once

#include "params/uFlexArray.h"
#include "paths/uPaths.h"
#include "platform/win32api.h"
#include "ui/Form.h"
#include "ui/Image.h"
#include "ui/Timer.h"

// The key of the installer's encrypted log files: formed while the units start.
extern Text LogFileKey;
// The product's class ID; "CLSID\" + it under HKEY_CLASSES_ROOT marks an installed product.
inline constexpr const char16_t* kProductClassId = u"{4E1A7C30-9B52-4D0E-A6F3-2C81D95B7E04}";
// The process exit code: the installation sequence's result (0 until it returns one).
extern int ExitCode;

class TForm1 : public TForm {
 public:
  explicit TForm1(TComponent* aOwner = nullptr);

  TImage* Image1 = nullptr;
  TTimer* tmrExecute = nullptr;
  TTimer* tmrClose = nullptr;
  // The file names of the payload, one value without key per entry of INSTALLSCRIPT.
  TFlexArray FilesList;

  void FormCreate(TComponent* Sender);
  void FormDestroy(TComponent* Sender);
  void tmrExecuteTimer(TComponent* Sender);
  void tmrCloseTimer(TComponent* Sender);

  // The installation sequence; its result is the exit code.
  int InstallRun();

  // Appends the entries of the INSTALLSCRIPT resource to FilesList. Raises when the
  // resource is missing.
  void InstallScriptLoad();
  // Unpacks entry k from resource "F"+k into aFolder + entry k, for every k. True when every
  // file was written; a file that fails is skipped and the others are still tried. Stops
  // ("Error: ") when FilesList is empty.
  bool FilesExtract(const TPath& aFolder);

  // "[Installer] " + aText through DebugLog.
  void LogInstaller(const Text& aText);
  // The product's class ID is registered (the key opens, in the 64-bit view).
  bool InstalledClassRegistered();
  // False when the installation must not go on (the same build is installed and the user
  // chose to abort or to open it).
  bool ExistingInstallationCheck(const TPath& aInstallFolder);
  // Offers to restart Windows, and asks for the restart when the user agrees.
  void RestartPrompt();

  // The module that carries the payload: the installer's own executable (null) unless a
  // test points it at another.
  win::HMODULE ResourceModule = nullptr;
};

// The program entry of the installer: units, application, splash form, message loop.
// Returns the exit code.
int InstallerMain();
