#include "logtransport/LogByteSource.h"

#include <cstring>

#include "paths/uPaths.h"
#include "platform/win32api.h"

bool TLogMemorySource::ReadAt(std::uint64_t aOffset, void* aData, size_t aSize) {
  if (aOffset > FSize || aSize > FSize - aOffset) return false;
  if (aSize) std::memcpy(aData, FData + aOffset, aSize);
  return true;
}

TLogWinFileSource::TLogWinFileSource(const Text& aPath) {
  TPath p(aPath);
  LongPathPrefixAdd(p);
  // A writer holds the file open for writing: sharing write access lets us read it meanwhile.
  FHandle = win::CreateFileW(p.ToString().c_str(), win::GENERIC_READ,
                             win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE, nullptr,
                             win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
}

TLogWinFileSource::~TLogWinFileSource() {
  if (IsOpen()) win::CloseHandle(FHandle);
}

bool TLogWinFileSource::IsOpen() const { return FHandle != win::INVALID_HANDLE_VALUE; }

std::uint64_t TLogWinFileSource::SizeGet() {
  if (!IsOpen()) return 0;
  win::DWORD high = 0;
  win::SetLastError(win::ERROR_SUCCESS);
  win::DWORD low = win::GetFileSize(FHandle, &high);
  if (low == 0xFFFFFFFF && win::GetLastError() != win::ERROR_SUCCESS) return 0;
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

bool TLogWinFileSource::ReadAt(std::uint64_t aOffset, void* aData, size_t aSize) {
  if (!IsOpen()) return false;
  win::LONG high = static_cast<win::LONG>(aOffset >> 32);
  win::SetLastError(win::ERROR_SUCCESS);
  win::DWORD low = win::SetFilePointer(FHandle, static_cast<win::LONG>(aOffset & 0xFFFFFFFF), &high, win::FILE_BEGIN);
  if (low == win::INVALID_SET_FILE_POINTER && win::GetLastError() != win::ERROR_SUCCESS) return false;
  auto* p = static_cast<unsigned char*>(aData);
  while (aSize > 0) {
    win::DWORD chunk = static_cast<win::DWORD>(aSize > (1u << 30) ? (1u << 30) : aSize);
    win::DWORD n = 0;
    if (!win::ReadFile(FHandle, p, chunk, &n, nullptr) || n == 0) return false;
    p += n;
    aSize -= n;
  }
  return true;
}
