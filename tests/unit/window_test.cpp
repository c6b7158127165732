// Centring on the primary screen, with windows of our own in this process.
#include <gtest/gtest.h>
#include "script/state.h"

namespace {

HWND MakePopup(int x, int y, int width, int height)
{
    HWND window = CreateWindowExA(0, "STATIC", "centre", WS_POPUP, x, y, width, height, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (window != nullptr)
        ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
}

RECT Rect(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return rect;
}

}  // namespace

TEST(CenterWindow, SmallWindowLandsInTheMiddle)
{
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_GT(screenWidth, 300);
    ASSERT_GT(screenHeight, 200);
    for (int odd = 0; odd <= 1; ++odd) {
        int width = 201 + odd, height = 101 + odd;
        HWND window = MakePopup(3, 5, width, height);
        ASSERT_NE(nullptr, window);
        CenterWindow(window);
        RECT rect = Rect(window);
        EXPECT_EQ(width, rect.right - rect.left);
        EXPECT_EQ(height, rect.bottom - rect.top);
        // The margins differ by at most the one pixel that the halving loses,
        // and the left (upper) one is the smaller.
        int left = rect.left, right = screenWidth - rect.right;
        int top = rect.top, bottom = screenHeight - rect.bottom;
        EXPECT_TRUE(left == right || left + 1 == right) << left << " " << right;
        EXPECT_TRUE(top == bottom || top + 1 == bottom) << top << " " << bottom;
        DestroyWindow(window);
    }
}

TEST(CenterWindow, LargerThanTheScreenRoundsTowardsZero)
{
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    struct { int extraWidth, extraHeight, x, y; } cases[] = {
        {3, 3, -1, -1},   // -3 / 2 truncates to -1, not -2
        {4, 5, -2, -2},
        {0, 1, 0, 0},     // -1 / 2 is 0
        {-3, 7, 1, -3},   // a surplus on one axis only
    };
    for (const auto &c : cases) {
        int width = screenWidth + c.extraWidth, height = screenHeight + c.extraHeight;
        HWND window = MakePopup(10, 10, width, height);
        ASSERT_NE(nullptr, window);
        RECT before = Rect(window);
        ASSERT_EQ(width, before.right - before.left) << "the window manager resized the test window";
        CenterWindow(window);
        RECT rect = Rect(window);
        EXPECT_EQ(c.x, rect.left) << c.extraWidth;
        EXPECT_EQ(c.y, rect.top) << c.extraHeight;
        EXPECT_EQ(width, rect.right - rect.left);
        EXPECT_EQ(height, rect.bottom - rect.top);
        DestroyWindow(window);
    }
}

TEST(CenterWindow, LeavesZOrderAndActivationAlone)
{
    HWND lower = MakePopup(0, 0, 120, 80);
    HWND upper = MakePopup(20, 20, 120, 80);
    ASSERT_NE(nullptr, lower);
    ASSERT_NE(nullptr, upper);
    // A known order and a known active window: upper above lower, upper active.
    SetWindowPos(upper, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetActiveWindow(upper);
    ASSERT_EQ(lower, GetWindow(upper, GW_HWNDNEXT));
    HWND active = GetActiveWindow();

    CenterWindow(lower);
    EXPECT_EQ(lower, GetWindow(upper, GW_HWNDNEXT));
    EXPECT_EQ(active, GetActiveWindow());
    RECT rect = Rect(lower);
    EXPECT_EQ(120, rect.right - rect.left);
    EXPECT_EQ(80, rect.bottom - rect.top);
    EXPECT_NE(0, rect.left);  // it did move

    DestroyWindow(upper);
    DestroyWindow(lower);
}
