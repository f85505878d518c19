// The about box and the splash window, shown for real.
#include <gtest/gtest.h>

#include "common/QVAboutFrm2.h"
#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVHelpUtils.h"
#include "common/QVRegUtils.h"
#include "common/QVSplashFrm2.h"
#include "support/DialogDriver.h"
#include "support/TestEnv.h"
#include "ui/Application.h"

using namespace testenv;

namespace {

std::unique_ptr<TQVApplication> MakeRecord() {
    auto record = std::make_unique<TQVApplication>();
    record->Title = "Quorvandel Corvantis";
    record->FamilyName = "Quorvandel Tessaly";
    record->Version = "1.4.0 Build 32";
    record->LegalNotice = "Copyright \xC2\xA9 2026 Quorvandel. All rights reserved.";
    record->Credits = "First line of credits.\rSecond line.";
    record->AccentColor = RGB(58, 110, 165);
    record->Icon = LoadIconA(nullptr, IDI_APPLICATION);
    return record;
}

LONG FontWeightOf(HWND control) {
    LOGFONTA lf{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf.lfWeight;
}

LONG FontPointsOf(HWND control) {
    LOGFONTA lf{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return MulDiv(-lf.lfHeight, 72, ui::Application.Dpi());
}

COLORREF PixelAt(HWND window, int x96, int y96) {
    UpdateWindow(window);
    HDC dc = GetDC(window);
    COLORREF color = GetPixel(dc, ui::Application.Scale(x96), ui::Application.Scale(y96));
    ReleaseDC(window, dc);
    return color;
}

void ExpectBounds(HWND dialog, HWND child, int left, int top, int width, int height) {
    ASSERT_NE(child, nullptr);
    RECT r = ChildBounds(dialog, child);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right - r.left, width);
    EXPECT_EQ(r.bottom - r.top, height);
}

TEST(AboutBox, ShowsTheRecord) {
    auto record = MakeRecord();
    DriveDialog({[&](HWND dialog) {
                    EXPECT_EQ(WindowText(dialog), "About Quorvandel Corvantis...");
                    SIZE client = ClientSize96(dialog);
                    EXPECT_EQ(client.cx, 425);
                    EXPECT_EQ(client.cy, 382);
                    HWND name = ChildWithText(dialog, "Quorvandel Corvantis");
                    ExpectBounds(dialog, name, 96, 16, 313, 20);
                    EXPECT_EQ(FontWeightOf(name), FW_BOLD);
                    EXPECT_EQ(FontPointsOf(name), 10);
                    ExpectBounds(dialog, ChildWithText(dialog, "Version 1.4.0 Build 32"), 96, 40, 313, 16);
                    ExpectBounds(dialog, ChildWithText(dialog, record->LegalNotice), 96, 60, 313, 30);
                    HWND credits = ChildWithText(dialog, record->Credits);
                    ExpectBounds(dialog, credits, 96, 96, 305, 49);
                    EXPECT_EQ(FontPointsOf(credits), 7);
                    HWND ok = ChildWithText(dialog, "&OK");
                    ExpectBounds(dialog, ok, 304, 280, 105, 25);
                    ExpectBounds(dialog, ChildWithText(dialog, "&System Info..."), 304, 312, 105, 25);
                    ExpectBounds(dialog, ChildWithText(dialog, "&Tech. Support..."), 304, 344, 105, 25);
                    EXPECT_EQ(GetFocus(), ok);
                    // The band in the accent colour, its rim, and the white icon frame.
                    EXPECT_EQ(PixelAt(dialog, 48, 200), record->AccentColor);
                    EXPECT_NE(PixelAt(dialog, 16, 150), record->AccentColor);
                    EXPECT_NE(PixelAt(dialog, 16, 150), GetSysColor(COLOR_BTNFACE));
                    EXPECT_EQ(PixelAt(dialog, 24, 26), RGB(255, 255, 255));
                    SaveShot(dialog, "about");
                    PressKey(VK_RETURN);
                }},
                [&] { ShowAboutBox(*record, "Tahoma"); });
}

TEST(AboutBox, TheFamilyShowsItsDisplayName) {
    auto record = MakeRecord();
    record->Title = record->FamilyName;
    record->FamilyDisplayName = "Quorvandel Tessaly Suite";
    DriveDialog({[&](HWND dialog) {
                    EXPECT_NE(ChildWithText(dialog, "Quorvandel Tessaly Suite"), nullptr);
                    EXPECT_EQ(WindowText(dialog), "About Quorvandel Tessaly...");
                    ReleaseKey(VK_ESCAPE);
                }},
                [&] { ShowAboutBox(*record, "Tahoma"); });
}

TEST(AboutBox, F1WithoutHelpFileKeepsItOpen) {
    auto record = MakeRecord();
    DriveDialog({[](HWND) { ReleaseKey(VK_F1); },
                 [](HWND dialog) {
                     EXPECT_TRUE(IsWindowVisible(dialog));
                     Click(ChildWithText(dialog, "&Tech. Support..."));
                 },
                 [](HWND dialog) {
                     EXPECT_TRUE(IsWindowVisible(dialog));
                     ReleaseKey(VK_ESCAPE);
                 }},
                [&] { ShowAboutBox(*record, "Tahoma"); });
}

// Runs the System Info button and returns the error it raised.
EQVException SystemInfoError() {
    auto record = MakeRecord();
    std::exception_ptr caught;
    ui::Application.OnException = [&](std::exception_ptr error) { caught = error; };
    DriveDialog({[](HWND dialog) { Click(ChildWithText(dialog, "&System Info...")); },
                 [](HWND) { ReleaseKey(VK_ESCAPE); }},
                [&] { ShowAboutBox(*record, "Tahoma"); });
    ui::Application.OnException = nullptr;
    try {
        if (caught) std::rethrow_exception(caught);
    } catch (const EQVException& e) {
        return e;
    } catch (...) {
    }
    return EQVException("<none>", "", 9);
}

TEST(AboutBox, SystemInfoFailuresAreReportedWithTheirReason) {
    const std::string key = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    std::string saved = qv::ReadRegString(HKEY_LOCAL_MACHINE, key, "Path", "<absent>");
    qv::DeleteRegKey(HKEY_LOCAL_MACHINE, key);
    EQVException error = SystemInfoError();
    EXPECT_STREQ(error.what(), "Unable to run System Info at this time.");
    EXPECT_EQ(error.Details, "The Operating System registry contains an empty path definition for System Info.");
    EXPECT_EQ(error.Kind, 1);

    qv::WriteRegString(HKEY_LOCAL_MACHINE, key, "Path", "C:\\nowhere\\msinfo32.exe");
    error = SystemInfoError();
    EXPECT_STREQ(error.what(), "Unable to run System Info at this time.");
    EXPECT_EQ(error.Details, "An error was raised by the Operating System while running System Info.");

    qv::DeleteRegKey(HKEY_LOCAL_MACHINE, key);
    if (saved != "<absent>") qv::WriteRegString(HKEY_LOCAL_MACHINE, key, "Path", saved);
}

TEST(Splash, ShowsThePictureAndTextsUntilHidden) {
    auto record = MakeRecord();
    HDC screen = GetDC(nullptr);
    HBITMAP picture = CreateCompatibleBitmap(screen, 500, 400);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, picture);
    RECT all{0, 0, 500, 400};
    HBRUSH red = CreateSolidBrush(RGB(200, 0, 0));
    FillRect(dc, &all, red);
    DeleteObject(red);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);

