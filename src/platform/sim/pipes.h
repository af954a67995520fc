// Named pipes of the simulated machine (pipes.cpp), for the file functions that also serve
// pipes: CreateFileW opens a client's end, ReadFile/WriteFile/FlushFileBuffers use either end.
#pragma once

#include "platform/win32api_types.h"

namespace sim {

// Whether aPath names a pipe (\\.\pipe\NAME or \\?\pipe\NAME, any case).
bool PipePathIs(win::LPCWSTR aPath);
// The client's end of a free instance: INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when no
// instance exists, ERROR_PIPE_BUSY when every instance is taken.
win::HANDLE PipeClientOpen(win::LPCWSTR aPath, win::DWORD dwDesiredAccess, win::DWORD dwCreationDisposition);
// Whether the handle is an end of a pipe (either side).
bool PipeHandleIs(win::HANDLE aHandle);
win::BOOL PipeRead(win::HANDLE aHandle, void* aBuffer, win::DWORD aSize, win::DWORD* aRead);
win::BOOL PipeWrite(win::HANDLE aHandle, const void* aBuffer, win::DWORD aSize, win::DWORD* aWritten);

}  // namespace sim
