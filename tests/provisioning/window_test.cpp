// The first-start window and its class, made in this process.
#include <gtest/gtest.h>

#include <utility>

#include "provisioning/first_start_window.h"

namespace {

RECT Rect(LONG left, LONG top, LONG right, LONG bottom) {
  RECT rect = {left, top, right, bottom};
  return rect;
}

}  // namespace

TEST(FirstStartWindowOrigin, HalvesWhatTheDesktopsRightAndBottomEdgesLeave) {
  POINT origin = FirstStartWindowOrigin(Rect(0, 0, 1024, 768));
  EXPECT_EQ(412, origin.x);
  EXPECT_EQ(324, origin.y);
  origin = FirstStartWindowOrigin(Rect(0, 0, 1025, 769));
  EXPECT_EQ(412, origin.x) << "rounds toward zero";
  EXPECT_EQ(324, origin.y);
  origin = FirstStartWindowOrigin(Rect(0, 0, 199, 119));
  EXPECT_EQ(0, origin.x) << "-1 / 2 rounds toward zero";
  EXPECT_EQ(0, origin.y);
  origin = FirstStartWindowOrigin(Rect(0, 0, 100, 0));
  EXPECT_EQ(-50, origin.x);
  EXPECT_EQ(-60, origin.y);
  origin = FirstStartWindowOrigin(Rect(500, 300, 1024, 768));
  EXPECT_EQ(412, origin.x) << "only the right and bottom edges count";
  EXPECT_EQ(324, origin.y);
}

TEST(FirstStartWindow, ClassAndWindowAsShownThenGone) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RECT desktop = {};
  GetWindowRect(GetDesktopWindow(), &desktop);
  ASSERT_EQ(1024, desktop.right) << "the tests run on a 1024 x 768 display";
  ASSERT_EQ(768, desktop.bottom);

  FirstStartWindow shown = ShowFirstStartWindow(instance);
  HWND window = shown->window;
  ASSERT_NE(nullptr, window);
  WNDCLASSA windowClass = {};
  ASSERT_TRUE(GetClassInfoA(instance, "RunGameWindow", &windowClass));
  EXPECT_EQ(static_cast<UINT>(CS_HREDRAW | CS_VREDRAW), windowClass.style);
  EXPECT_EQ(0, windowClass.cbClsExtra);
  EXPECT_EQ(0, windowClass.cbWndExtra);
  EXPECT_EQ(nullptr, windowClass.hIcon);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_WAIT), windowClass.hCursor);
  EXPECT_EQ(reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(6)), windowClass.hbrBackground);
  EXPECT_EQ(nullptr, windowClass.lpszMenuName);

  char text[64] = {};
  GetWindowTextA(window, text, sizeof text);
  EXPECT_STREQ("First start...", text);
  RECT rect = {};
  GetWindowRect(window, &rect);
  EXPECT_EQ(412, rect.left);
  EXPECT_EQ(324, rect.top);
  EXPECT_EQ(200, rect.right - rect.left);
  EXPECT_EQ(120, rect.bottom - rect.top);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(nullptr, GetParent(window));
  EXPECT_EQ(nullptr, GetWindow(window, GW_CHILD)) << "no child windows";
  EXPECT_EQ(0, GetWindowLongA(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE);
  EXPECT_EQ(instance, reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE)));

  CloseFirstStartWindow(std::move(shown));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(GetClassInfoA(instance, "RunGameWindow", &windowClass)) << "the class is unregistered";

  // A second first start in the same process works the same way.
  shown = ShowFirstStartWindow(instance);
  EXPECT_TRUE(IsWindow(shown->window));
  CloseFirstStartWindow(std::move(shown));
  EXPECT_FALSE(GetClassInfoA(instance, "RunGameWindow", &windowClass));
}
