#include "params/uAppStartParams.h"

#include "diag/uMisc.h"
#include "params/uMiscLean.h"
#include "rtl/ModuleInit.h"

// Constant-initialised, so that it exists before any unit's start-up touches it; given the
// unit's priority too, so that it is destroyed only after the unit's shut-down has used it.
constinit TFlexArray StartParams ORV_UNIT_INIT(unitorder::kAppStartParams);

namespace {

bool CharIsBlank(char16_t c) { return c >= 1 && c <= 32; }

bool TextHasBlank(TextView aText) {
  for (char16_t c : aText)
    if (CharIsBlank(c)) return true;
  return false;
}

// A name or value that the splitting would not read back as itself.
void CommandLinePartCheck(TextView aPart, const Text& aName, const char16_t* aWhat) {
  if (aPart.find(u'"') != TextView::npos)
    Stop(Text(u"a command line cannot carry a double quote (it has no escape for it), in the ") + aWhat +
         u" of parameter " + aName);
  if (aPart.find(u'\0') != TextView::npos)
    Stop(Text(u"a zero character would end the command line, in the ") + aWhat + u" of parameter " + aName);
}

}  // namespace

TArrayOfStrings CommandLineSplit(TextView aCommandLine) {
  TextView s = aCommandLine.substr(0, aCommandLine.find(u'\0'));
  TArrayOfStrings r;
  std::size_t p = 0;
  const std::size_t n = s.size();
  for (;;) {
    for (;;) {
      while (p < n && CharIsBlank(s[p])) ++p;
      if (p + 1 < n && s[p] == u'"' && s[p + 1] == u'"')
        p += 2;
      else
        break;
    }
    Text lArg;
    bool bQuoted = false;
    for (; p < n && (bQuoted || !CharIsBlank(s[p])); ++p) {
      if (s[p] == u'"')
        bQuoted = !bQuoted;
      else
        lArg += s[p];
    }
    if (lArg.empty()) return r;
    r.push_back(std::move(lArg));
  }
}

TFlexArray StartParamsFromCommandLine(TextView aCommandLine) {
  TArrayOfStrings lArgs = CommandLineSplit(aCommandLine);
  TFlexArray r;
  for (std::size_t i = 1; i < lArgs.size(); ++i) r.AddValueWithNoKey(Variant(std::move(lArgs[i])));
  return r;
}

TFlexArray StartParamsGrouped(const TFlexArray& aRawParams, char16_t aPrefix) {
  TFlexArray r;
  Text lName, lValue;
  const int n = aRawParams.Count();
  for (int i = 0;; ++i) {
    Text lItem = i < n ? aRawParams.GetStringByIndex(i) : Text();
    bool bIsName = !lItem.empty() && lItem[0] == aPrefix;
    bool bBoundary = i == n || bIsName;
    if (bBoundary && (!lName.empty() || !lValue.empty())) {
      StopIf(lName.empty(), u"Empty commands are not yet supported");
      r.SetKeyAndValue(Variant(lName), Variant(lValue));
      lName.clear();
      lValue.clear();
    }
    if (lItem.empty()) return r;
    if (bIsName) {
      lName = lItem.substr(1);
    } else {
      if (!lValue.empty()) lValue += u' ';
      lValue += lItem;
    }
  }
}

void StartParamsGroup(char16_t aPrefix) { StartParams = StartParamsGrouped(StartParams, aPrefix); }

Text StartParamsToCommandLine(const TFlexArray& aParams, char16_t aPrefix) {
  StopIf(aParams.Count() > 0 && aParams.GetKeyByIndex(0).empty(),
         u"for now only parsed (command/value) params are supported");
  Text r;
  for (int i = 0; i < aParams.Count(); ++i) {
    Text lName = aParams.GetKeyByIndex(i);
    // A keyless entry further on would be written as a bare prefix that the receiver
    // refuses; refuse it here, where the fault is.
    StopIf(lName.empty(), u"for now only parsed (command/value) params are supported");
    Text lValue = aParams.GetStringByIndex(i);
    CommandLinePartCheck(lName, lName, u"name");
    CommandLinePartCheck(lValue, lName, u"value");
    if (!lValue.empty() && lValue[0] == aPrefix)
      Stop(u"the value of parameter " + lName + u" begins with '" + Text(1, aPrefix) +
           u"' and would be read as a parameter of its own");

    if (!r.empty()) r += u' ';
    Text lArg = Text(1, aPrefix) + lName;
    if (TextHasBlank(lName))
      r += u'"' + lArg + u'"';
    else
      r += lArg;
    if (!lValue.empty()) {
      r += u' ';
      if (TextHasBlank(lValue))
        r += u'"' + lValue + u'"';
      else
        r += lValue;
    }
  }
  return r;
}

// ---- Start-up: reading this process's command line --------------------------------------
// (Appended once the platform surface offers GetCommandLineW in both backends.)

#include "platform/win32api.h"

void StartParamsLoad() {
  const char16_t* lCommandLine = win::GetCommandLineW();
  TFlexArray lArgs = StartParamsFromCommandLine(lCommandLine ? TextView(lCommandLine) : TextView());
  for (int i = 0; i < lArgs.Count(); ++i) StartParams.AddValueWithNoKey(lArgs.GetValueByIndex(i));
}

namespace {

// Declared after StartParams with the same priority: constructed after it, destroyed before.
struct TAppStartParamsUnit {
  TAppStartParamsUnit() { StartParamsLoad(); }
  ~TAppStartParamsUnit() { StartParams.Clear(); }
};

TAppStartParamsUnit AppStartParamsUnit ORV_UNIT_INIT(unitorder::kAppStartParams);

}  // namespace

// ---- starting programs through the shell ----------------------------------------------------

int ShellExecuteWait(const Text& aFile, const Text& aParameters, bool aWait, win::HWND aWindow, const Text& aVerb,
                     int aShow) {
  const Text verb = aVerb.empty() ? Text(u"open") : aVerb;
  // The working folder is the file's folder: everything up to its last '\\' or ':'.
  const size_t cut = aFile.find_last_of(u"\\:");
  const Text directory = cut == Text::npos ? Text() : aFile.substr(0, cut + 1);
  win::SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;  // 60 in the 32-bit build
  info.fMask = win::SEE_MASK_NOCLOSEPROCESS | win::SEE_MASK_FLAG_NO_UI | win::SEE_MASK_NOZONECHECKS;
  info.lpVerb = verb.c_str();
  info.lpFile = aFile.c_str();
  info.lpParameters = aParameters.c_str();
  info.lpDirectory = directory.c_str();
  info.hwnd = aWindow;
  info.nShow = aShow;
  if (win::CoInitializeEx(nullptr, win::COINIT_APARTMENTTHREADED | win::COINIT_DISABLE_OLE1DDE) < 0) return -1;
  int result;
  if (win::ShellExecuteExW(&info)) {
    result = 0;
    if (info.hProcess) {
      if (aWait) {
        // Waiting on the process itself: a child whose exit code is 259 (STILL_ACTIVE)
        // cannot be told from a running one by reading the code.
        win::WaitForSingleObject(info.hProcess, win::INFINITE);
        win::DWORD code = 0;
        if (win::GetExitCodeProcess(info.hProcess, &code)) result = static_cast<int>(code);
      }
      win::CloseHandle(info.hProcess);
    }
  } else {
    result = static_cast<int>(win::GetLastError());
  }
  win::CoUninitialize();
  return result;
}
