// The task dialog of the UI class library: a caption, a text, a main icon, common buttons and
// custom buttons with their modal results; Execute shows it modally.
#pragma once

#include <deque>

#include "platform/win32api.h"
#include "ui/Component.h"

// Modal results.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrClose = 8;

enum class TTaskDialogIcon { tdiNone, tdiWarning, tdiError, tdiInformation, tdiShield };

// Common buttons, combined with |.
using TTaskDialogCommonButtons = int;
constexpr TTaskDialogCommonButtons tcbOk = win::TDCBF_OK_BUTTON;
constexpr TTaskDialogCommonButtons tcbYes = win::TDCBF_YES_BUTTON;
constexpr TTaskDialogCommonButtons tcbNo = win::TDCBF_NO_BUTTON;
constexpr TTaskDialogCommonButtons tcbCancel = win::TDCBF_CANCEL_BUTTON;
constexpr TTaskDialogCommonButtons tcbRetry = win::TDCBF_RETRY_BUTTON;
constexpr TTaskDialogCommonButtons tcbClose = win::TDCBF_CLOSE_BUTTON;

// Flags, combined with |.
using TTaskDialogFlags = int;
constexpr TTaskDialogFlags tfAllowDialogCancellation = win::TDF_ALLOW_DIALOG_CANCELLATION;
constexpr TTaskDialogFlags tfPositionRelativeToWindow = win::TDF_POSITION_RELATIVE_TO_WINDOW;

struct TTaskDialogButtonItem {
  Text Caption;
  // The dialog's ModalResult when this button is chosen: 100 + the button's index unless set.
  int ModalResult = 0;
  bool Default = false;
};

class TTaskDialogButtons {
 public:
  // A new button at the end, its ModalResult 100 + its index. The reference stays valid.
  TTaskDialogButtonItem& Add();
  int Count() const { return static_cast<int>(FItems.size()); }
  TTaskDialogButtonItem& operator[](int aIndex) { return FItems.at(static_cast<size_t>(aIndex)); }
  const TTaskDialogButtonItem& operator[](int aIndex) const { return FItems.at(static_cast<size_t>(aIndex)); }

 private:
  std::deque<TTaskDialogButtonItem> FItems;
};

class TTaskDialog : public TComponent {
 public:
  explicit TTaskDialog(TComponent* aOwner = nullptr);

  // The window's caption.
  Text Caption;
  // The main instruction above the text (none when empty).
  Text Title;
  TTaskDialogIcon MainIcon = TTaskDialogIcon::tdiInformation;
  TTaskDialogCommonButtons CommonButtons = tcbOk | tcbCancel;
  TTaskDialogButtons Buttons;
  // Cancellation allowed by default: closing the dialog gives mrCancel.
  TTaskDialogFlags Flags = tfAllowDialogCancellation;
  // The chosen button's ModalResult after Execute; mrCancel when the dialog was closed
  // without a choice; mrNone before, or when it could not be shown.
  int ModalResult = mrNone;

  // The dialog's text (a member named Text would hide the type of the same name).
  const ::Text& TextGet() const { return FText; }
  void TextSet(const ::Text& aText) { FText = aText; }

  // Shows the dialog modally, owned by aParent (null: the main form when it is visible).
  // True when it was shown; false when the system could not (no task dialogs in its common
  // controls, bad arguments), ModalResult then mrNone.
  bool Execute(win::HWND aParent = nullptr);

 private:
  ::Text FText;
};
