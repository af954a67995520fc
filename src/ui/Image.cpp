#include "ui/Image.h"

#include "ui/Form.h"

TImage::TImage(TComponent* aOwner, TForm* aParent) : TComponent(aOwner), FParent(aParent) {
  if (FParent) {
    FParent->ControlInsert(this);
    if (FParent->HandleAllocated()) ParentHandleCreated();
  }
}

TImage::~TImage() {
  if (FHandle) win::DestroyWindow(FHandle);
  if (FParent) FParent->ControlRemove(this);
}

void TImage::PictureLoad(const void* aData, std::size_t aSize) {
  FPicture.LoadFromData(aData, aSize);
  SizeToPicture();
  ImageShow();
}

void TImage::AutoSizeSet(bool bAutoSize) {
  FAutoSize = bAutoSize;
  SizeToPicture();
}

void TImage::BoundsSet(int aLeft, int aTop, int aWidth, int aHeight) {
  FLeft = aLeft;
  FTop = aTop;
  FWidth = aWidth < 0 ? 0 : aWidth;
  FHeight = aHeight < 0 ? 0 : aHeight;
  SizeToPicture();
  if (FHandle) win::SetWindowPos(FHandle, nullptr, FLeft, FTop, FWidth, FHeight, win::SWP_NOZORDER | win::SWP_NOACTIVATE);
  if (FParent) FParent->ControlResized();
}

void TImage::SizeToPicture() {
  if (!FAutoSize || FPicture.Empty()) return;
  bool changed = FWidth != FPicture.WidthGet() || FHeight != FPicture.HeightGet();
  FWidth = FPicture.WidthGet();
  FHeight = FPicture.HeightGet();
  if (!changed) return;
  if (FHandle) win::SetWindowPos(FHandle, nullptr, FLeft, FTop, FWidth, FHeight, win::SWP_NOZORDER | win::SWP_NOACTIVATE);
  if (FParent) FParent->ControlResized();
}

void TImage::ParentHandleCreated() {
  if (FHandle || !FParent || !FParent->HandleAllocated()) return;
  FHandle = win::CreateWindowExW(0, u"STATIC", u"", win::WS_CHILD | win::WS_VISIBLE | win::SS_BITMAP, FLeft, FTop,
                                 FWidth, FHeight, FParent->Handle(), nullptr, win::GetModuleHandleW(nullptr), nullptr);
  ImageShow();
}

void TImage::ImageShow() {
  if (!FHandle) return;
  win::SendMessageW(FHandle, win::STM_SETIMAGE, win::IMAGE_BITMAP, reinterpret_cast<win::LPARAM>(FPicture.Bitmap()));
  // A static control sizes itself to its bitmap; the control's bounds are ours to keep.
  win::SetWindowPos(FHandle, nullptr, FLeft, FTop, FWidth, FHeight, win::SWP_NOZORDER | win::SWP_NOACTIVATE);
}
