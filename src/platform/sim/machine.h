// The simulated Windows machine (Linux build only).
//
// A machine lives in a host folder, so that several host processes share it: the folder
// layout is described in docs/machine-folder.md. This header is the machine's own interface,
// used by the sim backend, by winsim and by the test programs; code above platform/ never
// sees it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win32api_types.h"

namespace sim {

constexpr win::DWORD kIntegrityLow = 0x1000;
constexpr win::DWORD kIntegrityMedium = 0x2000;
constexpr win::DWORD kIntegrityHigh = 0x3000;
constexpr win::DWORD kIntegritySystem = 0x4000;

// "low", "medium", "high", "system"; nullopt for anything else.
std::optional<win::DWORD> IntegrityFromName(const std::string& aName);
std::string IntegrityName(win::DWORD aLevel);

// A machine that cannot be used: missing or damaged folder, bad arguments.
class MachineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MachineConfig {
  int WindowsMajor = 10;
  int WindowsMinor = 0;
  int Bits = 64;
  std::string ComputerName = "ORVANTA-TEST";
};

// Creates a new machine in aFolder (which must not exist, or be empty). All or nothing:
// the machine is built aside and renamed into place.
void MachineCreate(const std::string& aFolder, const MachineConfig& aConfig);
// Reads the machine's configuration; MachineError for a folder that is not a machine.
MachineConfig MachineConfigRead(const std::string& aFolder);

// Host path of the machine folder this process belongs to; empty when it belongs to none.
std::string MachineFolderHost();

// Host folder that backs a drive ('C').
std::string DriveHostFolder(const std::string& aMachine, char aDrive);

// Machine-wide exclusive lock (flock on state/lock), for the shared tables.
class MachineLock {
 public:
  explicit MachineLock(const std::string& aMachine);
  ~MachineLock();
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;

