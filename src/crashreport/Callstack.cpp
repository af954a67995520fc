#include "crashreport/Callstack.h"

#include <cstdio>

#include "crashreport/SymbolNames.h"
#include "platform/stackwalk.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace {

// The last part of a path, either separator.
Text FileNameOf(const Text& aPath) {
  std::size_t slash = aPath.find_last_of(u"/\\");
  return slash == Text::npos ? aPath : aPath.substr(slash + 1);
}

Text UnitNameOf(const Text& aSourcePath) {
  Text name = FileNameOf(aSourcePath);
  std::size_t dot = name.rfind(u'.');
  return dot == Text::npos || dot == 0 ? name : name.substr(0, dot);
}

TCallstackFrame FrameOf(const win::TStackFrameSymbol& s) {
  TCallstackFrame f;
  f.Address = s.Address;
  f.RoutineOffset = s.RoutineOffset;
  f.ModuleName = FileNameOf(s.ModulePath);
  f.UnitName = UnitNameOf(s.SourcePath);
  f.Line = s.Line > 0 ? s.Line : 0;
  f.LineOffset = f.Line > 0 && s.DeclLine > 0 ? f.Line - s.DeclLine : 0;
  if (!s.RoutineName.empty())
    f.RoutineName = s.ClassName.empty() ? s.RoutineName : s.ClassName + u"." + s.RoutineName;
  else
    f.RoutineName = RoutineNameOfSymbol(s.SymbolName);
  return f;
}

TCallstack FramesOf(const std::vector<std::uintptr_t>& aAddresses, int iSkip) {
  TCallstack out;
  for (std::uintptr_t a : aAddresses)
    for (const win::TStackFrameSymbol& s : win::AddressSymbolize(a)) {
      if (iSkip > 0) {
        --iSkip;
        continue;
      }
      out.push_back(FrameOf(s));
    }
  return out;
}

}  // namespace

__attribute__((noinline)) TCallstack CallstackOfCurrentThread(int iSkip) {
  // This routine's own frame goes with the capture.
  TCallstack out = FramesOf(win::StackAddressesOfCurrentThread(1), iSkip);
  asm volatile("" ::: "memory");  // no tail call: this frame must be the one skipped
  return out;
}

__attribute__((noinline)) TCallstack CallstackOfThread(win::DWORD aThreadId) {
  if (aThreadId == win::GetCurrentThreadId()) {
    TCallstack out = FramesOf(win::StackAddressesOfCurrentThread(1), 0);
    asm volatile("" ::: "memory");
    return out;
  }
  return FramesOf(win::StackAddressesOfThread(aThreadId), 0);
}

Text CallstackToPlainText(const TCallstack& aStack) {
  Text out;
  for (const TCallstackFrame& f : aStack) {
    if (!out.empty()) out += u"\r\n";
    char address[32];
    std::snprintf(address, sizeof address, "%0*llX", static_cast<int>(sizeof(void*) * 2),
                  static_cast<unsigned long long>(f.Address));
    Text line = T(address) + u" " + (f.ModuleName.empty() ? Text(u"?") : f.ModuleName);
    if (!f.UnitName.empty()) {
      line += u" " + f.UnitName;
      if (f.Line > 0) line += u":" + T(std::to_string(f.Line));
    }
    if (!f.RoutineName.empty()) {
      line += u" " + f.RoutineName;
      if (f.Line > 0)
        line += u" +" + T(std::to_string(f.LineOffset));
      else
        line += u" +0x" + T([&] {
                  char b[24];
                  std::snprintf(b, sizeof b, "%llX", static_cast<unsigned long long>(f.RoutineOffset));
                  return std::string(b);
                }());
    }
    out += line;
  }
  return out;
}

std::vector<win::DWORD> ProcessThreadIdsGet() { return win::ThreadIdsOfProcess(); }
