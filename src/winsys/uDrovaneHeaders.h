// Kernel and file-system-filter constants of the product's driver family, and the error
// names of the problem reporting, as name tables of Constants (uWindowsFlags). Registered
// by this unit's start-up, after uWindowsFlags' own tables.
#pragma once

#include "winsys/uWindowsFlags.h"

void DrovaneHeadersRegister(TConstants& aConstants);