 private:
  int FFd;
};

// Fields of the machine's text tables: tab-separated, with \\, tab and line ends escaped.
std::string TableFieldEscape(const std::string& aField);
std::vector<std::string> TableFieldsSplit(const std::string& aLine);
// Writes a file aside and renames it into place.
void FileReplaceAtomically(const std::string& aPath, const std::string& aData);

// ---- the event log ------------------------------------------------------------------------

std::string JsonEscape(const std::string& aUtf8);
// Appends one JSON object (without line end) to the machine's event log.
void EventAppend(const std::string& aMachine, const std::string& aJsonObject);

// ---- processes ----------------------------------------------------------------------------

struct ProcessRecord {
  win::DWORD Pid = 0;
  win::DWORD Parent = 0;
  win::DWORD Integrity = kIntegrityMedium;
  int Bits = 32;
  std::string Image;             // Windows path, UTF-8
  std::string CommandLine;       // UTF-8
  std::string CurrentDirectory;  // Windows path, UTF-8
};

struct ProcessState {
  ProcessRecord Record;
  pid_t HostPid = 0;  // 0: no host process (recorded only, or not yet started)
  bool Exited = false;
  win::DWORD ExitCode = win::STILL_ACTIVE;
};

std::vector<ProcessState> ProcessTableRead(const std::string& aMachine);
std::optional<ProcessState> ProcessFind(const std::string& aMachine, win::DWORD aPid);
// The desktop shell's process ("explorer.exe"), created with the machine.
win::DWORD ShellProcessId(const std::string& aMachine);

// What a new process of the machine runs.
struct SpawnRequest {
  ProcessRecord Record;               // Pid is assigned by ProcessSpawn
  std::string HostExecutable;         // host path of a program that really runs; empty: recorded only
  std::vector<std::string> Arguments; // host argv[1..]
  std::vector<std::string> ExtraEnvironment;  // NAME=VALUE
  // The host program leads a host process group of its own (its host pid is the group's
  // id), which it and every host process it starts share, so that all can be ended at once.
  bool NewProcessGroup = false;
};

struct SpawnResult {
  win::DWORD Pid = 0;
  pid_t MonitorPid = 0;  // the host process that waits for it and records its exit
};

// Starts a process of the machine: assigns its pid, records it, logs process-start, and
// runs the host program under a monitor that records its exit code (process-exit) however
// it ends. bDetach: the caller does not reap the monitor (a process that is not waited for).
SpawnResult ProcessSpawn(const std::string& aMachine, SpawnRequest aRequest, bool bDetach);
// Records a process that runs no host program (it exits at once with aExitCode when given).
win::DWORD ProcessRecordOnly(const std::string& aMachine, ProcessRecord aRecord,
                             std::optional<win::DWORD> aExitCode);

// Quotes one argument the way Windows programs split their command line.
std::string CommandLineQuote(const std::string& aArgument);

// Replaces the user's queued answers: (kind, answer) in the order they are consumed; kinds
// are "uac" (accept or refuse) and "answer" (a dialog's answer).
void AnswersSet(const std::string& aMachine, const std::vector<std::pair<std::string, std::string>>& aAnswers);
// Takes the user's next queued answer of a kind ("uac", "answer"); nullopt when none is left.
std::optional<std::string> AnswerTake(const std::string& aMachine, const std::string& aKind);

// ---- this process -------------------------------------------------------------------------

// The process of the machine that this host program runs as; null when it runs on none.
const ProcessRecord* CurrentProcess();
// Changes the integrity level this process runs at, for tests that need an elevated token
// for a while (the process table keeps the level it started with).
void CurrentProcessIntegritySet(win::DWORD aLevel);
// Makes this host program a new process of aMachine (test programs attach this way).
void ProcessAttachNew(const std::string& aMachine, ProcessRecord aRecord);

// ---- restarts ------------------------------------------------------------------------------

// The delayed moves recorded for the next start, in order: (source, target) as recorded
// (\??\ paths; an empty target is a deletion, a leading '!' replaces an existing target).
std::vector<std::pair<Text, Text>> PendingRenamesRead(const std::string& aMachine);
// Restarts the machine: ends every process and hold (bKeepCaller: but the calling host
// process, for tests that restart their own machine), carries out the pending renames in
// order, skipping those that fail, deletes the value, and logs {"type":"reboot"}.
void MachineReboot(const std::string& aMachine, bool bKeepCaller);

// ---- names --------------------------------------------------------------------------------

// Upper-cases one UTF-16 code unit as NTFS compares names.
char16_t UpcaseChar(char16_t c);
Text UpcaseText(TextView t);
// A name Windows keeps for a device, in any case and with any extension: CON, PRN, AUX, NUL,
// COM1-9, LPT1-9 (and COM/LPT with a superscript 1, 2 or 3), CONIN$, CONOUT$.
bool NameIsReserved(TextView aName);

// How a Windows path maps onto the host, for one caller.
struct PathContext {
  std::string Machine;
  Text CurrentDirectory = u"C:\\";
  int ProcessBits = 64;
  int MachineBits = 64;
  // WOW64 file-system redirection in force (a 32-bit process on 64-bit Windows, not
  // switched off for the calling thread).
  bool Redirect = false;
};

// The calling thread's WOW64 redirection switch (on unless switched off).
bool ThreadRedirectionEnabled();
void ThreadRedirectionSet(bool bEnabled);

struct ResolvedPath {
  win::DWORD Error = 0;       // 0: resolved (the last part may still not exist)
  Text WinPath;               // normalised, e.g. C:\Users\User
  std::string Host;           // host path of the entry (may not exist)
  std::string ParentHost;     // host path of the folder that holds it
  Text Name;                  // last part as given (case kept); empty for a drive root
  bool Exists = false;
  bool IsDirectory = false;
  bool IsRoot = false;
};

// Resolves a Windows path: the prefixes \\?\ and \??\ (no normalisation), \\.\ , drive
// paths, paths relative to the current folder. Every folder on the way must exist (else
// ERROR_PATH_NOT_FOUND); names are found whatever their case. bAllowWildcards: '*' and '?'
// may appear in the last part (directory searches).
ResolvedPath ResolvePath(const PathContext& aContext, TextView aPath, bool bAllowWildcards = false);

// The context of the calling process; MachineError when it runs on no machine.
PathContext CurrentPathContext();

// ---- attributes ---------------------------------------------------------------------------

// Windows attributes of a host entry (kept in its permission bits, so that they travel with
// renames); INVALID_FILE_ATTRIBUTES when it does not exist.
win::DWORD HostAttributesGet(const std::string& aHost);
bool HostAttributesSet(const std::string& aHost, win::DWORD aAttributes);

}  // namespace sim
