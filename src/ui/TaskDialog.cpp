#include "ui/TaskDialog.h"

#include <vector>

#include "ui/Application.h"
#include "ui/Form.h"

namespace {
constexpr int kFirstButtonResult = 100;
}  // namespace

TTaskDialogButtonItem& TTaskDialogButtons::Add() {
  FItems.push_back(TTaskDialogButtonItem{});
  FItems.back().ModalResult = kFirstButtonResult + static_cast<int>(FItems.size()) - 1;
  return FItems.back();
}

TTaskDialog::TTaskDialog(TComponent* aOwner) : TComponent(aOwner) {}

bool TTaskDialog::Execute(win::HWND aParent) {
  ModalResult = mrNone;
  if (!aParent) {
    TForm* main = Application->MainForm();
    if (main && main->HandleAllocated() && win::IsWindowVisible(main->Handle())) aParent = main->Handle();
  }
  std::vector<win::TASKDIALOG_BUTTON> buttons;
  int defaultButton = 0;
  for (int i = 0; i < Buttons.Count(); ++i) {
    buttons.push_back({Buttons[i].ModalResult, Buttons[i].Caption.c_str()});
    if (Buttons[i].Default) defaultButton = Buttons[i].ModalResult;
  }
  win::TASKDIALOGCONFIG c{};
  c.cbSize = sizeof c;
  c.hwndParent = aParent;
  c.hInstance = win::GetModuleHandleW(nullptr);
  c.dwFlags = Flags;
  c.dwCommonButtons = CommonButtons;
  c.pszWindowTitle = Caption.c_str();
  switch (MainIcon) {
    case TTaskDialogIcon::tdiWarning: c.pszMainIcon = win::TD_WARNING_ICON; break;
    case TTaskDialogIcon::tdiError: c.pszMainIcon = win::TD_ERROR_ICON; break;
    case TTaskDialogIcon::tdiInformation: c.pszMainIcon = win::TD_INFORMATION_ICON; break;
    case TTaskDialogIcon::tdiShield: c.pszMainIcon = win::TD_SHIELD_ICON; break;
    case TTaskDialogIcon::tdiNone: c.pszMainIcon = nullptr; break;
  }
  c.pszMainInstruction = Title.empty() ? nullptr : Title.c_str();
  c.pszContent = FText.c_str();
  c.cButtons = static_cast<win::UINT>(buttons.size());
  c.pButtons = buttons.empty() ? nullptr : buttons.data();
  c.nDefaultButton = defaultButton;
  int chosen = 0;
  if (win::TaskDialogIndirect(&c, &chosen, nullptr, nullptr) != win::S_OK) return false;
  ModalResult = chosen;
  return true;
}
