// The version numbers in an executable's version resource.
//
// The version is the file version of the resource's fixed part: major and minor are the
// halves of its most significant 32 bits, release and build those of its least significant
// ones. The running program's own version is read once and then answered from a cache; the
// cache is filled only by a successful read.
//
// A file without a version resource, one whose version information cannot be read, and one
// without a valid fixed part all count as having no version. Nothing here raises; the
// queries may run on any thread.
#pragma once

#include <cstdint>

#include "platform/win32api_types.h"

// The version of aFileName; an empty name, or the own executable's full file name (exact,
// case-sensitive), means the own executable. False, with all four numbers 0, when the file
// has no version.
bool ExeVersionGet(std::uint16_t& aMajor, std::uint16_t& aMinor, std::uint16_t& aRelease, const Text& aFileName,
                   std::uint16_t& aBuild);
// The build number, 0 when the file has no version. An empty name means the own executable.
std::uint16_t ExeBuildGet(const Text& aFileName = Text());
// "major.minor.release" of the own executable; empty when it has no version.
Text ExeVersionText();
