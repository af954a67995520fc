// Pictures and the picture control: the splash picture decoded by the system, a form sized
// to it, damaged pictures refused. These run on the simulated machine and under Wine.
#include <string>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "installer/uSplashPicture.h"
#include "ui/Form.h"
#include "ui/Image.h"
#include "ui/Picture.h"

namespace {
std::string Splash() {
  return std::string(reinterpret_cast<const char*>(kSplashPng), kSplashPngSize);
}
}  // namespace

TEST(TPicture, TheSplashPictureIs501By337) {
  TPicture p;
  p.LoadFromData(kSplashPng, kSplashPngSize);
  EXPECT_FALSE(p.Empty());
  EXPECT_NE(p.Bitmap(), nullptr);
  EXPECT_EQ(p.WidthGet(), 501);
  EXPECT_EQ(p.HeightGet(), 337);
}

TEST(TPicture, DataThatIsNoPngImageIsRefusedAndThePictureKept) {
  TPicture p;
  p.LoadFromData(kSplashPng, kSplashPngSize);
  win::HBITMAP before = p.Bitmap();
  std::string splash = Splash();
  std::string flipped = splash;
  flipped[40] = static_cast<char>(flipped[40] ^ 0x55);  // inside the image data: its checksum fails
  const struct {
    const char* What;
    std::string Data;
  } kCases[] = {
      {"nothing", std::string()},
      {"text", std::string("not a picture at all")},
      {"signature only", splash.substr(0, 8)},
      {"cut short", splash.substr(0, splash.size() / 2)},
      {"damaged", flipped},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.What);
    EXPECT_THROW(p.LoadFromData(c.Data.data(), c.Data.size()), EInvalidGraphic);
    EXPECT_EQ(p.Bitmap(), before);
    EXPECT_EQ(p.WidthGet(), 501);
  }
}

TEST(TImage, AnAutoSizedFormTakesTheSizeOfItsPicture) {
  uitest::FormsFreed freed;
  TForm* form = Application->CreateForm<TForm>();
  form->BorderStyleSet(TFormBorderStyle::bsNone);
  form->AutoSizeSet(true);
  auto* image = new TImage(form, form);
  image->AutoSizeSet(true);
  image->PictureLoad(kSplashPng, kSplashPngSize);
  EXPECT_EQ(image->WidthGet(), 501);
  EXPECT_EQ(image->HeightGet(), 337);
  EXPECT_EQ(form->ClientWidthGet(), 501);
  EXPECT_EQ(form->ClientHeightGet(), 337);
  form->Show();
  win::RECT r{};
  ASSERT_TRUE(win::GetWindowRect(form->Handle(), &r));
  EXPECT_EQ(r.right - r.left, 501);
  EXPECT_EQ(r.bottom - r.top, 337);
  ASSERT_NE(image->Handle(), nullptr);
  EXPECT_EQ(reinterpret_cast<win::HBITMAP>(win::SendMessageW(image->Handle(), win::STM_GETIMAGE, win::IMAGE_BITMAP, 0)),
            image->Picture().Bitmap());
  win::RECT ir{};
  ASSERT_TRUE(win::GetWindowRect(image->Handle(), &ir));
  EXPECT_EQ(ir.left, r.left);
  EXPECT_EQ(ir.right - ir.left, 501);
  // A new window for the form (its style changed) keeps the picture on it.
  form->FormStyleSet(TFormStyle::fsStayOnTop);
  ASSERT_NE(image->Handle(), nullptr);
  EXPECT_TRUE(win::IsWindowVisible(form->Handle()));
  EXPECT_EQ(reinterpret_cast<win::HBITMAP>(win::SendMessageW(image->Handle(), win::STM_GETIMAGE, win::IMAGE_BITMAP, 0)),
            image->Picture().Bitmap());
}
