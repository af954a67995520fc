// Named pipes: \\.\pipe\NAME. The server makes instances with CreateNamedPipeW and waits for a
// client with ConnectNamedPipe; a client opens an instance with CreateFileW (no server: 2;
// every instance taken: ERROR_PIPE_BUSY) after WaitNamedPipeW if it likes. Both ends read and
// write with ReadFile/WriteFile; an end whose peer has gone reads ERROR_BROKEN_PIPE and
// writes ERROR_NO_DATA.
#pragma once

#include "platform/win32api_types.h"

namespace win {

constexpr DWORD PIPE_ACCESS_INBOUND = 0x00000001;
constexpr DWORD PIPE_ACCESS_OUTBOUND = 0x00000002;
constexpr DWORD PIPE_ACCESS_DUPLEX = 0x00000003;
constexpr DWORD FILE_FLAG_FIRST_PIPE_INSTANCE = 0x00080000;

constexpr DWORD PIPE_TYPE_BYTE = 0x00000000;
constexpr DWORD PIPE_TYPE_MESSAGE = 0x00000004;
constexpr DWORD PIPE_READMODE_BYTE = 0x00000000;
constexpr DWORD PIPE_READMODE_MESSAGE = 0x00000002;
constexpr DWORD PIPE_WAIT = 0x00000000;
constexpr DWORD PIPE_NOWAIT = 0x00000001;
constexpr DWORD PIPE_REJECT_REMOTE_CLIENTS = 0x00000008;
constexpr DWORD PIPE_UNLIMITED_INSTANCES = 255;

constexpr DWORD NMPWAIT_USE_DEFAULT_WAIT = 0x00000000;
constexpr DWORD NMPWAIT_WAIT_FOREVER = 0xFFFFFFFF;

constexpr DWORD ERROR_SEM_TIMEOUT = 121;
constexpr DWORD ERROR_BAD_PIPE = 230;
constexpr DWORD ERROR_PIPE_NOT_CONNECTED = 233;
constexpr DWORD ERROR_PIPE_CONNECTED = 535;
constexpr DWORD ERROR_PIPE_LISTENING = 536;

HANDLE CreateNamedPipeW(LPCWSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances, DWORD nOutBufferSize,
                        DWORD nInBufferSize, DWORD nDefaultTimeOut, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// Waits for a client of this instance: FALSE with ERROR_PIPE_CONNECTED when one came already.
BOOL ConnectNamedPipe(HANDLE hNamedPipe, OVERLAPPED* lpOverlapped);
// Ends the instance's connection (the client's end breaks); clients find it busy until the
// server calls ConnectNamedPipe again.
BOOL DisconnectNamedPipe(HANDLE hNamedPipe);
// Waits until an instance of the pipe is free: no pipe of the name → ERROR_FILE_NOT_FOUND, time
// out → ERROR_SEM_TIMEOUT.
BOOL WaitNamedPipeW(LPCWSTR lpNamedPipeName, DWORD nTimeOut);

}  // namespace win
