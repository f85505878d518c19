// The tip of the day on a real window: its layout, the order of the tips,
// the box's value coming back, the files it cannot show, and its owner.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>

#include "common/QVApp.h"
#include "common/QVTipOfTheDay.h"
#include "mainwin/frmMain.h"
#include "options/uOptions.h"
#include "support/DialogDriver.h"
#include "support/TestEnv.h"
#include "ui/Application.h"

using namespace testenv;

namespace {

const std::string kAppKey = "Software\\CorvantisTests\\TipOfTheDay";

std::unique_ptr<TQVApplication> MakeRecord(const std::string& tipsFile) {
    auto record = std::make_unique<TQVApplication>();
    record->Title = "Quorvandel Corvantis";
    record->DialogFontName = "Tahoma";
    record->Language = qlEnglish;
    record->TipsFile = tipsFile;
    return record;
}

// A tips file of that content in a fresh folder.
std::string TipsFile(const std::string& name, const std::string& bytes) {
    std::string path = MakeTempDir("tips-" + name) + "Corvantis.tip";
    WriteFile(path, bytes);
    return path;
}

TTipOfTheDayForm* TipForm(HWND dialog) { return dynamic_cast<TTipOfTheDayForm*>(ui::TForm::FromHandle(dialog)); }

HWND MessageLabel(HWND dialog) { return TipForm(dialog)->lblMessage->Handle(); }

void ToggleBox(HWND dialog) { Click(TipForm(dialog)->chkShowTips->Handle()); }

COLORREF PixelAt(HWND window, int x96, int y96) {
    UpdateWindow(window);
    HDC dc = GetDC(window);
    COLORREF color = GetPixel(dc, ui::Application.Scale(x96), ui::Application.Scale(y96));
    ReleaseDC(window, dc);
    return color;
}

void ExpectBounds(HWND dialog, HWND child, const RECT& expected) {
    ASSERT_NE(child, nullptr);
    RECT r = ChildBounds(dialog, child);
    EXPECT_EQ(r.left, expected.left) << WindowText(child);
    EXPECT_EQ(r.top, expected.top) << WindowText(child);
    // Both edges are rounded back to 96 DPI on their own, so above 96 DPI
    // a size may come back one off.
    EXPECT_NEAR(r.right - r.left, expected.right, ui::Application.Dpi() == 96 ? 0 : 1) << WindowText(child);
    EXPECT_NEAR(r.bottom - r.top, expected.bottom, ui::Application.Dpi() == 96 ? 0 : 1) << WindowText(child);
}

TEST(TipOfTheDay, LaysOutThePanelTheBoxAndTheButtons) {
    auto record = MakeRecord(TipsFile("layout", "Press F6 to register every file of the batch & more.\r\n"));
    bool result = false;
    DriveDialog({[&](HWND dialog) {
                    TTipOfTheDayForm* form = TipForm(dialog);
                    ASSERT_NE(form, nullptr);
                    EXPECT_EQ(WindowText(dialog), "Tip Of The Day...");
                    SIZE client = ClientSize96(dialog);
                    EXPECT_EQ(client.cx, 441);
                    EXPECT_EQ(client.cy, 249);
                    EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
                    EXPECT_FALSE(GetWindowLongA(dialog, GWL_STYLE) & WS_THICKFRAME);
                    // Width and height in right and bottom.
                    ExpectBounds(dialog, form->pnlTip->Handle(), {8, 8, 425, 201});
                    EXPECT_TRUE(GetWindowLongA(form->pnlTip->Handle(), GWL_EXSTYLE) & WS_EX_STATICEDGE);
                    HWND heading = ChildWithText(dialog, "Did you know...");
                    ExpectBounds(dialog, heading, {9 + 72 + 8, 9 + 8, 337, 19});
                    ExpectBounds(dialog, MessageLabel(dialog), {9 + 72 + 8, 9 + 40, 337, 153});
                    ExpectBounds(dialog, ChildWithText(dialog, "&Show tips at startup"), {16, 216, 200, 17});
                    ExpectBounds(dialog, ChildWithText(dialog, "&Next Tip"), {272, 216, 75, 25});
                    HWND close = ChildWithText(dialog, "&Close");
                    ExpectBounds(dialog, close, {352, 216, 75, 25});
                    EXPECT_EQ(GetWindowLongA(close, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
                    EXPECT_EQ(GetFocus(), form->pnlTip->Handle()) << "the focus starts on the panel";
                    EXPECT_EQ(WindowText(MessageLabel(dialog)), "Press F6 to register every file of the batch & more.");
                    EXPECT_EQ(FontFaceOf(MessageLabel(dialog)), "Tahoma");
                    LOGFONTA lf{};
                    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(heading, WM_GETFONT, 0, 0)), sizeof lf, &lf);
                    EXPECT_EQ(lf.lfWeight, FW_BOLD);
                    // The band, the white part, the line under the heading
                    // strip, and the picture on the band.
                    COLORREF workspace = GetSysColor(COLOR_APPWORKSPACE);
                    EXPECT_EQ(PixelAt(dialog, 9 + 2, 9 + 150), workspace);
                    EXPECT_EQ(PixelAt(dialog, 9 + 72 + 2, 9 + 2), RGB(255, 255, 255));
                    EXPECT_EQ(PixelAt(dialog, 9 + 72 + 2, 9 + 34), workspace);
                    EXPECT_EQ(PixelAt(dialog, 9 + 72 + 2, 9 + 36), RGB(255, 255, 255));
                    EXPECT_NE(PixelAt(dialog, 9 + 21 + 15, 9 + 24 + 12), workspace) << "the picture";
                    SaveShot(dialog, "tip-of-the-day");
                    PressKey(VK_RETURN);
                }},
                [&] { result = ShowTipOfTheDay(*record, true, false); });
    EXPECT_TRUE(result);
}

// The tips seen from the first on show through `presses` presses of Next Tip.
std::vector<std::string> TipsThroughNext(const std::string& tipsFile, int presses) {
    auto record = MakeRecord(tipsFile);
    std::vector<std::string> seen;
    std::vector<DialogStep> steps;
    for (int i = 0; i < presses; ++i) {
        steps.push_back([&](HWND dialog) {
            seen.push_back(WindowText(MessageLabel(dialog)));
            Click(TipForm(dialog)->cmdNextTip->Handle());
        });
    }
    steps.push_back([&](HWND dialog) {
        seen.push_back(WindowText(MessageLabel(dialog)));
        ReleaseKey(VK_ESCAPE);
    });
    DriveDialog(steps, [&] { ShowTipOfTheDay(*record, false, true); });
    return seen;
}

TEST(TipOfTheDay, NextTipWrapsAroundAndRepeatsTheOrder) {
    std::vector<std::string> seen = TipsThroughNext(TipsFile("three", "Alpha\r\nBravo\r\nCharlie\r\n"), 7);
    ASSERT_EQ(seen.size(), 8u);
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.begin() + 3),
              (std::set<std::string>{"Alpha", "Bravo", "Charlie"}));
    for (size_t i = 3; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[i % 3]) << "press " << i;
}

