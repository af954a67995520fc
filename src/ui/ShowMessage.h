// ShowMessage of the UI class library: a message with an OK button, titled with the
// application's title.
#pragma once

#include "platform/win32api_types.h"

void ShowMessage(const Text& aMessage);
