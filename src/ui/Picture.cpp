#include "ui/Picture.h"

#include <limits>

TPicture::~TPicture() { Clear(); }

void TPicture::LoadFromData(const void* aData, std::size_t aSize) {
  if (!aData || aSize == 0 || aSize > std::numeric_limits<win::DWORD>::max())
    throw EInvalidGraphic(u"The picture is empty or too large");
  win::LONG width = 0, height = 0;
  win::HBITMAP bitmap =
      win::PngBitmapCreate(static_cast<const win::BYTE*>(aData), static_cast<win::DWORD>(aSize), &width, &height);
  if (!bitmap) throw EInvalidGraphic(u"The picture is no PNG image the system can decode");
  Clear();
  FBitmap = bitmap;
  FWidth = static_cast<int>(width);
  FHeight = static_cast<int>(height);
}

void TPicture::Clear() {
  if (FBitmap) win::DeleteObject(FBitmap);
  FBitmap = nullptr;
  FWidth = 0;
  FHeight = 0;
}
