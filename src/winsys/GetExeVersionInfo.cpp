#include "winsys/GetExeVersionInfo.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "params/uMiscLean.h"
#include "platform/win32api.h"

namespace {

constexpr win::DWORD kFixedFileInfoSignature = 0xFEEF04BD;

// The own executable's file version (most significant half in the upper 32 bits), valid
// once gOwnVersionValid is set. Any thread that fills it writes the same value.
constinit std::atomic<std::uint64_t> gOwnVersion{0};
constinit std::atomic<bool> gOwnVersionValid{false};

Text OwnFileName() {
  std::vector<char16_t> buffer(win::MAX_PATH + 1);
  for (;;) {
    win::DWORD n = win::GetModuleFileNameW(nullptr, buffer.data(), static_cast<win::DWORD>(buffer.size()));
    if (n == 0) return Text();
    if (n < buffer.size()) return Text(buffer.data(), n);
    // Truncated: long paths reach 32767 characters.
    if (buffer.size() > 32768) return Text();
    buffer.resize(buffer.size() * 4);
  }
}

// The file version of the fixed part, or false when the file has no readable version.
bool FileVersionRead(const Text& aFileName, std::uint64_t& aVersion) {
  win::DWORD handle = 0;
  win::DWORD size = win::GetFileVersionInfoSizeW(aFileName.c_str(), &handle);
  if (size == 0) return false;
  std::vector<std::uint8_t> block(size);
  if (!win::GetFileVersionInfoW(aFileName.c_str(), handle, size, block.data())) return false;
  // VerQueryValueW walks the block by the lengths inside it: a root block that claims more
  // than was read (a damaged resource) would take it past the buffer.
  if (block.size() < 6) return false;
  const std::size_t rootLength = static_cast<std::size_t>(block[0] | (block[1] << 8));
  if (rootLength < 6 || rootLength > block.size()) return false;
  win::LPVOID fixed = nullptr;
  win::UINT fixedLength = 0;
  if (!win::VerQueryValueW(block.data(), u"\\", &fixed, &fixedLength)) return false;
  // The pointer must lie inside the block with a whole record behind it: anything else is
  // no fixed part, not something to read from.
  const auto at = reinterpret_cast<std::uintptr_t>(fixed);
  const auto first = reinterpret_cast<std::uintptr_t>(block.data());
  if (!fixed || fixedLength < sizeof(win::VS_FIXEDFILEINFO) || block.size() < sizeof(win::VS_FIXEDFILEINFO) ||
      at < first || at - first > block.size() - sizeof(win::VS_FIXEDFILEINFO))
    return false;
  win::VS_FIXEDFILEINFO info;
  std::memcpy(&info, fixed, sizeof info);
  if (info.dwSignature != kFixedFileInfoSignature) return false;
  aVersion = (static_cast<std::uint64_t>(info.dwFileVersionMS) << 32) | static_cast<std::uint32_t>(info.dwFileVersionLS);
  return true;
}

}  // namespace

bool ExeVersionGet(std::uint16_t& aMajor, std::uint16_t& aMinor, std::uint16_t& aRelease, const Text& aFileName,
                   std::uint16_t& aBuild) {
  aMajor = aMinor = aRelease = aBuild = 0;
  Text fileName = aFileName;
  bool own = fileName.empty();
  if (!own) own = fileName == OwnFileName();
  std::uint64_t version = 0;
  if (own && gOwnVersionValid.load(std::memory_order_acquire)) {
    version = gOwnVersion.load(std::memory_order_relaxed);
  } else {
    if (fileName.empty()) fileName = OwnFileName();
    if (fileName.empty() || !FileVersionRead(fileName, version)) return false;
    if (own) {
      gOwnVersion.store(version, std::memory_order_relaxed);
      gOwnVersionValid.store(true, std::memory_order_release);
    }
  }
  aMajor = static_cast<std::uint16_t>(version >> 48);
  aMinor = static_cast<std::uint16_t>(version >> 32);
  aRelease = static_cast<std::uint16_t>(version >> 16);
  aBuild = static_cast<std::uint16_t>(version);
  return true;
}

std::uint16_t ExeBuildGet(const Text& aFileName) {
  std::uint16_t major, minor, release, build;
  return ExeVersionGet(major, minor, release, aFileName, build) ? build : 0;
}

Text ExeVersionText() {
  std::uint16_t major, minor, release, build;
  if (!ExeVersionGet(major, minor, release, Text(), build)) return Text();
  return IntToText(major) + u"." + IntToText(minor) + u"." + IntToText(release);
}
