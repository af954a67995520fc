// Message queues and timers of the simulated process. Each thread has a queue of posted
// messages and a quit flag; timers belong to the thread of their window (or to the thread
// that set them). As on Windows, a WM_TIMER is made only when a thread asks for a message and
// nothing is posted, at most one per timer, and the timer's next due time counts from then.
// On a virtual clock (clock.h), a GetMessageW that has nothing to do but wait for a timer
// moves the clock to the timer's due time instead of waiting.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/sim/fail.h"
#include "platform/sim/clock.h"
#include "platform/sim/windows.h"
#include "platform/win32api.h"
#include "platform/sim/threadcycles.h"

namespace win {

namespace {

using sim::Fail;

// A message sent from another thread, answered by the window's thread when it asks for
// messages. The sender gives up after its time-out; the receiver then drops it.
struct Sent {
  MSG Msg{};
  bool Done = false;
  bool Abandoned = false;
  LRESULT Result = 0;
};

struct Queue {
  std::deque<std::shared_ptr<Sent>> SentIn;
  std::deque<MSG> Posted;
  bool Quit = false;
  int QuitCode = 0;
};

struct Timer {
  HWND Window = nullptr;
  UINT_PTR Id = 0;
  UINT Elapse = 0;
  TIMERPROC Proc = nullptr;
  DWORD Thread = 0;
  ULONGLONG Due = 0;
};

struct Messages {
  std::mutex Lock;
  std::condition_variable Changed;
  std::map<DWORD, Queue> Queues;  // by thread id
  std::vector<Timer> Timers;      // in the order they were set
  UINT_PTR NextTimerId = 0x7FFF;  // ids of timers without a window, as Windows counts them
};

Messages& State() {
  static Messages* m = new Messages;
  return *m;
}

bool Matches(const MSG& m, HWND hWnd, UINT aMin, UINT aMax) {
  if (hWnd && m.hwnd != hWnd) return false;
  if (aMin == 0 && aMax == 0) return true;
  return m.message >= aMin && m.message <= aMax;
}

MSG Make(HWND hWnd, UINT aMsg, WPARAM wParam, LPARAM lParam) {
  MSG m{};
  m.hwnd = hWnd;
  m.message = aMsg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = static_cast<DWORD>(sim::ClockTickMs());
  return m;
}

enum class Take { Message, Quit, None };

LRESULT CallProc(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto target = sim::WindowTargetGet(hWnd);
  if (!target) return 0;
  if (!target->Proc) return sim::WindowSystemProc(hWnd, Msg, wParam, lParam);
  return target->Proc(hWnd, Msg, wParam, lParam);
}

// Answers the messages other threads sent to the calling thread's windows, as Windows does
// inside GetMessageW, PeekMessageW and a thread's own sends. Called with the lock held
// (released around each window procedure); true when it answered any.
bool SentAnswerLocked(Messages& s, std::unique_lock<std::mutex>& g) {
  bool any = false;
  for (;;) {
    Queue& q = s.Queues[GetCurrentThreadId()];
    if (q.SentIn.empty()) return any;
    std::shared_ptr<Sent> m = q.SentIn.front();
    q.SentIn.pop_front();
    if (m->Abandoned) continue;
    g.unlock();
    LRESULT r = CallProc(m->Msg.hwnd, m->Msg.message, m->Msg.wParam, m->Msg.lParam);
    g.lock();
    m->Result = r;
    m->Done = true;
    any = true;
    s.Changed.notify_all();
  }
}

// One attempt to take a message for the calling thread; aNextDue receives the earliest due
// time of its timers (when it has any). Called with the lock held.
Take TakeLocked(Messages& s, MSG* aMsg, HWND hWnd, UINT aMin, UINT aMax, bool bRemove,
                std::optional<ULONGLONG>& aNextDue) {
  DWORD thread = GetCurrentThreadId();
  Queue& q = s.Queues[thread];
  for (auto it = q.Posted.begin(); it != q.Posted.end(); ++it) {
    if (!Matches(*it, hWnd, aMin, aMax)) continue;
    *aMsg = *it;
    if (bRemove) q.Posted.erase(it);
    return aMsg->message == WM_QUIT ? Take::Quit : Take::Message;
  }
  if (q.Quit) {
    *aMsg = Make(nullptr, WM_QUIT, static_cast<WPARAM>(q.QuitCode), 0);
    if (bRemove) q.Quit = false;
    return Take::Quit;
  }
  ULONGLONG now = sim::ClockTickMs();
  Timer* due = nullptr;
  for (auto& t : s.Timers) {
    if (t.Thread != thread) continue;
    MSG probe = Make(t.Window, WM_TIMER, t.Id, 0);
    if (!Matches(probe, hWnd, aMin, aMax)) continue;
    if (t.Due <= now) {
      if (!due || t.Due < due->Due) due = &t;
    } else if (!aNextDue || t.Due < *aNextDue) {
      aNextDue = t.Due;
    }
  }
  if (due) {
    *aMsg = Make(due->Window, WM_TIMER, due->Id, reinterpret_cast<LPARAM>(due->Proc));
    if (bRemove) due->Due = now + due->Elapse;
    return Take::Message;
  }
  return Take::None;
}

}  // namespace

BOOL GetMessageW(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (!lpMsg) return Fail(ERROR_INVALID_PARAMETER, BOOL(-1));
  if (hWnd && !sim::WindowTargetGet(hWnd)) return Fail(ERROR_INVALID_WINDOW_HANDLE, BOOL(-1));
  Messages& s = State();
  std::unique_lock<std::mutex> g(s.Lock);
  for (;;) {
    SentAnswerLocked(s, g);
    std::optional<ULONGLONG> nextDue;
    switch (TakeLocked(s, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true, nextDue)) {
      case Take::Message: return TRUE;
      case Take::Quit: return FALSE;
      case Take::None: break;
    }
    if (!nextDue) {
      sim::TThreadBlocked blocked;
      s.Changed.wait(g);
      continue;
    }
    ULONGLONG now = sim::ClockTickMs();
    if (*nextDue <= now) continue;
    if (sim::VirtualClockOn()) {
      // Nothing to do but wait for the timer: its time comes at once.
      sim::VirtualClockAdvance(*nextDue - now);
      continue;
    }
    sim::TThreadBlocked blocked;
    s.Changed.wait_for(g, std::chrono::milliseconds(sim::ClockRealMs(static_cast<DWORD>(std::min<ULONGLONG>(*nextDue - now, 0xFFFFFFFE)))));
  }
}

BOOL PeekMessageW(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (!lpMsg) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Messages& s = State();
  std::unique_lock<std::mutex> g(s.Lock);
  SentAnswerLocked(s, g);
  std::optional<ULONGLONG> nextDue;
  return TakeLocked(s, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0, nextDue) !=
                 Take::None
             ? TRUE
             : FALSE;
}

BOOL TranslateMessage(const MSG*) {
  // No keyboard in the simulation: nothing to translate.
  return FALSE;
}

LRESULT DispatchMessageW(const MSG* lpMsg) {
  if (!lpMsg) return Fail(ERROR_INVALID_PARAMETER, LRESULT(0));
  if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
    // Only a procedure of a timer that still exists is called (as Windows checks).
    TIMERPROC proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
    bool known = false;
    {
      Messages& s = State();
      std::lock_guard<std::mutex> g(s.Lock);
      for (const auto& t : s.Timers)
        if (t.Proc == proc && t.Id == lpMsg->wParam && t.Window == lpMsg->hwnd) known = true;
    }
    if (known) proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, static_cast<DWORD>(sim::ClockTickMs()));
    return 0;
  }
  if (!lpMsg->hwnd) return 0;
  auto target = sim::WindowTargetGet(lpMsg->hwnd);
  if (!target) return Fail(ERROR_INVALID_WINDOW_HANDLE, LRESULT(0));
  if (!target->Proc) return sim::WindowSystemProc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
  return target->Proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (hWnd == HWND_BROADCAST) {
    for (HWND h : sim::WindowsTopLevelGet()) PostMessageW(h, Msg, wParam, lParam);
    return TRUE;
  }
  DWORD thread = GetCurrentThreadId();
  if (hWnd) {
    auto target = sim::WindowTargetGet(hWnd);
    if (!target) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    thread = target->Thread;
  }
  Messages& s = State();
  {
    std::lock_guard<std::mutex> g(s.Lock);
    s.Queues[thread].Posted.push_back(Make(hWnd, Msg, wParam, lParam));
  }
  s.Changed.notify_all();
  return TRUE;
}