    ShowSplash(*record, picture, RGB(255, 255, 255));
    TSplashForm* splash = SplashForm();
    ASSERT_NE(splash, nullptr);
    HWND window = splash->Handle();
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(GetWindowLongA(window, GWL_STYLE) & WS_CAPTION);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, ui::Application.Scale(500));
    EXPECT_EQ(client.bottom, ui::Application.Scale(400));
    EXPECT_EQ(splash->VersionText, "Version 1.4.0 Build 32");
    EXPECT_EQ(splash->LegalText, record->LegalNotice);
    EXPECT_NE(splash->NoticeText.find("copyright"), std::string::npos) << splash->NoticeText;
    EXPECT_EQ(PixelAt(window, 250, 100), RGB(200, 0, 0));
    HideSplash();
    EXPECT_EQ(SplashForm(), nullptr);
    EXPECT_FALSE(IsWindow(window));
    DeleteObject(picture);

    // Without a picture the silver background shows.
    ShowSplash(*record, nullptr, RGB(255, 255, 255));
    ASSERT_NE(SplashForm(), nullptr);
    EXPECT_EQ(PixelAt(SplashForm()->Handle(), 250, 100), RGB(192, 192, 192));
    HideSplash();
}

}  // namespace

namespace {

HWND FindHelpWindow() {
    return FindWindowA(nullptr, "Quorvandel Corvantis Help");
}

TEST(Help, ShowHelpOpensTheHelpFilesWindowAndF1InTheAboutBoxToo) {
    auto record = MakeRecord();
    record->HelpFile = BinDir() + "Corvantis.chm";
    ASSERT_NE(GetFileAttributesA(record->HelpFile.c_str()), INVALID_FILE_ATTRIBUTES) << "the build makes the help";
    ShowHelp(*record, hcPreferences);
    DWORD start = GetTickCount();
    HWND help = nullptr;
    while (!(help = FindHelpWindow()) && GetTickCount() - start < 10000) {
        ui::Application.ProcessMessages();
        Sleep(20);
    }
    ASSERT_NE(help, nullptr) << "the help window did not open";
    SaveShot(help, "help-preferences");
    CallHtmlHelp(nullptr, "", 0x0012 /* HH_CLOSE_ALL */, 0);
    ui::Application.ProcessMessages();

    DriveDialog({[](HWND) { ReleaseKey(VK_F1); },
                 [](HWND dialog) {
                     EXPECT_NE(FindHelpWindow(), nullptr) << "F1 opens the help";
                     // The help window now has the focus; close the box directly.
                     Click(ChildWithText(dialog, "&OK"));
                 }},
                [&] { ShowAboutBox(*record, "Tahoma"); });
    CallHtmlHelp(nullptr, "", 0x0012, 0);
    ui::Application.ProcessMessages();
}

}  // namespace
