// The simulated machine's windows: the window events, windows of other processes and of
// ended ones, and the virtual clock of the message loop. Sim-only.
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/Timer.h"

#ifndef _WIN32
#include <cstdlib>

#include "platform/sim/machine.h"
#endif

namespace {

std::string Json(const Text& aText) {
#ifndef _WIN32
  return sim::JsonEscape(TextToUtf8(aText));
#else
  return TextToUtf8(aText);
#endif
}

}  // namespace

TEST(SimWindows, ShowingAndHidingATopLevelWindowIsLoggedExactly) {
  SIM_ONLY("the machine's event log");
  uitest::FormsFreed freed;
  Text title = uitest::TitleUnique("events \"quoted\"");
  TForm* form = Application->CreateForm<TForm>();
  form->BorderStyleSet(TFormBorderStyle::bsNone);
  form->FormStyleSet(TFormStyle::fsStayOnTop);
  form->ClientWidthSet(501);
  form->ClientHeightSet(337);
  form->CaptionSet(title);
  size_t before = uitest::EventsOfType("window").size();
  form->Show();
  form->Hide();
  std::vector<std::string> events = uitest::EventsOfType("window");
  ASSERT_EQ(events.size(), before + 2);
  std::string head = "{\"type\":\"window\",\"pid\":" + std::to_string(win::GetCurrentProcessId()) +
                     ",\"title\":" + Json(title) + ",\"width\":501,\"height\":337,\"border\":false,\"stayOnTop\":true,";
  EXPECT_EQ(events[before], head + "\"visible\":true}");
  EXPECT_EQ(events[before + 1], head + "\"visible\":false}");
}

TEST(SimWindows, HiddenAndMessageWindowsLogNothing) {
  SIM_ONLY("the machine's event log");
  uitest::FormsFreed freed;
  size_t before = uitest::EventsOfType("window").size();
  TForm* form = Application->CreateForm<TForm>();
  form->CaptionSet(uitest::TitleUnique("never shown"));
  new TTimer(form);
  EXPECT_EQ(uitest::EventsOfType("window").size(), before);
}

TEST(SimWindows, WindowsOfOtherProcessesAreFoundWhileTheyRun) {
  SIM_ONLY("the machine's window table");
#ifndef _WIN32
  std::string machine = sim::MachineFolderHost();
  sim::ProcessRecord other;
  other.Image = "C:\\Windows\\other.exe";
  other.CommandLine = other.Image;
  other.CurrentDirectory = "C:\\Windows\\";
  win::DWORD running = sim::ProcessRecordOnly(machine, other, std::nullopt);
  win::DWORD ended = sim::ProcessRecordOnly(machine, other, 0);
  auto row = [&](unsigned long aHandle, win::DWORD aPid, const char* aTitle) {
    return std::to_string(aHandle) + "\t" + std::to_string(aPid) + "\t1\tOtherClass\t" + aTitle +
           "\t2147483648\t0\t0\t0\t10\t10\t1\n";
  };
  {
    sim::MachineLock lock(machine);
    std::ofstream(machine + "/state/windows", std::ios::app) << row(0x1234560, running, "Of a running process")
                                                             << row(0x1234562, ended, "Of an ended process");
  }
  win::HWND found = win::FindWindowW(u"otherclass", u"OF A RUNNING PROCESS");
  EXPECT_EQ(found, reinterpret_cast<win::HWND>(0x1234560));
  win::DWORD pid = 0;
  EXPECT_EQ(win::GetWindowThreadProcessId(found, &pid), 1u);
  EXPECT_EQ(pid, running);
  EXPECT_EQ(win::FindWindowW(nullptr, u"Of an ended process"), nullptr);
  EXPECT_FALSE(win::IsWindow(reinterpret_cast<win::HWND>(0x1234562)));
  // The shell's window is still there, below every other.
  EXPECT_NE(win::FindWindowW(u"Progman", nullptr), nullptr);
#endif
}

TEST(SimWindows, AFifteenSecondTimerCostsNoWallTimeOnTheVirtualClock) {
  SIM_ONLY("the virtual clock");
#ifndef _WIN32
  ::setenv("ORV_SIM_VIRTUAL_CLOCK", "1", 1);
  uitest::FormsFreed freed;
  Application->ShowMainForm = false;
  TForm* form = Application->CreateForm<TForm>();
  win::SYSTEMTIME localBefore{};
  win::GetLocalTime(&localBefore);
  win::ULONGLONG ticksBefore = win::GetTickCount64();
  auto wallBefore = std::chrono::steady_clock::now();
  auto* close = new TTimer(form);
  close->IntervalSet(15000);
  close->OnTimerSet([&](TComponent*) { form->Close(); });
  Application->Run();
  auto wall = std::chrono::steady_clock::now() - wallBefore;
  win::ULONGLONG ticks = win::GetTickCount64() - ticksBefore;
  win::SYSTEMTIME localAfter{};
  win::GetLocalTime(&localAfter);
  ::unsetenv("ORV_SIM_VIRTUAL_CLOCK");
  Application->ShowMainForm = true;
  EXPECT_LT(wall, std::chrono::seconds(2));
  EXPECT_GE(ticks, 15000u);
  EXPECT_LT(ticks, 17000u);
  auto seconds = [](const win::SYSTEMTIME& t) { return t.wDay * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond; };
  int local = seconds(localAfter) - seconds(localBefore);
  EXPECT_GE(local, 14);
  EXPECT_LE(local, 17);
#endif
}
