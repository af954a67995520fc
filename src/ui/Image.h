// The picture control of the UI class library: shows a TPicture on a form.
#pragma once

#include "platform/win32api.h"
#include "ui/Component.h"
#include "ui/Picture.h"

class TForm;

class TImage : public TComponent {
 public:
  // aParent: the form it is shown on (usually its owner too).
  TImage(TComponent* aOwner, TForm* aParent);
  ~TImage() override;

  // Loads a PNG image into Picture and shows it (EInvalidGraphic for anything else).
  void PictureLoad(const void* aData, std::size_t aSize);
  const TPicture& Picture() const { return FPicture; }

  // True: the control takes the size of its picture.
  bool AutoSizeGet() const { return FAutoSize; }
  void AutoSizeSet(bool bAutoSize);
  int LeftGet() const { return FLeft; }
  int TopGet() const { return FTop; }
  int WidthGet() const { return FWidth; }
  int HeightGet() const { return FHeight; }
  void BoundsSet(int aLeft, int aTop, int aWidth, int aHeight);

  // The control's window (a static control of the form's window); null until the form's
  // window exists.
  win::HWND Handle() const { return FHandle; }
  // The form's window now exists: the control makes its own.
  void ParentHandleCreated();
  // The form's window is about to go, and the control's with it.
  void ParentHandleDestroyed() { FHandle = nullptr; }

 private:
  void SizeToPicture();
  void ImageShow();

  TForm* FParent;
  TPicture FPicture;
  bool FAutoSize = false;
  int FLeft = 0;
  int FTop = 0;
  int FWidth = 105;
  int FHeight = 105;
  win::HWND FHandle = nullptr;
};