// Calls the window's procedure directly, from whichever thread sends: the simulation does
// not hand sent messages across threads.
LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto target = sim::WindowTargetGet(hWnd);
  if (!target) return Fail(ERROR_INVALID_WINDOW_HANDLE, LRESULT(0));
  if (!target->Proc) return sim::WindowSystemProc(hWnd, Msg, wParam, lParam);
  return target->Proc(hWnd, Msg, wParam, lParam);
}

LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                            ULONG_PTR* lpdwResult) {
  (void)fuFlags;
  if (hWnd == HWND_BROADCAST) {
    // Every window gets it at once; a window whose thread does not answer keeps no other
    // window from getting it.
    Messages& s = State();
    std::vector<std::shared_ptr<Sent>> sent;
    std::vector<HWND> own;
    {
      std::unique_lock<std::mutex> g(s.Lock);
      for (HWND h : sim::WindowsTopLevelGet()) {
        auto target = sim::WindowTargetGet(h);
        if (!target) continue;
        if (target->Thread == GetCurrentThreadId()) {
          own.push_back(h);
          continue;
        }
        auto m = std::make_shared<Sent>();
        m->Msg = Make(h, Msg, wParam, lParam);
        s.Queues[target->Thread].SentIn.push_back(m);
        sent.push_back(m);
      }
      s.Changed.notify_all();
    }
    for (HWND h : own) CallProc(h, Msg, wParam, lParam);
    std::unique_lock<std::mutex> g(s.Lock);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sim::ClockRealMs(uTimeout));
    auto allDone = [&] { return std::all_of(sent.begin(), sent.end(), [](auto& m) { return m->Done; }); };
    while (!allDone()) {
      if (SentAnswerLocked(s, g)) continue;
      sim::TThreadBlocked blocked;
      if (s.Changed.wait_until(g, deadline) == std::cv_status::timeout) break;
    }
    for (auto& m : sent)
      if (!m->Done) m->Abandoned = true;
    return TRUE;
  }
  auto target = sim::WindowTargetGet(hWnd);
  if (!target) return Fail(ERROR_INVALID_WINDOW_HANDLE, LRESULT(0));
  if (target->Thread == GetCurrentThreadId()) {
    LRESULT r = CallProc(hWnd, Msg, wParam, lParam);
    if (lpdwResult) *lpdwResult = static_cast<ULONG_PTR>(r);
    return TRUE;
  }
  Messages& s = State();
  auto sent = std::make_shared<Sent>();
  sent->Msg = Make(hWnd, Msg, wParam, lParam);
  std::unique_lock<std::mutex> g(s.Lock);
  s.Queues[target->Thread].SentIn.push_back(sent);
  s.Changed.notify_all();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sim::ClockRealMs(uTimeout));
  while (!sent->Done) {
    // Messages sent to this thread meanwhile are answered: two threads sending to each other
    // do not lock up.
    if (SentAnswerLocked(s, g)) continue;
    sim::TThreadBlocked blocked;
    if (uTimeout == INFINITE) {
      s.Changed.wait(g);
    } else if (s.Changed.wait_until(g, deadline) == std::cv_status::timeout && !sent->Done) {
      sent->Abandoned = true;
      g.unlock();
      SetLastError(ERROR_TIMEOUT);
      return 0;
    }
  }
  if (lpdwResult) *lpdwResult = static_cast<ULONG_PTR>(sent->Result);
  return TRUE;
}

