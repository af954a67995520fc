// The machine's drives and volumes as lists of texts.
#pragma once

#include <vector>

#include "platform/win32api_types.h"

// The drive roots in use ('C:\', 'D:\' ...), replacing the list's content. Up to 23 fit the
// buffer the system is asked with; with more drive letters in use the list stays empty.
void DriveRootsList(std::vector<Text>& aList);

// The volume names ('\\?\Volume{...}\') added to the list, which is not cleared first; when
// the system lists no volume the list is unchanged. An enumeration that ends with another
// error than ERROR_NO_MORE_FILES is reported.
void VolumeNamesList(std::vector<Text>& aList);