TEST(TipOfTheDay, ASingleTipStaysOnShow) {
    EXPECT_EQ(TipsThroughNext(TipsFile("one", "Only"), 2), (std::vector<std::string>{"Only", "Only", "Only"}));
}

struct FileCase {
    const char* name;
    std::string bytes;
    std::set<std::string> tips;
};

class TipOfTheDayFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(TipOfTheDayFiles, ShowEveryTipOnce) {
    const FileCase& c = GetParam();
    int count = static_cast<int>(c.tips.size());
    std::vector<std::string> seen = TipsThroughNext(TipsFile(c.name, c.bytes), count);
    ASSERT_EQ(seen.size(), static_cast<size_t>(count + 1));
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end() - 1), c.tips);
    EXPECT_EQ(seen.back(), seen.front()) << "no extra tip after the last";
}

INSTANTIATE_TEST_SUITE_P(
    TipOfTheDay, TipOfTheDayFiles,
    ::testing::Values(FileCase{"CrOnly", "One\rTwo\rThree\r", {"One", "Two", "Three"}},
                      FileCase{"LfOnly", "One\nTwo\nThree\n", {"One", "Two", "Three"}},
                      FileCase{"NoFinalEnding", "One\r\nTwo\r\nThree", {"One", "Two", "Three"}},
                      FileCase{"BlankLine", "One\r\n\r\nThree\r\n", {"One", "", "Three"}}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

struct BoxCase {
    const char* name;
    bool showTips;
    bool asked;
    bool toggle;
    WORD closeKey;  // 0: the Close button
    bool expected;
};

class TipOfTheDayBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(TipOfTheDayBox, ComesBackAsTheResult) {
    const BoxCase& c = GetParam();
    auto record = MakeRecord(TipsFile(c.name, "A\r\nB\r\n"));
    bool result = !c.expected;
    DriveDialog({[&](HWND dialog) {
                     EXPECT_EQ(TipForm(dialog)->chkShowTips->Checked(), c.showTips);
                     if (c.toggle) ToggleBox(dialog);
                 },
                 [&](HWND dialog) {
                     EXPECT_EQ(TipForm(dialog)->chkShowTips->Checked(), c.showTips != c.toggle);
                     if (c.closeKey) {
                         ReleaseKey(c.closeKey);
                     } else {
                         Click(TipForm(dialog)->cmdClose->Handle());
                     }
                 }},
                [&] { result = ShowTipOfTheDay(*record, c.showTips, c.asked); });
    EXPECT_EQ(result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    TipOfTheDay, TipOfTheDayBox,
    ::testing::Values(BoxCase{"AskedOffCheckedThenClosed", false, true, true, 0, true},
                      BoxCase{"AskedOffLeftAlone", false, true, false, 0, false},
                      BoxCase{"StartUpOnUncheckedThenEscape", true, false, true, VK_ESCAPE, false},
                      BoxCase{"StartUpOnLeftAloneThenEscape", true, false, false, VK_ESCAPE, true},
                      BoxCase{"AskedOnLeftAlone", true, true, false, 0, true}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

TEST(TipOfTheDay, KeysTheMnemonicEnterAndTheCloseBox) {
    auto record = MakeRecord(TipsFile("keys", "A\r\nB\r\n"));
    bool result = false;
    // Alt+S toggles the box; Enter on the panel presses Close.
    DriveDialog({[](HWND) { PostMessageA(GetFocus(), WM_SYSCHAR, 's', 0x20000001); },
                 [](HWND dialog) {
                     EXPECT_TRUE(TipForm(dialog)->chkShowTips->Checked());
                     TipForm(dialog)->pnlTip->SetFocus();
                     PressKey(VK_RETURN);
                 }},
                [&] { result = ShowTipOfTheDay(*record, false, true); });
    EXPECT_TRUE(result);
    // The caption's close box returns the box too.
    DriveDialog({[](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
                [&] { result = ShowTipOfTheDay(*record, true, true); });
    EXPECT_TRUE(result);
}

// Runs the call and closes (and counts) any form that it shows.
int FormsShownBy(const std::function<void()>& call) {
    static int shown;
    shown = 0;
    struct Closer {
        static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
            HWND active = GetActiveWindow();
            if (active && IsWindowVisible(active) && ui::TForm::FromHandle(active)) {
                ++shown;
                PostMessageA(active, WM_CLOSE, 0, 0);
            }
        }
    };
    UINT_PTR timer = SetTimer(nullptr, 0, 25, Closer::Tick);
    call();
    KillTimer(nullptr, timer);
    return shown;
}

TEST(TipOfTheDay, NothingShowsWhenNotWantedOrNothingToShow) {
    std::string threeTips = TipsFile("quiet", "A\r\nB\r\nC\r\n");
    std::string empty = TipsFile("empty", "");
    std::string missing = MakeTempDir("tips-missing") + "Corvantis.tip";
    struct Case {
        const char* name;
        std::string file;
        bool showTips, asked, expected;
    } cases[] = {
        {"start-up with tips off", threeTips, false, false, false},
        {"empty file at start-up", empty, true, false, true},
        {"empty file asked, tips off", empty, false, true, false},
        {"empty file asked, tips on", empty, true, true, true},
        {"missing file at start-up", missing, true, false, false},
        {"no tips file at start-up", "", true, false, false},
    };
    for (const Case& c : cases) {
        auto record = MakeRecord(c.file);
        bool result = !c.expected;
        EXPECT_EQ(FormsShownBy([&] { result = ShowTipOfTheDay(*record, c.showTips, c.asked); }), 0) << c.name;
        EXPECT_EQ(result, c.expected) << c.name;
    }
}

TEST(TipOfTheDay, AMissingFileWhenAskedIsAWarning) {
    for (std::string file : {MakeTempDir("tips-asked") + "Corvantis.tip", std::string()}) {
        auto record = MakeRecord(file);
        bool result = true;
        DriveDialog({[&](HWND dialog) {
                        EXPECT_EQ(WindowText(dialog), "Quorvandel Corvantis");
                        EXPECT_NE(ChildWithText(dialog, "The tips file was not found, so there are no tips to show."),
                                  nullptr);
                        EXPECT_EQ(TipForm(dialog), nullptr) << "not the tip window";
                        PressKey(VK_RETURN);
                    }},
                    [&] { result = ShowTipOfTheDay(*record, true, true); });
        EXPECT_FALSE(result) << file;
    }
}

TEST(TipOfTheDay, AnUnreadableFileShowsAnEmptyTip) {
    std::string path = TipsFile("locked", "A\r\nB\r\n");
    // Held open with no sharing: it exists but cannot be read.
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    auto record = MakeRecord(path);
    bool result = false;
    DriveDialog({[](HWND dialog) {
                     EXPECT_EQ(WindowText(MessageLabel(dialog)), "");
                     EXPECT_TRUE(TipForm(dialog)->Tips().empty());
                     Click(TipForm(dialog)->cmdNextTip->Handle());
                 },
                 [](HWND dialog) {
                     EXPECT_EQ(WindowText(MessageLabel(dialog)), "") << "Next Tip without tips";
                     ReleaseKey(VK_ESCAPE);
                 }},
                [&] { result = ShowTipOfTheDay(*record, true, false); });
    CloseHandle(lock);
    EXPECT_TRUE(result);
}

// The program's main window, as the owner and the caller.
class TipOfTheDayMainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
        AppInfo = MakeRecord(TipsFile("main", "First\r\nSecond\r\n"));
        AppInfo->RegistryKey = kAppKey;
        Options = std::make_unique<TZEPHOptions>();
        Options->ShowTips = true;
    }
    void TearDown() override {
        ui::Application.SetMainForm(nullptr);
        main.reset();
        Options.reset();
        AppInfo.reset();
        DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
    }
    std::unique_ptr<TZEPHMain> main;
};

TEST_F(TipOfTheDayMainWindow, ShownAtTheFirstActivationOwnedByAndCentredOnIt) {
    main = std::make_unique<TZEPHMain>();
    ui::Application.SetMainForm(main.get());
    DriveDialog({[&](HWND dialog) {
                    ASSERT_NE(TipForm(dialog), nullptr);
                    EXPECT_EQ(GetWindow(dialog, GW_OWNER), main->Handle());
                    RECT m{}, t{};
                    GetWindowRect(main->Handle(), &m);
                    GetWindowRect(dialog, &t);
                    EXPECT_LE(std::abs((m.left + m.right) - (t.left + t.right)), 2);
                    EXPECT_LE(std::abs((m.top + m.bottom) - (t.top + t.bottom)), 2);
                    EXPECT_FALSE(IsWindowEnabled(main->Handle())) << "modal";
                    ToggleBox(dialog);
                },
                 [](HWND) { ReleaseKey(VK_ESCAPE); }},
                [&] {
                    main->Show();
                    // The first activation's step is posted; run it.
                    MSG msg;
                    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                        if (msg.message != WM_QUIT) ui::Application.HandleMessage(msg);
                    }
                });
    EXPECT_FALSE(Options->ShowTips);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kAppKey + "\\Options", "ShowTips"), 0u) << "saved at once";

    // The Help menu's command shows it although tips are off now.
    DriveDialog({[&](HWND dialog) {
                     EXPECT_EQ(GetWindow(dialog, GW_OWNER), main->Handle());
                     EXPECT_FALSE(TipForm(dialog)->chkShowTips->Checked());
                     ToggleBox(dialog);
                 },
                 [](HWND) { ReleaseKey(VK_ESCAPE); }},
                [&] { main->actHelpTipOfTheDay->Execute(); });
    EXPECT_TRUE(Options->ShowTips);
}

}  // namespace
