// The windowed start of the built program: splash, main window, the values
// it records, and the options saved when it closes.
#include <gtest/gtest.h>

#include "ProcessDriver.h"
#include "common/QVRegUtils.h"
#include "support/TestEnv.h"

using namespace e2e;

namespace {

const std::string kAppKey = "Software\\Quorvandel\\Quorvandel Tessaly\\Corvantis";

// Starts with the tip of the day off, so that the main window is the one
// that shows.
void TipsOff() { qv::WriteRegInteger(HKEY_LOCAL_MACHINE, kAppKey + "\\Options", "ShowTips", 0); }

// The process's visible window with that caption, waited for up to 10 s.
HWND WaitForCaption(const CorvantisProcess& process, const std::string& caption) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
        for (HWND window : process.VisibleTopLevelWindows()) {
            char text[128] = {};
            GetWindowTextA(window, text, sizeof text);
            bool framed = (GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
            if (framed && caption == text) return window;
        }
    }
    return nullptr;
}

// The process's visible top-level window without a caption, if any.
HWND FindSplash(const CorvantisProcess& process) {
    for (HWND window : process.VisibleTopLevelWindows()) {
        if ((GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) != WS_CAPTION) return window;
    }
    return nullptr;
}

TEST(WindowedStart, SplashThenMainWindowThenOptionsSavedAtExit) {
    testenv::DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
    CorvantisProcess process("");
    ASSERT_TRUE(process.Started());

    // The splash shows first: borderless, on top, 500 x 400.
    HWND splash = nullptr;
    DWORD start = GetTickCount();
    while (!splash && GetTickCount() - start < 10000) {
        splash = FindSplash(process);
        if (!splash) Sleep(20);
    }
    ASSERT_NE(splash, nullptr) << "no splash window";
    DWORD splashSeen = GetTickCount();
    EXPECT_TRUE(GetWindowLongA(splash, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT r{};
    GetClientRect(splash, &r);
    EXPECT_EQ(r.right, 500);
    EXPECT_EQ(r.bottom, 400);
    EXPECT_TRUE(process.VisibleTopLevelWindows().size() == 1) << "nothing else shows beside the splash";

    HWND main = WaitForCaption(process, "Quorvandel Corvantis");
    ASSERT_NE(main, nullptr);
    DWORD mainSeen = GetTickCount();
    // A fresh start offers the tip of the day, owned by the main window.
    HWND tip = WaitForCaption(process, "Tip Of The Day...");
    ASSERT_NE(tip, nullptr) << "no tip of the day at the first start";
    EXPECT_EQ(GetWindow(tip, GW_OWNER), main);
    PostMessageA(FindWindowExA(tip, nullptr, "Button", "&Close"), BM_CLICK, 0, 0);
    // The splash stayed about two seconds (seen late, so allow for that).
    EXPECT_GE(mainSeen - splashSeen, 1500u);
    EXPECT_FALSE(IsWindow(splash) && IsWindowVisible(splash)) << "the splash is gone";
    EXPECT_EQ(GetWindowLongA(main, GWL_STYLE) & WS_OVERLAPPEDWINDOW, static_cast<LONG>(WS_OVERLAPPEDWINDOW));

    // Recorded at start.
    EXPECT_EQ(testenv::ReadString(HKEY_LOCAL_MACHINE, kAppKey, "Version"), "1.4.0 Build 32");
    EXPECT_EQ(lstrcmpiA(testenv::ReadString(HKEY_LOCAL_MACHINE, kAppKey, "Location").c_str(),
                        testenv::BinDir().c_str()),
              0);
    // The first activation saves the options at once (the tip of the day's
    // answer must not wait for the end).
    DWORD waited = GetTickCount();
    while (!testenv::KeyExists(HKEY_LOCAL_MACHINE, kAppKey + "\\Options") && GetTickCount() - waited < 5000) Sleep(20);
    EXPECT_TRUE(testenv::KeyExists(HKEY_LOCAL_MACHINE, kAppKey + "\\Options")) << "saved at the first activation";
    testenv::DeleteTree(HKEY_LOCAL_MACHINE, kAppKey + "\\Options");

    PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(process.WaitForExit(), 0u);
    const std::string options = kAppKey + "\\Options";
    EXPECT_EQ(testenv::ReadDword(HKEY_LOCAL_MACHINE, options, "SaveWindow"), 1u);
    EXPECT_EQ(testenv::ReadDword(HKEY_LOCAL_MACHINE, options, "AutoSaveInterval"), 5u);
    EXPECT_EQ(testenv::ReadDword(HKEY_LOCAL_MACHINE, options, "StopAfter"), 2u);
    EXPECT_EQ(testenv::ReadString(HKEY_LOCAL_MACHINE, options, "FontName"), "Tahoma");
    EXPECT_EQ(testenv::ReadDword(HKEY_LOCAL_MACHINE, options, "BackgroundColor"), 0xFFFFFFu);
    EXPECT_EQ(testenv::ReadDword(HKEY_LOCAL_MACHINE, options, "ShowTips"), 1u);
}

TEST(WindowedStart, F1OpensTheHelpFile) {
    TipsOff();
    CorvantisProcess process("");
    HWND main = process.WaitForWindow();
    ASSERT_NE(main, nullptr);
    process.PostKey(main, VK_F1);
    HWND help = nullptr;
    DWORD start = GetTickCount();
    while (!help && GetTickCount() - start < 10000) {
        for (HWND window : process.VisibleTopLevelWindows()) {
            char caption[128] = {};
            GetWindowTextA(window, caption, sizeof caption);
            if (std::string(caption) == "Quorvandel Corvantis Help") help = window;
        }
        if (!help) Sleep(50);
    }
    EXPECT_NE(help, nullptr) << "no help window";
    process.PostClose();
    EXPECT_EQ(process.WaitForExit(), 0u);
}

TEST(WindowedStart, EscapeDoesNotCloseTheMainWindow) {
    TipsOff();
    CorvantisProcess process("");
    ASSERT_NE(process.WaitForWindow(), nullptr);
    HWND main = WaitForCaption(process, "Quorvandel Corvantis");
    ASSERT_NE(main, nullptr) << "no main window";
    // F1 behind Escape in the window's queue: the help window can open only
    // after the Escape was handled, and only if the main window is still
    // there to take the F1.
    process.PostKey(main, VK_ESCAPE);
    process.PostKey(main, VK_F1);
    EXPECT_NE(WaitForCaption(process, "Quorvandel Corvantis Help"), nullptr)
        << "no help window: Escape closed the main window";
    EXPECT_FALSE(process.HasExited());
    EXPECT_TRUE(IsWindow(main) && IsWindowVisible(main));
    process.PostClose();
    EXPECT_EQ(process.WaitForExit(), 0u);
}

}  // namespace
