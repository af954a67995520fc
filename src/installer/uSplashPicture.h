// The installer's splash picture: a 501 x 337 PNG image (src/installer/res/Splash.png, drawn
// by tools/splash/make_splash.py), embedded by the build (cmake/EmbedFile.cmake).
#pragma once

#include <cstddef>

extern "C" const unsigned char kSplashPng[];
extern "C" const std::size_t kSplashPngSize;
