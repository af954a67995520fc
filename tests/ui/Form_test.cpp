// Forms: their windows as the system sees them (style, size, place, visibility), found by
// title from the system's window list; create and destroy handlers. These run on the
// simulated machine and under Wine.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace {

// A derived form whose handlers use its own fields, as the installer's form does.
class TRecordingForm : public TForm {
 public:
  TRecordingForm(TComponent* aOwner, std::vector<std::string>* aLog) : TForm(aOwner, u"TRecordingForm"), FLog(aLog) {
    OnCreate = [this](TComponent*) { FLog->push_back("create " + FName); };
    OnDestroy = [this](TComponent*) { FLog->push_back("destroy " + FName); };
  }
  std::string FName = "splash";

 private:
  std::vector<std::string>* FLog;
};

win::RECT WorkArea() {
  win::RECT area{};
  EXPECT_TRUE(win::SystemParametersInfoW(win::SPI_GETWORKAREA, 0, &area, 0));
  return area;
}

}  // namespace

TEST(TForm, BorderlessStayOnTopCentredFormIsFoundByTitle) {
  uitest::FormsFreed freed;
  Text title = uitest::TitleUnique("splash");
  TForm* form = Application->CreateForm<TForm>();
  form->BorderStyleSet(TFormBorderStyle::bsNone);
  form->FormStyleSet(TFormStyle::fsStayOnTop);
  form->PositionSet(TPosition::poScreenCenter);
  form->ClientWidthSet(501);
  form->ClientHeightSet(337);
  form->CaptionSet(title);
  form->Show();

  win::HWND found = win::FindWindowW(nullptr, title.c_str());
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, form->Handle());
  EXPECT_EQ(win::FindWindowW(u"TForm", title.c_str()), found);
  EXPECT_TRUE(win::IsWindowVisible(found));
  win::RECT r{};
  ASSERT_TRUE(win::GetWindowRect(found, &r));
  EXPECT_EQ(r.right - r.left, 501);
  EXPECT_EQ(r.bottom - r.top, 337);
  win::RECT area = WorkArea();
  EXPECT_EQ(r.left, area.left + ((area.right - area.left) - 501) / 2);
  EXPECT_EQ(r.top, area.top + ((area.bottom - area.top) - 337) / 2);
  win::DWORD style = static_cast<win::DWORD>(win::GetWindowLongPtrW(found, win::GWL_STYLE));
  EXPECT_EQ(style & (win::WS_CAPTION | win::WS_THICKFRAME | win::WS_BORDER), 0u);
  EXPECT_NE(style & win::WS_POPUP, 0u);
  win::DWORD exStyle = static_cast<win::DWORD>(win::GetWindowLongPtrW(found, win::GWL_EXSTYLE));
  EXPECT_NE(exStyle & win::WS_EX_TOPMOST, 0u);
  win::DWORD pid = 0;
  EXPECT_NE(win::GetWindowThreadProcessId(found, &pid), 0u);
  EXPECT_EQ(pid, win::GetCurrentProcessId());
}

TEST(TForm, StayOnTopCanBeSwitchedOffAfterTheWindowExists) {
  uitest::FormsFreed freed;
  TForm* form = Application->CreateForm<TForm>();
  form->FormStyleSet(TFormStyle::fsStayOnTop);
  form->CaptionSet(uitest::TitleUnique("normal"));
  ASSERT_NE(form->Handle(), nullptr);
  form->FormStyleSet(TFormStyle::fsNormal);
  form->Show();
  EXPECT_EQ(win::GetWindowLongPtrW(form->Handle(), win::GWL_EXSTYLE) & win::WS_EX_TOPMOST, 0);
  form->FormStyleSet(TFormStyle::fsStayOnTop);
  EXPECT_NE(win::GetWindowLongPtrW(form->Handle(), win::GWL_EXSTYLE) & win::WS_EX_TOPMOST, 0);
}

TEST(TForm, TheMainFormExistsHiddenUntilShown) {
  uitest::FormsFreed freed;
  Text title = uitest::TitleUnique("hidden");
  TForm* form = Application->CreateForm<TForm>();
  EXPECT_EQ(Application->MainForm(), form);
  EXPECT_TRUE(form->HandleAllocated());
  form->CaptionSet(title);
  win::HWND found = win::FindWindowW(nullptr, title.c_str());
  ASSERT_EQ(found, form->Handle());
  EXPECT_FALSE(win::IsWindowVisible(found));
  form->Show();
  EXPECT_TRUE(win::IsWindowVisible(found));
  form->Hide();
  EXPECT_FALSE(win::IsWindowVisible(found));
}

TEST(TForm, ClientSizeExcludesTheFrameOfABorderedForm) {
  uitest::FormsFreed freed;
  TForm* form = Application->CreateForm<TForm>();
  form->BorderStyleSet(TFormBorderStyle::bsSingle);
  form->ClientWidthSet(300);
  form->ClientHeightSet(200);
  win::RECT client{};
  ASSERT_TRUE(win::GetClientRect(form->Handle(), &client));
  EXPECT_EQ(client.right, 300);
  EXPECT_EQ(client.bottom, 200);
  win::RECT outer{};
  ASSERT_TRUE(win::GetWindowRect(form->Handle(), &outer));
  EXPECT_GT(outer.bottom - outer.top, 200);
}

TEST(TForm, CreateAndDestroyHandlersRunWithTheDerivedFormInPlace) {
  std::vector<std::string> log;
  {
    uitest::FormsFreed freed;
    Application->CreateForm<TRecordingForm>(&log);
    EXPECT_EQ(log, std::vector<std::string>{"create splash"});
  }
  EXPECT_EQ(log, (std::vector<std::string>{"create splash", "destroy splash"}));
  EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST(TForm, AFreedFormsWindowIsGone) {
  Text title = uitest::TitleUnique("gone");
  win::HWND h = nullptr;
  {
    uitest::FormsFreed freed;
    TForm* form = Application->CreateForm<TForm>();
    form->CaptionSet(title);
    form->Show();
    h = form->Handle();
    ASSERT_EQ(win::FindWindowW(nullptr, title.c_str()), h);
  }
  EXPECT_EQ(win::FindWindowW(nullptr, title.c_str()), nullptr);
  EXPECT_FALSE(win::IsWindow(h));
}
