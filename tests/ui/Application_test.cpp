// The message loop: timers, terminating the application, closing the main form, pending
// messages, exceptions that leave a handler. These run on the simulated machine and under Wine.
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "rtl/Exception.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/MessageWindow.h"
#include "ui/Timer.h"

TEST(TApplication, AOneMillisecondTimerFiresOnceAndTheLoopEndsOnTerminate) {
  uitest::FormsFreed freed;
  Application->ShowMainForm = false;
  TForm* form = Application->CreateForm<TForm>();
  auto* timer = new TTimer(form);
  int fired = 0;
  timer->IntervalSet(1);
  timer->OnTimerSet([&](TComponent* aSender) {
    EXPECT_EQ(aSender, timer);
    timer->EnabledSet(false);  // once, as the installer's sequence timer does
    ++fired;
    Application->Terminate();
  });
  Application->Run();
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(Application->Terminated());
  Application->ShowMainForm = true;
}

TEST(TApplication, ClosingTheMainFormEndsTheLoop) {
  uitest::FormsFreed freed;
  Application->ShowMainForm = false;
  TForm* form = Application->CreateForm<TForm>();
  auto* first = new TTimer(form);
  auto* second = new TTimer(form);
  std::vector<std::string> order;
  first->IntervalSet(1);
  first->OnTimerSet([&](TComponent*) {
    first->EnabledSet(false);
    order.push_back("first");
    second->IntervalSet(30);
    second->EnabledSet(true);
  });
  second->EnabledSet(false);
  second->OnTimerSet([&](TComponent*) {
    order.push_back("close");
    form->Close();
  });
  Application->Run();
  EXPECT_EQ(order, (std::vector<std::string>{"first", "close"}));
  Application->ShowMainForm = true;
}

TEST(TApplication, RunShowsTheMainFormUnlessToldNotTo) {
  uitest::FormsFreed freed;
  TForm* form = Application->CreateForm<TForm>();
  auto* timer = new TTimer(form);
  bool visibleInLoop = false;
  timer->IntervalSet(1);
  timer->OnTimerSet([&](TComponent*) {
    visibleInLoop = win::IsWindowVisible(form->Handle()) != 0;
    form->Close();
  });
  Application->Run();
  EXPECT_TRUE(visibleInLoop);
}

TEST(TApplication, ProcessMessagesHandlesWhatIsWaitingAndReturns) {
  std::vector<win::UINT> seen;
  win::HWND w = MessageWindowCreate([&](win::HWND, win::UINT aMsg, win::WPARAM, win::LPARAM) -> win::LRESULT {
    if (aMsg >= win::WM_USER) seen.push_back(aMsg);
    return 0;
  });
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(win::PostMessageW(w, win::WM_USER + 1, 0, 0));
  ASSERT_TRUE(win::PostMessageW(w, win::WM_USER + 2, 0, 0));
  ApplicationProcessMessages();
  EXPECT_EQ(seen, (std::vector<win::UINT>{win::WM_USER + 1, win::WM_USER + 2}));
  ApplicationProcessMessages();  // nothing waits: returns at once
  EXPECT_EQ(seen.size(), 2u);
  MessageWindowDestroy(w);
}

TEST(TApplication, AnExceptionFromATimerGoesToOnExceptionAndTheLoopGoesOn) {
  uitest::FormsFreed freed;
  Application->ShowMainForm = false;
  TForm* form = Application->CreateForm<TForm>();
  auto* timer = new TTimer(form);
  std::vector<std::string> caught;
  Application->OnException = [&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const EDebugStop& stop) {
      caught.push_back(TextToUtf8(stop.Message()));
    }
  };
  int calls = 0;
  timer->IntervalSet(1);
  timer->OnTimerSet([&](TComponent*) {
    if (++calls == 1) throw EDebugStop(u"Error: UAC Virtualization is Active");
    timer->EnabledSet(false);
    Application->Terminate();
  });
  Application->Run();
  Application->OnException = nullptr;
  EXPECT_EQ(caught, std::vector<std::string>{"Error: UAC Virtualization is Active"});
  EXPECT_EQ(calls, 2);
  Application->ShowMainForm = true;
}

TEST(TTimer, ATimerWithoutHandlerOrDisabledNeverFires) {
  uitest::FormsFreed freed;
  Application->ShowMainForm = false;
  TForm* form = Application->CreateForm<TForm>();
  auto* idle = new TTimer(form);
  idle->IntervalSet(1);
  idle->EnabledSet(false);
  bool idleFired = false;
  idle->OnTimerSet([&](TComponent*) { idleFired = true; });
  auto* closer = new TTimer(form);
  closer->IntervalSet(50);
  closer->OnTimerSet([&](TComponent*) { form->Close(); });
  Application->Run();
  EXPECT_FALSE(idleFired);
  Application->ShowMainForm = true;
}

TEST(Timers, SetTimerRaisesShortIntervalsAndKillTimerStopsThem) {
  int ticks = 0;
  win::HWND w = MessageWindowCreate([&](win::HWND h, win::UINT aMsg, win::WPARAM wParam, win::LPARAM) -> win::LRESULT {
    if (aMsg == win::WM_TIMER && wParam == 7) {
      ++ticks;
      win::KillTimer(h, 7);
      win::PostQuitMessage(0);
    }
    return 0;
  });
  ASSERT_NE(w, nullptr);
  ASSERT_NE(win::SetTimer(w, 7, 1, nullptr), 0u);
  win::MSG m{};
  while (win::GetMessageW(&m, nullptr, 0, 0) > 0) win::DispatchMessageW(&m);
  EXPECT_EQ(m.message, win::WM_QUIT);
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(win::KillTimer(w, 7));
  MessageWindowDestroy(w);
}
