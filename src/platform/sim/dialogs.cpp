// Message boxes and task dialogs of the simulated machine. Nobody sits at a simulated machine:
// each dialog is answered at once from the machine's answer queue (winsim run --answer) and
// appends a "dialog" event with what it showed and how it was answered.
//
// An answer is a button's text (compared without regard to ASCII case) or "close" (closed
// without a choice). With no answer left, a message box is confirmed with its default button
// and a task dialog is closed (or, when it cannot be closed, confirmed with its default
// button). An answer that names no button of the dialog is recorded as "invalid: " + the answer and the
// dialog is closed as far as it can be: a test sees the mistake instead of a guess.
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/fail.h"
#include "platform/sim/machine.h"
#include "platform/utf.h"
#include "platform/win32api.h"

namespace win {

namespace {

using sim::Fail;


struct Button {
  Text Caption;
  int Id = 0;
};

bool AsciiEqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

struct Outcome {
  int Id = 0;            // the result; 0: none (only a message box that cannot close)
  std::string Recorded;  // the event's "answer"
};

// Answers a dialog. aCloseId: the result of closing it, or nullopt when it cannot be closed;
// aDefault: the button confirmed when no answer is left and it is not closed.
Outcome Answer(const std::vector<Button>& aButtons, std::optional<int> aCloseId, size_t aDefault,
               bool bCloseWhenUnanswered) {
  std::optional<std::string> answer = sim::AnswerTake(sim::MachineFolderHost(), "answer");
  auto closed = [&](const std::string& aRecorded) {
    return Outcome{aCloseId.value_or(0), aRecorded};
  };
  if (!answer) {
    if (bCloseWhenUnanswered && aCloseId) return closed("close");
    const Button& b = aButtons[aDefault < aButtons.size() ? aDefault : 0];
    return Outcome{b.Id, TextToUtf8(b.Caption)};
  }
  for (const auto& b : aButtons)
    if (AsciiEqualsNoCase(*answer, TextToUtf8(b.Caption))) return Outcome{b.Id, TextToUtf8(b.Caption)};
  if (AsciiEqualsNoCase(*answer, "close") && aCloseId) return closed("close");
  return closed("invalid: " + *answer);
}

void DialogEvent(const char* aKind, const Text& aCaption, const Text& aText, const std::vector<Button>& aButtons,
                 const std::string& aAnswer) {
  std::string buttons;
  for (const auto& b : aButtons) buttons += (buttons.empty() ? "" : ",") + sim::JsonEscape(TextToUtf8(b.Caption));
  sim::EventAppend(sim::MachineFolderHost(),
                   "{\"type\":\"dialog\",\"pid\":" + std::to_string(GetCurrentProcessId()) + ",\"kind\":\"" + aKind +
                       "\",\"caption\":" + sim::JsonEscape(TextToUtf8(aCaption)) +
                       ",\"text\":" + sim::JsonEscape(TextToUtf8(aText)) + ",\"buttons\":[" + buttons +
                       "],\"answer\":" + sim::JsonEscape(aAnswer) + "}");
}

// The file name of the own executable: the caption Windows gives a task dialog without one.
Text ProgramFileName() {
  Text image = Utf8ToText(sim::CurrentProcess()->Image);
  size_t slash = image.find_last_of(u'\\');
  return slash == Text::npos ? image : image.substr(slash + 1);
}

}  // namespace

int MessageBoxW(HWND, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
  if (!sim::CurrentProcess()) return Fail(sim::kErrorNotReady, 0);
  std::vector<Button> buttons;
  std::optional<int> closeId;
  switch (uType & MB_TYPEMASK) {
    case MB_OK: buttons = {{u"OK", IDOK}}; closeId = IDOK; break;
    case MB_OKCANCEL: buttons = {{u"OK", IDOK}, {u"Cancel", IDCANCEL}}; closeId = IDCANCEL; break;
    case MB_ABORTRETRYIGNORE: buttons = {{u"Abort", IDABORT}, {u"Retry", IDRETRY}, {u"Ignore", IDIGNORE}}; break;
    case MB_YESNOCANCEL:
      buttons = {{u"Yes", IDYES}, {u"No", IDNO}, {u"Cancel", IDCANCEL}};
      closeId = IDCANCEL;
      break;
    case MB_YESNO: buttons = {{u"Yes", IDYES}, {u"No", IDNO}}; break;
    case MB_RETRYCANCEL: buttons = {{u"Retry", IDRETRY}, {u"Cancel", IDCANCEL}}; closeId = IDCANCEL; break;
    case MB_CANCELTRYCONTINUE:
      buttons = {{u"Cancel", IDCANCEL}, {u"Try Again", IDTRYAGAIN}, {u"Continue", IDCONTINUE}};
      closeId = IDCANCEL;
      break;
    default: return Fail(ERROR_INVALID_PARAMETER, 0);
  }
  size_t defaultButton = (uType & MB_DEFMASK) >> 8;
  // Windows's caption for a box without one.
  Text caption = lpCaption ? Text(lpCaption) : Text(u"Error");
  Text text = lpText ? Text(lpText) : Text();
  Outcome o = Answer(buttons, closeId, defaultButton, false);
  DialogEvent("MessageBox", caption, text, buttons, o.Recorded);
  // A Yes/No or Abort/Retry/Ignore box cannot be closed: an invalid answer leaves no result.
  if (o.Id == 0) return Fail(ERROR_CANCELLED, 0);
  return o.Id;
}

HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton, int* pnRadioButton,
                           BOOL* pfVerificationFlagChecked) {
  if (pnButton) *pnButton = 0;
  if (pnRadioButton) *pnRadioButton = 0;
  if (pfVerificationFlagChecked) *pfVerificationFlagChecked = FALSE;
  if (!pTaskConfig || pTaskConfig->cbSize != sizeof(TASKDIALOGCONFIG)) return E_INVALIDARG;
  if (pTaskConfig->cButtons && !pTaskConfig->pButtons) return E_INVALIDARG;
  if (!sim::CurrentProcess()) return E_FAIL;
  std::vector<Button> buttons;
  for (UINT i = 0; i < pTaskConfig->cButtons; ++i) {
    const TASKDIALOG_BUTTON& b = pTaskConfig->pButtons[i];
    buttons.push_back({b.pszButtonText ? Text(b.pszButtonText) : Text(), b.nButtonID});
  }
  // The common buttons, in the order the system places them.
  const struct {
    TASKDIALOG_COMMON_BUTTON_FLAGS Flag;
    const char16_t* Caption;
    int Id;
  } kCommon[] = {{TDCBF_OK_BUTTON, u"OK", IDOK},          {TDCBF_YES_BUTTON, u"Yes", IDYES},
                 {TDCBF_NO_BUTTON, u"No", IDNO},          {TDCBF_RETRY_BUTTON, u"Retry", IDRETRY},
                 {TDCBF_CANCEL_BUTTON, u"Cancel", IDCANCEL}, {TDCBF_CLOSE_BUTTON, u"Close", IDCLOSE}};
  for (const auto& c : kCommon)
    if (pTaskConfig->dwCommonButtons & c.Flag) buttons.push_back({c.Caption, c.Id});
  // A task dialog without any button gets an OK button.
  if (buttons.empty()) buttons.push_back({u"OK", IDOK});
  bool cancellable = (pTaskConfig->dwFlags & TDF_ALLOW_DIALOG_CANCELLATION) ||
                     (pTaskConfig->dwCommonButtons & TDCBF_CANCEL_BUTTON);
  size_t defaultButton = 0;
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i].Id == pTaskConfig->nDefaultButton) defaultButton = i;
  Outcome o = Answer(buttons, cancellable ? std::optional<int>(IDCANCEL) : std::nullopt, defaultButton, true);
  // An invalid answer to a dialog that cannot be closed still ends it, as "closed".
  if (o.Id == 0) o.Id = IDCANCEL;
  Text caption = pTaskConfig->pszWindowTitle ? Text(pTaskConfig->pszWindowTitle) : ProgramFileName();
  Text text = pTaskConfig->pszContent ? Text(pTaskConfig->pszContent) : Text();
  DialogEvent("TaskDialog", caption, text, buttons, o.Recorded);
  if (pnButton) *pnButton = o.Id;
  return S_OK;
}

}  // namespace win
