#include "paths/uDeviceFunctions.h"

#include "diag/uMisc.h"
#include "platform/win32api.h"

void DriveRootsList(std::vector<Text>& aList) {
  aList.clear();
  // 23 roots of four bytes ('C:\' and its zero) and the final zero; the system fills nothing
  // when they do not fit, and the buffer stays zeroed.
  char buffer[97] = {};
  win::GetLogicalDriveStringsA(96, buffer);
  Text current;
  for (int i = 0; i <= 94; ++i) {
    if (buffer[i] != 0) {
      current += static_cast<char16_t>(static_cast<unsigned char>(buffer[i]));
    } else if (!current.empty()) {
      aList.push_back(current);
      current.clear();
    }
  }
}

void VolumeNamesList(std::vector<Text>& aList) {
  char16_t name[win::MAX_PATH] = {};
  win::HANDLE search = win::FindFirstVolumeW(name, win::MAX_PATH);
  if (search == win::INVALID_HANDLE_VALUE) return;
  do {
    aList.push_back(Text(name));
  } while (win::FindNextVolumeW(search, name, win::MAX_PATH));
  Verify(win::GetLastError() == win::ERROR_NO_MORE_FILES);
  win::FindVolumeClose(search);
}
