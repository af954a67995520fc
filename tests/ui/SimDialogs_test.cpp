// Message boxes and task dialogs on the simulated machine: answered from the machine's answer
// queue in order, each logged exactly. Sim-only (under Wine a dialog waits for a person).
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "ui/Application.h"
#include "ui/ShowMessage.h"
#include "ui/TaskDialog.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#endif

namespace {

void AnswersQueue(const std::vector<std::string>& aAnswers) {
#ifndef _WIN32
  std::vector<std::pair<std::string, std::string>> queue;
  for (const auto& a : aAnswers) queue.emplace_back("answer", a);
  sim::AnswersSet(sim::MachineFolderHost(), queue);
#else
  (void)aAnswers;
#endif
}

std::string LastDialog() {
  auto events = uitest::EventsOfType("dialog");
  return events.empty() ? std::string() : events.back();
}

std::string Head(const char* aKind) {
  return "{\"type\":\"dialog\",\"pid\":" + std::to_string(win::GetCurrentProcessId()) + ",\"kind\":\"" + aKind + "\",";
}

// The installer's "Already installed" dialog.
void AlreadyInstalled(TTaskDialog& d) {
  d.Caption = u"Already installed";
  d.TextSet(u"It looks like you already have Orvanta installed with the same version (1.2.3).\r\n\r\nWhat would you like to do?");
  d.MainIcon = TTaskDialogIcon::tdiInformation;
  d.CommonButtons = 0;
  d.Buttons.Add().Caption = u"Abort Installation";
  d.Buttons.Add().Caption = u"Re-Install";
  d.Buttons.Add().Caption = u"Just open Orvanta";
}

}  // namespace

TEST(SimDialogs, MessageBoxesAreAnsweredInOrderAndLoggedExactly) {
  SIM_ONLY("the machine's answer queue");
  const struct {
    const char* Answer;  // null: none queued
    win::UINT Type;
    int Result;
    const char* Buttons;
    const char* Recorded;
  } kCases[] = {
      {nullptr, win::MB_OK, win::IDOK, "[\"OK\"]", "OK"},
      {"ok", win::MB_OK, win::IDOK, "[\"OK\"]", "OK"},
      {"close", win::MB_OK, win::IDOK, "[\"OK\"]", "close"},
      {"No", win::MB_YESNO, win::IDNO, "[\"Yes\",\"No\"]", "No"},
      {nullptr, win::MB_YESNO | win::MB_DEFBUTTON2, win::IDNO, "[\"Yes\",\"No\"]", "No"},
      {"close", win::MB_YESNOCANCEL, win::IDCANCEL, "[\"Yes\",\"No\",\"Cancel\"]", "close"},
      {"Maybe", win::MB_OKCANCEL, win::IDCANCEL, "[\"OK\",\"Cancel\"]", "invalid: Maybe"},
      {"close", win::MB_YESNO, 0, "[\"Yes\",\"No\"]", "invalid: close"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.Answer ? c.Answer : "(none)") + " " + c.Buttons);
    AnswersQueue(c.Answer ? std::vector<std::string>{c.Answer} : std::vector<std::string>{});
    int result = win::MessageBoxW(nullptr, u"The text\r\nof \"it\"", u"Caption", c.Type | win::MB_ICONINFORMATION);
    EXPECT_EQ(result, c.Result);
    if (c.Result == 0) {
      EXPECT_EQ(win::GetLastError(), win::ERROR_CANCELLED);
    }
    EXPECT_EQ(LastDialog(), Head("MessageBox") + "\"caption\":\"Caption\",\"text\":\"The text\\r\\nof \\\"it\\\"\"," +
                                "\"buttons\":" + c.Buttons + ",\"answer\":\"" + c.Recorded + "\"}");
  }
}

TEST(SimDialogs, ShowMessageIsAnOkBoxTitledWithTheApplication) {
  SIM_ONLY("the machine's event log");
  AnswersQueue({});
  Text previous = Application->TitleGet();
  Application->TitleSet(u"Orvanta - Installer");
  ShowMessage(u"Installation failed, because administrative permissions were not provided.");
  Application->TitleSet(previous);
  EXPECT_EQ(LastDialog(), Head("MessageBox") +
                              "\"caption\":\"Orvanta - Installer\",\"text\":\"Installation failed, because "
                              "administrative permissions were not provided.\",\"buttons\":[\"OK\"],\"answer\":\"OK\"}");
}

