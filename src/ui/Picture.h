// A picture of the UI class library: a PNG image decoded by the system.
#pragma once

#include <cstddef>

#include "platform/win32api.h"
#include "rtl/Exception.h"

// Data that is no picture the system can decode.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

class TPicture {
 public:
  TPicture() = default;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;
  ~TPicture();

  // Decodes a PNG image and replaces the picture with it. EInvalidGraphic for data that is
  // no PNG image; the picture held before stays then.
  void LoadFromData(const void* aData, std::size_t aSize);
  void Clear();

  bool Empty() const { return FBitmap == nullptr; }
  int WidthGet() const { return FWidth; }
  int HeightGet() const { return FHeight; }
  // The decoded image (a 32-bit top-down bitmap); the picture keeps it.
  win::HBITMAP Bitmap() const { return FBitmap; }

 private:
  win::HBITMAP FBitmap = nullptr;
  int FWidth = 0;
  int FHeight = 0;
};
