// The program's start parameters.
//
// StartParams holds the command-line arguments (after the program's own name) as values
// without key, read while the program's units start; StartParamsGroup turns them into
// name/value pairs: each argument that begins with the prefix ('-') is a name, the
// arguments after it up to the next name are its value, joined with one space.
// StartParamsToCommandLine writes such pairs back as command-line text.
//
// The splitting and grouping are also pure functions, for tests and fuzzing.
// StartParams belongs to the main thread; it has no lock.
#pragma once

#include "platform/win32api.h"

#include "params/uFlexArray.h"
#include "platform/win32api_types.h"

// Program-wide; filled before main.
extern TFlexArray StartParams;

// The arguments of a command line, argument 0 (the program) included. Characters 1..32
// are blanks; before each argument blanks and pairs of adjacent double quotes are skipped;
// an argument runs to the next blank outside double quotes, every double quote toggling
// the quoting and being dropped (there is no escape). The list ends at the first argument
// that comes out empty; a zero character ends the text.
TArrayOfStrings CommandLineSplit(TextView aCommandLine);
// Arguments 1..n of the command line as text values without key.
TFlexArray StartParamsFromCommandLine(TextView aCommandLine);
// Appends the arguments of this process's command line to StartParams. Runs once while
// the units start.
void StartParamsLoad();

// The grouped form of raw values: key = name without its prefix, value = the following
// values joined with one space (the empty text when none). A repeated name keeps its last
// value. Values before the first name are a stop: "Empty commands are not yet supported".
TFlexArray StartParamsGrouped(const TFlexArray& aRawParams, char16_t aPrefix = u'-');
// StartParams becomes its grouped form; after a stop it keeps its raw form.
void StartParamsGroup(char16_t aPrefix = u'-');

// Command-line text of a grouped array: prefix + name, then a space and the value when it
// is not empty, in double quotes when it contains a blank. What the splitting could not
// read back as the same pairs is a stop: entries without key, and names or values that
// contain a double quote or a zero character, or values that begin with the prefix.
Text StartParamsToCommandLine(const TFlexArray& aParams, char16_t aPrefix = u'-');

// Starts aFile through the shell ("runas" asks for elevation): 0 when started and not
// waiting, the child's exit code when waiting, a Windows error code when the start failed
// (1223 when the user declined the elevation prompt), -1 when COM could not be initialised.
int ShellExecuteWait(const Text& aFile, const Text& aParameters, bool aWait, win::HWND aWindow, const Text& aVerb,
                     int aShow);
