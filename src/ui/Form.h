// The form of the UI class library: a top-level window with a caption, a border style, a
// stay-on-top style, a position, a client size (or one that follows its pictures), and
// create and destroy handlers.
#pragma once

#include <vector>

#include "platform/win32api.h"
#include "ui/Component.h"

class TImage;

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };
enum class TFormStyle { fsNormal, fsStayOnTop };
enum class TPosition { poDesigned, poScreenCenter };

class TForm : public TComponent {
 public:
  // aWindowClass: the name of the form's window class (a form is found by it).
  explicit TForm(TComponent* aOwner, const Text& aWindowClass = u"TForm");
  ~TForm() override;

  // Run by CreateForm after construction (then OnCreate runs) and by ComponentFree before
  // destruction (then OnDestroy runs); a derived form's fields exist in both. Free a form
  // with ComponentFree (its owner does), not with delete, or OnDestroy does not run.
  void AfterConstruction();
  void BeforeDestruction() override;
  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;

  Text CaptionGet() const { return FCaption; }
  void CaptionSet(const Text& aCaption);
  TFormBorderStyle BorderStyleGet() const { return FBorderStyle; }
  void BorderStyleSet(TFormBorderStyle aStyle);
  TFormStyle FormStyleGet() const { return FFormStyle; }
  void FormStyleSet(TFormStyle aStyle);
  TPosition PositionGet() const { return FPosition; }
  void PositionSet(TPosition aPosition);
  int ClientWidthGet() const { return FClientWidth; }
  int ClientHeightGet() const { return FClientHeight; }
  void ClientWidthSet(int aWidth);
  void ClientHeightSet(int aHeight);
  // True: the client area takes the size of the form's pictures.
  bool AutoSizeGet() const { return FAutoSize; }
  void AutoSizeSet(bool bAutoSize);
  // Position of the window on the screen.
  int LeftGet() const { return FLeft; }
  int TopGet() const { return FTop; }
  void BoundsSet(int aLeft, int aTop);

  bool VisibleGet() const { return FVisible; }
  void VisibleSet(bool bVisible);
  void Show() { VisibleSet(true); }
  void Hide() { VisibleSet(false); }
  // Closes the form: the main form ends the application (Application->Terminate), any other
  // form is hidden.
  void Close();

  // The window, made when first needed.
  win::HWND Handle();
  void HandleNeeded() { Handle(); }
  bool HandleAllocated() const { return FHandle != nullptr; }

  // For the form's pictures: they join and leave the form, and tell it their size.
  void ControlInsert(TImage* aImage);
  void ControlRemove(TImage* aImage);
  void ControlResized();

 private:
  static win::LRESULT ORV_WINAPI WindowProc(win::HWND hWnd, win::UINT aMsg, win::WPARAM wParam, win::LPARAM lParam);
  win::DWORD StyleGet() const;
  win::DWORD ExStyleGet() const;
  // Replaces the window with a new one made from the properties (shown if the form is).
  void RecreateWnd();
  // Applies the size and the position to the window.
  void BoundsUpdate();
  void AutoSizeApply();

  Text FWindowClass;
  Text FCaption;
  TFormBorderStyle FBorderStyle = TFormBorderStyle::bsSizeable;
  TFormStyle FFormStyle = TFormStyle::fsNormal;
  TPosition FPosition = TPosition::poDesigned;
  int FClientWidth = 320;
  int FClientHeight = 240;
  int FLeft = 0;
  int FTop = 0;
  bool FAutoSize = false;
  bool FVisible = false;
  bool FCreated = false;
  bool FDestroyed = false;
  win::HWND FHandle = nullptr;
  std::vector<TImage*> FImages;
};
