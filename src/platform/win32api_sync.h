// Critical sections, events and waits.
#pragma once

#include "platform/win32api_types.h"

namespace win {}  // namespace win
