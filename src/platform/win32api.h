// The operating-system surface of the framework.
//
// Every function, type and constant keeps its Win32 name and meaning. The Windows build
// forwards to the real API (platform/win32); the Linux build answers from a simulated
// Windows machine (platform/sim). Code above platform/ includes only this header.
#pragma once

#include "platform/win32api_types.h"
#include "platform/win32api_base.h"
#include "platform/win32api_files.h"
#include "platform/win32api_volumes.h"
#include "platform/win32api_sync.h"
#include "platform/win32api_thread.h"
#include "platform/win32api_process.h"
#include "platform/win32api_resources.h"
#include "platform/win32api_registry.h"
#include "platform/win32api_security.h"
#include "platform/win32api_ui.h"
#include "platform/win32api_nt.h"
#include "platform/win32api_pipes.h"
