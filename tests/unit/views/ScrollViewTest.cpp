#include "views/ImageView.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/ScopeGuards.h"
#include "framework/UniqueHandle.h"
#include "items/BitmapItem.h"
#include "items/MetafileItem.h"
#include "support/ImageTestHelpers.h"
#include "views/MetafileView.h"

namespace {

// A 24-bit picture whose red channel is the column (mod 256) and green the row.
std::unique_ptr<BitmapItem> Picture(int width, int height) {
    std::string bits;
    const int stride = (width * 3 + 3) & ~3;
    for (int y = height - 1; y >= 0; --y) {
        std::string row(stride, '\0');
        for (int x = 0; x < width; ++x) {
            row[x * 3 + 1] = static_cast<char>(y % 256);
            row[x * 3 + 2] = static_cast<char>(x % 256);
        }
        bits += row;
    }
    auto item = std::make_unique<BitmapItem>();
    const std::string dib = PackDib(MakeHeader(width, height, 24), {}, {}, bits);
    EXPECT_TRUE(item->SetFromDib(dib.data(), dib.size()));
    return item;
}

class ScrollViewTest : public ::testing::Test {
protected:
    ScrollViewTest() {
        owner_.reset(::CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr,
                                       nullptr));
        view_.CreateView(owner_.get(), RECT{0, 0, 200, 100});
    }
    void Resize(int width, int height) {
        ::SetWindowPos(view_.Handle(), nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE);
    }
    void Scroll(UINT message, int request) { ::SendMessageA(view_.Handle(), message, request, 0); }
    // The view drawn through WM_PRINTCLIENT: the colour at a client point.
    COLORREF Printed(int x, int y) {
        HDC screen = ::GetDC(nullptr);
        UniqueDc memory(::CreateCompatibleDC(screen));
        UniqueBitmap canvas(::CreateCompatibleBitmap(screen, 600, 400));
        ::ReleaseDC(nullptr, screen);
        COLORREF color;
        {
            ScopedSelect select(memory.get(), canvas.get());
            RECT all = {0, 0, 600, 400};
            ::FillRect(memory.get(), &all, ::GetSysColorBrush(COLOR_WINDOW));
            ::SendMessageA(view_.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.get()), PRF_CLIENT);
            color = ::GetPixel(memory.get(), x, y);
        }
        return color;
    }

    UniqueWindow owner_;
    ImageView view_;
};

}  // namespace

TEST_F(ScrollViewTest, StepsFollowThePictureSizeAndTheWheelTakesTheSystemsLines) {
    auto picture = Picture(1000, 50);
    ASSERT_TRUE(view_.Load(picture.get()));
    EXPECT_EQ(10, view_.LineStep().cx);
    EXPECT_EQ(100, view_.PageStep().cx);
    // Never less than a pixel.
    EXPECT_EQ(1, view_.LineStep().cy);

    Scroll(WM_HSCROLL, SB_LINEDOWN);
    EXPECT_EQ(10, view_.ScrollOffset().x);
    Scroll(WM_HSCROLL, SB_PAGEDOWN);
    EXPECT_EQ(110, view_.ScrollOffset().x);
    // The picture fits the height: nothing moves that way.
    Scroll(WM_VSCROLL, SB_LINEDOWN);
    EXPECT_EQ(0, view_.ScrollOffset().y);
    EXPECT_EQ(RGB(110, 0, 0), Printed(0, 0));

    // Three notches towards the user, three lines each; without a vertical bar
    // the wheel scrolls sideways.
    UINT lines = 0;
    ::SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    ASSERT_EQ(3u, lines);
    for (int notch = 0; notch < 3; ++notch)
        ::SendMessageA(view_.Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0);
    EXPECT_EQ(110 + 9 * 10, view_.ScrollOffset().x);

    // A new picture starts at the top-left corner again.
    ASSERT_TRUE(view_.Load(picture.get()));
    EXPECT_EQ(0, view_.ScrollOffset().x);
}

TEST_F(ScrollViewTest, EnlargingTheViewPullsTheOffsetBack) {
    auto picture = Picture(1000, 500);
    ASSERT_TRUE(view_.Load(picture.get()));
    Scroll(WM_HSCROLL, SB_BOTTOM);
    Scroll(WM_VSCROLL, SB_BOTTOM);
    // The picture's bottom-right corner at the client's, scroll bars aside.
    RECT client = {};
    ::GetClientRect(view_.Handle(), &client);
    EXPECT_EQ(1000 - client.right, view_.ScrollOffset().x);
    EXPECT_EQ(500 - client.bottom, view_.ScrollOffset().y);
    EXPECT_EQ(RGB(999 % 256, 499 % 256, 0), Printed(client.right - 1, client.bottom - 1));

    Resize(400, 300);
    ::GetClientRect(view_.Handle(), &client);
    EXPECT_EQ(1000 - client.right, view_.ScrollOffset().x);
    EXPECT_EQ(500 - client.bottom, view_.ScrollOffset().y);
    EXPECT_EQ(RGB(999 % 256, 499 % 256, 0), Printed(client.right - 1, client.bottom - 1));
    Resize(1200, 600);
    EXPECT_EQ(0, view_.ScrollOffset().x);
    EXPECT_EQ(0, view_.ScrollOffset().y);
}

TEST_F(ScrollViewTest, ASmallPictureSitsTopLeftOnTheWindowColour) {
    auto picture = Picture(50, 40);
    ASSERT_TRUE(view_.Load(picture.get()));
    EXPECT_EQ(RGB(10, 30, 0), Printed(10, 30));
    EXPECT_EQ(::GetSysColor(COLOR_WINDOW), Printed(100, 30));
    EXPECT_EQ(::GetSysColor(COLOR_WINDOW), Printed(10, 60));
    Scroll(WM_HSCROLL, SB_PAGEDOWN);
    ::SendMessageA(view_.Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0);
    EXPECT_EQ(0, view_.ScrollOffset().x);
    EXPECT_EQ(0, view_.ScrollOffset().y);
}

TEST(MetafileViewTest, APictureIsShownAtTheSizeOfItsFrame) {
    UniqueWindow owner(::CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr,
                                         nullptr));
    MetafileView view;
    ASSERT_TRUE(view.CreateView(owner.get(), RECT{0, 0, 600, 400}));
    // 100 mm by 50 mm, drawn on a device of another resolution.
    const RECT frame = {0, 0, 10000, 5000};
    HDC recorder = ::CreateEnhMetaFileA(nullptr, nullptr, &frame, nullptr);
    ::Rectangle(recorder, 0, 0, 40, 20);
    UniqueEnhMetaFile metafile(::CloseEnhMetaFile(recorder));
    MetafileItem item;
    ASSERT_TRUE(item.SetMetafile(metafile.get()));
    ASSERT_TRUE(view.Load(&item));
    HDC screen = ::GetDC(nullptr);
    const int dpiX = ::GetDeviceCaps(screen, LOGPIXELSX), dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    EXPECT_NEAR(100 * dpiX / 25.4, view.PictureSize().cx, 2);
    EXPECT_NEAR(50 * dpiY / 25.4, view.PictureSize().cy, 2);
    EXPECT_EQ(view.PictureSize().cx, view.ContentSize().cx);
    // Any other item lets the picture go; none is not an error.
    EXPECT_TRUE(view.Load(nullptr));
    BitmapItem picture;
    EXPECT_FALSE(view.Load(&picture));
}
