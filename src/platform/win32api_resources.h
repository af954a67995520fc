// Resources of a module (RT_RCDATA payloads, version resources) and version information.
#pragma once

#include "platform/win32api_types.h"

namespace win {

using HRSRC = void*;
using HGLOBAL = void*;

// A resource type or name given by number.
inline LPCWSTR MAKEINTRESOURCEW(WORD i) { return reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(i)); }
inline bool IS_INTRESOURCE(LPCWSTR p) { return (reinterpret_cast<ULONG_PTR>(p) >> 16) == 0; }
constexpr WORD RT_RCDATA_ID = 10;
constexpr WORD RT_VERSION_ID = 16;
inline LPCWSTR RT_RCDATA() { return MAKEINTRESOURCEW(RT_RCDATA_ID); }
inline LPCWSTR RT_VERSION() { return MAKEINTRESOURCEW(RT_VERSION_ID); }

// hModule null: the executable of the calling process. The data stays valid while the
// module is loaded (for the executable: for the life of the process).
HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
LPVOID LockResource(HGLOBAL hResData);

// A module loaded for its resources only (LOAD_LIBRARY_AS_DATAFILE).
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x2;
HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);

// Writing resources into a module file (which no one has loaded).
HANDLE BeginUpdateResourceW(LPCWSTR pFileName, BOOL bDeleteExistingResources);
BOOL UpdateResourceW(HANDLE hUpdate, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage, LPVOID lpData, DWORD cb);
BOOL EndUpdateResourceW(HANDLE hUpdate, BOOL fDiscard);

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};

DWORD GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, DWORD* lpdwHandle);
BOOL GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
BOOL VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen);

}  // namespace win
