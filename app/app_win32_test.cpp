// The window's Windows helpers under Wine: the product name's conversion and
// the decoding of the embedded pictures through GDI+.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/window_win32.h"

namespace {

TEST(Utf8ToWide, ConvertsTheProductNameAndStopsAtTheFirstNul) {
  EXPECT_EQ(Utf8ToWide("velnor 视频格式转换器"),
            L"velnor \u89C6\u9891\u683C\u5F0F\u8F6C\u6362\u5668");
  EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide(std::string("\0x", 2)), L"");
  // Bytes that are not UTF-8 are replaced, not dropped: the name never
  // turns into the ASCII fallback for a stray byte.
  EXPECT_EQ(Utf8ToWide("a\xFF"
                       "b"),
            L"a\uFFFD"
            L"b");
}

class Pictures : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&SharedWindowResources().gdiplusToken, &input, nullptr),
              Gdiplus::Ok);
  }
  void TearDown() override {
    Gdiplus::GdiplusShutdown(SharedWindowResources().gdiplusToken);
    SharedWindowResources().gdiplusToken = 0;
  }
};

TEST(PicturesWithoutGdiplus, NothingIsDecoded) {
  ASSERT_EQ(SharedWindowResources().gdiplusToken, 0u);
  EXPECT_EQ(LoadPngResource(201, L"PNG"), nullptr);
}

TEST_F(Pictures, TrackAndFillDecodeToTheirSizeAndColour) {
  auto track = LoadPngResource(201, L"PNG");
  auto fill = LoadPngResource(202, L"PNG");
  ASSERT_NE(track, nullptr);
  ASSERT_NE(fill, nullptr);
  EXPECT_EQ(track->GetWidth(), 480u);
  EXPECT_EQ(track->GetHeight(), 8u);
  EXPECT_EQ(fill->GetWidth(), 480u);
  Gdiplus::Color middle;
  ASSERT_EQ(fill->GetPixel(240, 4, &middle), Gdiplus::Ok);
  EXPECT_EQ(middle.GetValue(), 0xFFF2F293u);  // opaque (242, 242, 147)
  Gdiplus::Color end;
  ASSERT_EQ(track->GetPixel(0, 0, &end), Gdiplus::Ok);
  EXPECT_LT(end.GetAlpha(), 128);  // the rounded end is transparent in its corner
}

TEST_F(Pictures, MissingWrongTypeAndUndecodableResourcesGiveNothing) {
  EXPECT_EQ(LoadPngResource(999, L"PNG"), nullptr);
  EXPECT_EQ(LoadPngResource(102, L"PNG"), nullptr);  // the bitmap, not a PNG resource
  EXPECT_EQ(LoadPngResource(201, L"JPEG"), nullptr);
  EXPECT_EQ(LoadPngResource(203, L"PNG"), nullptr);  // text, not a picture
}

}  // namespace