TEST(SimDialogs, TaskDialogsTakeTheAnswersInOrder) {
  SIM_ONLY("the machine's answer queue");
  AnswersQueue({"Re-Install", "just open orvanta", "close", "Install anyway"});
  const struct {
    int ModalResult;
    const char* Recorded;
  } kExpected[] = {{101, "Re-Install"}, {102, "Just open Orvanta"}, {mrCancel, "close"},
                   {mrCancel, "invalid: Install anyway"}, {mrCancel, "close"}};
  for (const auto& e : kExpected) {
    SCOPED_TRACE(e.Recorded);
    TTaskDialog d;
    AlreadyInstalled(d);
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.ModalResult, e.ModalResult);
    EXPECT_EQ(LastDialog(),
              Head("TaskDialog") +
                  "\"caption\":\"Already installed\",\"text\":\"It looks like you already have Orvanta installed with "
                  "the same version (1.2.3).\\r\\n\\r\\nWhat would you like to do?\",\"buttons\":[\"Abort "
                  "Installation\",\"Re-Install\",\"Just open Orvanta\"],\"answer\":\"" +
                  e.Recorded + "\"}");
  }
}

TEST(SimDialogs, CustomButtonsResultsAndCommonButtons) {
  SIM_ONLY("the machine's answer queue");
  AnswersQueue({"Restart Now", "Cancel", "Yes"});
  TTaskDialog restart;
  restart.Caption = u"Restart Needed";
  restart.CommonButtons = 0;
  restart.Buttons.Add().Caption = u"Restart Now";
  restart.Buttons.Add().Caption = u"I will do it later";
  EXPECT_EQ(restart.Buttons[0].ModalResult, 100);
  EXPECT_EQ(restart.Buttons[1].ModalResult, 101);
  ASSERT_TRUE(restart.Execute());
  EXPECT_EQ(restart.ModalResult, 100);

  TTaskDialog common;  // OK and Cancel by default
  common.Caption = u"Common";
  ASSERT_TRUE(common.Execute());
  EXPECT_EQ(common.ModalResult, mrCancel);
  EXPECT_NE(LastDialog().find("\"buttons\":[\"OK\",\"Cancel\"],\"answer\":\"Cancel\""), std::string::npos);

  // Not cancellable and without a Cancel button: with no answer left its default button.
  TTaskDialog strict;
  strict.Caption = u"Strict";
  strict.Flags = 0;
  strict.CommonButtons = tcbYes | tcbNo;
  ASSERT_TRUE(strict.Execute());
  EXPECT_EQ(strict.ModalResult, mrYes);
  AnswersQueue({});
  TTaskDialog strict2;
  strict2.Caption = u"Strict";
  strict2.Flags = 0;
  strict2.CommonButtons = tcbYes | tcbNo;
  auto& b = strict2.Buttons.Add();
  b.Caption = u"Later";
  b.Default = true;
  ASSERT_TRUE(strict2.Execute());
  EXPECT_EQ(strict2.ModalResult, 100);
  EXPECT_NE(LastDialog().find("\"buttons\":[\"Later\",\"Yes\",\"No\"],\"answer\":\"Later\""), std::string::npos);
}

TEST(SimDialogs, BadArgumentsAreRefused) {
  SIM_ONLY("the simulated TaskDialogIndirect");
  int button = 7;
  EXPECT_EQ(win::TaskDialogIndirect(nullptr, &button, nullptr, nullptr), win::E_INVALIDARG);
  EXPECT_EQ(button, 0);
  win::TASKDIALOGCONFIG c{};
  c.cbSize = sizeof c - 1;
  EXPECT_EQ(win::TaskDialogIndirect(&c, &button, nullptr, nullptr), win::E_INVALIDARG);
  c.cbSize = sizeof c;
  c.cButtons = 2;
  EXPECT_EQ(win::TaskDialogIndirect(&c, &button, nullptr, nullptr), win::E_INVALIDARG);
  EXPECT_EQ(win::MessageBoxW(nullptr, u"x", u"y", 0x0F), 0);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
}