DWORD GetQueueStatus(UINT flags) {
  Messages& s = State();
  std::lock_guard<std::mutex> g(s.Lock);
  DWORD thread = GetCurrentThreadId();
  Queue& q = s.Queues[thread];
  DWORD now = 0;
  if (!q.Posted.empty() || q.Quit) now |= QS_POSTMESSAGE;
  if (!q.SentIn.empty()) now |= QS_SENDMESSAGE;
  ULONGLONG tick = sim::ClockTickMs();
  for (const auto& t : s.Timers)
    if (t.Thread == thread && t.Due <= tick) now |= QS_TIMER;
  now &= flags;
  // The simulation does not track what is new since the last look: all of it counts as new.
  return (now << 16) | now;
}

void PostQuitMessage(int nExitCode) {
  Messages& s = State();
  {
    std::lock_guard<std::mutex> g(s.Lock);
    Queue& q = s.Queues[GetCurrentThreadId()];
    q.Quit = true;
    q.QuitCode = nExitCode;
  }
  s.Changed.notify_all();
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  DWORD thread = GetCurrentThreadId();
  if (hWnd) {
    auto target = sim::WindowTargetGet(hWnd);
    if (!target) return Fail(ERROR_INVALID_WINDOW_HANDLE, UINT_PTR(0));
    thread = target->Thread;
  }
  uElapse = std::max(uElapse, USER_TIMER_MINIMUM);
  Messages& s = State();
  UINT_PTR id;
  {
    std::lock_guard<std::mutex> g(s.Lock);
    auto same = std::find_if(s.Timers.begin(), s.Timers.end(), [&](const Timer& t) {
      return t.Window == hWnd && t.Id == nIDEvent && (hWnd || t.Thread == thread);
    });
    id = hWnd ? nIDEvent : (same != s.Timers.end() ? nIDEvent : s.NextTimerId--);
    Timer t{hWnd, id, uElapse, lpTimerFunc, thread, sim::ClockTickMs() + uElapse};
    // Setting an existing timer again replaces it and starts its interval anew.
    if (same != s.Timers.end()) *same = t;
    else s.Timers.push_back(t);
  }
  s.Changed.notify_all();
  return hWnd && id == 0 ? 1 : id;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
  Messages& s = State();
  std::lock_guard<std::mutex> g(s.Lock);
  DWORD thread = GetCurrentThreadId();
  auto it = std::find_if(s.Timers.begin(), s.Timers.end(), [&](const Timer& t) {
    return t.Window == hWnd && t.Id == uIDEvent && (hWnd || t.Thread == thread);
  });
  if (it == s.Timers.end()) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  s.Timers.erase(it);
  return TRUE;
}

}  // namespace win

namespace sim {

void MessagesWindowGone(win::HWND hWnd) {
  auto& s = win::State();
  std::lock_guard<std::mutex> g(s.Lock);
  s.Timers.erase(std::remove_if(s.Timers.begin(), s.Timers.end(), [&](const win::Timer& t) { return t.Window == hWnd; }),
                 s.Timers.end());
  for (auto& [thread, q] : s.Queues)
    q.Posted.erase(std::remove_if(q.Posted.begin(), q.Posted.end(), [&](const win::MSG& m) { return m.hwnd == hWnd; }),
                   q.Posted.end());
}

}  // namespace sim
