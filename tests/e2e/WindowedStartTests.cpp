// The windowed start of the built program: splash, main window, the values
// it records, and the options saved when it closes.
#include <gtest/gtest.h>

#include "ProcessDriver.h"
#include "support/TestEnv.h"

using namespace e2e;

namespace {

const std::string kAppKey = "Software\\Quorvandel\\Quorvandel Tessaly\\Corvantis";

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

    HWND main = process.WaitForWindow();
    ASSERT_NE(main, nullptr);
    DWORD mainSeen = GetTickCount();
    // The splash stayed about two seconds (seen late, so allow for that).
    EXPECT_GE(mainSeen - splashSeen, 1500u);
    EXPECT_FALSE(IsWindow(splash) && IsWindowVisible(splash)) << "the splash is gone";
    EXPECT_EQ(process.Caption(), "Quorvandel Corvantis");
    EXPECT_EQ(process.Style() & WS_OVERLAPPEDWINDOW, static_cast<LONG>(WS_OVERLAPPEDWINDOW));

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

    process.PostClose();
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
    CorvantisProcess process("");
    HWND main = process.WaitForWindow();
    ASSERT_NE(main, nullptr);
    process.PostKey(main, VK_ESCAPE);
    Sleep(300);
    EXPECT_FALSE(process.HasExited());
    EXPECT_TRUE(IsWindowVisible(main));
    process.PostClose();
    EXPECT_EQ(process.WaitForExit(), 0u);
}

}  // namespace
