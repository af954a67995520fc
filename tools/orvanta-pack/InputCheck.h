// What orvanta-pack checks of its inputs before it writes anything: that each file given is a
// readable regular file and not the output, that the stub and the splash picture can work in
// the installer, how the installer's file system compares entry names, and that a file did
// not change while it was packed.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win32api_types.h"

namespace pack {

// Text from a user (an entry, a path) fit for a one-line message: control characters shown
// as \xNN (a zero character would end the message), cut to about iMax bytes.
std::string MessageText(std::string_view aText, std::size_t iMax = 160);

// What a failed write says; a full disk or quota says "no space left on the disk".
std::string WriteErrorText(int iErrno);

// The status of a file given with aOption (--script, --stub, --splash). Raises PackError
// when it is missing or unreadable, a folder, or a device, pipe or socket.
struct stat InputFileCheck(const std::string& aOption, const std::string& aPath);
// Its bytes; PackError beyond iMax bytes (checked before reading).
std::string InputFileRead(const std::string& aOption, const std::string& aPath, std::uint64_t iMax);

// The folder given with --from, without a trailing separator and with its links resolved.
std::string FromFolderCheck(const std::string& aFrom);

// A stub for --target linux: an ELF executable with the execute bit whose header, program
// headers and loaded segments lie within the file.
void LinuxStubCheck(const std::string& aStub, const struct stat& aStatus);

// The bytes of a splash picture: a PNG image as the installer decodes it, at most
// kSplashMax bytes.
constexpr std::uint64_t kSplashMax = 16u << 20;
std::string SplashRead(const std::string& aPath);

// An entry as the installer's file system tells names apart: '/' is '\', and each UTF-16
// unit upper-cased by the Unicode simple mapping, as NTFS's upcase table does (characters
// beyond the BMP are left as they are, as NTFS leaves them).
Text NameFold(TextView aEntry);

bool FileSame(const struct stat& a, const struct stat& b);
// True when size, modification or change time (to the nanosecond) or the file itself differ.
bool FileChanged(const struct stat& aBefore, const struct stat& aAfter);

}  // namespace pack
