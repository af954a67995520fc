// The default splash picture: a small Windows bitmap (BMP file bytes), drawn here so that a
// product without its own picture still has one.
#pragma once

#include <string>

namespace pack {

std::string SplashBitmapBuild(int iWidth, int iHeight);

}  // namespace pack
