// The line rules of the install script, shared by the installer (which reads its
// INSTALLSCRIPT resource) and the packer (which builds it). Pure functions.
//
// The bytes are ANSI text unless a byte-order mark selects UTF-8 or UTF-16 (either byte
// order). Lines end at CR LF, a lone CR or a lone LF; the last line needs no line end. An
// empty line is skipped, a line whose first two characters are "//" is a comment; every other
// line is an entry, taken unchanged. Entries are numbered from 0, counting entries only.
#pragma once

#include <string_view>
#include <vector>

#include "platform/win32api_types.h"

struct TInstallScriptEntry {
  Text Entry;
  int Line;  // 1-based line of the text
};

// The text of the script's bytes. ANSI is code page 1252, so that the packer on any host and
// the installer on any Windows read the same names; undecodable bytes become U+FFFD.
Text InstallScriptTextDecode(std::string_view aBytes);
// The lines of a text; a line end at the very end adds no empty line.
std::vector<Text> InstallScriptLinesSplit(TextView aText);
// The entries of the script in order, with their lines.
std::vector<TInstallScriptEntry> InstallScriptParse(std::string_view aBytes);

// Why an entry cannot be installed safely below the install folder, or "" when it can: a
// rooted, drive or UNC path, a ':' (drive or stream), an empty, "." or ".." part, a part that
// Windows would shorten (trailing dot or space), a reserved device name, or a character that
// Windows file names cannot hold. '/' counts as a separator, as it does for Windows.
Text InstallScriptEntryCheck(TextView aEntry);
