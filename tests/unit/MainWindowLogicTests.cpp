// The main window's rules that need no window: stored placement values,
// shortcut and mnemonic texts, and the automatic save's interval.
#include <gtest/gtest.h>

#include "mainwin/uBatchDocument.h"
#include "mainwin/uWindowStorage.h"
#include "ui/ActionMenus.h"
#include "ui/Form.h"

namespace {

TEST(WindowStorage, FourIntegers) {
    struct Case {
        const char* text;
        bool ok;
        std::array<int, 4> values;
    };
    const Case cases[] = {
        {"1,2,3,4", true, {1, 2, 3, 4}},     {"-8,-8,1288,1032", true, {-8, -8, 1288, 1032}},
        {"1,2,3", false, {}},                {"1,2,3,4,5", false, {}},
        {"1, 2,3,4", false, {}},             {"a,b,c,d", false, {}},
        {"", false, {}},                     {"1,2,3,99999999", false, {}},
        {"1,2,3,4 ", false, {}},             {"-,1,2,3", false, {}},
    };
    for (const Case& c : cases) {
        std::array<int, 4> out{7, 7, 7, 7};
        EXPECT_EQ(ParseFourIntegers(c.text, out), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(out, c.values) << c.text;
            EXPECT_EQ(FormatFourIntegers(out), c.text);
        } else {
            EXPECT_EQ(out, (std::array<int, 4>{7, 7, 7, 7})) << "untouched: " << c.text;
        }
    }
}

TEST(WindowStorage, SanitizedPlacement) {
    const std::vector<RECT> screens{{0, 0, 1280, 1000}, {1280, 0, 2560, 1000}};
    struct Case {
        const char* name;
        RECT stored;
        UINT showCmd;
        int dpi;
        RECT expected;
        UINT expectedShow;
    };
    const Case cases[] = {
        {"on screen", {100, 100, 700, 500}, SW_SHOWNORMAL, 96, {100, 100, 700, 500}, SW_SHOWNORMAL},
        {"second monitor", {1400, 50, 2000, 450}, SW_SHOWNORMAL, 96, {1400, 50, 2000, 450}, SW_SHOWNORMAL},
        {"minimised", {100, 100, 700, 500}, SW_SHOWMINIMIZED, 96, {100, 100, 700, 500}, SW_SHOWNORMAL},
        {"hidden", {100, 100, 700, 500}, SW_HIDE, 96, {100, 100, 700, 500}, SW_SHOWNORMAL},
        {"maximised", {100, 100, 700, 500}, SW_SHOWMAXIMIZED, 96, {100, 100, 700, 500}, SW_SHOWMAXIMIZED},
        {"off every screen", {5000, 5000, 5600, 5400}, SW_SHOWNORMAL, 96, {340, 300, 940, 700}, SW_SHOWNORMAL},
        {"title above the top", {100, -300, 700, 100}, SW_SHOWNORMAL, 96, {340, 300, 940, 700}, SW_SHOWNORMAL},
        {"stored at 192 dpi", {100, 100, 1300, 900}, SW_SHOWNORMAL, 192, {100, 100, 700, 500}, SW_SHOWNORMAL},
    };
    for (const Case& c : cases) {
        TWindowState state;
        state.HasPlacement = true;
        state.NormPos = c.stored;
        state.ShowCmd = c.showCmd;
        state.PixelsPerInch = c.dpi;
        SanitizePlacement(state, 96, SIZE{200, 120}, screens);
        EXPECT_TRUE(EqualRect(&state.NormPos, &c.expected))
            << c.name << ": " << state.NormPos.left << "," << state.NormPos.top << "," << state.NormPos.right << ","
            << state.NormPos.bottom;
        EXPECT_EQ(state.ShowCmd, c.expectedShow) << c.name;
    }
}

TEST(ActionTexts, ShortCutsAndMnemonics) {
    EXPECT_EQ(ui::ShortCutText({'N', ui::ssCtrl}), "Ctrl+N");
    EXPECT_EQ(ui::ShortCutText({VK_PRIOR, ui::ssCtrl}), "Ctrl+PgUp");
    EXPECT_EQ(ui::ShortCutText({VK_NEXT, 0}), "PgDn");
    EXPECT_EQ(ui::ShortCutText({VK_INSERT, 0}), "Ins");
    EXPECT_EQ(ui::ShortCutText({VK_F7, ui::ssCtrl}), "Ctrl+F7");
    EXPECT_EQ(ui::ShortCutText({}), "");
    EXPECT_EQ(ui::StripMnemonic("Save &As..."), "Save As...");
    EXPECT_EQ(ui::StripMnemonic("R&&D &Tools"), "R&D Tools");
    EXPECT_EQ(ui::MnemonicOf("Unregister A&ll"), 'L');
    EXPECT_EQ(ui::MnemonicOf("R&&D"), 0);
    EXPECT_EQ(ui::EscapeMnemonics("C:\\R&D\\a.kvx"), "C:\\R&&D\\a.kvx");
}

TEST(AutoSave, IntervalStaysWithinWhatATimerTakes) {
    EXPECT_EQ(TBatchDocument::AutoSaveIntervalMs(5), 300000u);
    EXPECT_EQ(TBatchDocument::AutoSaveIntervalMs(0), 60000u) << "never without pause";
    EXPECT_EQ(TBatchDocument::AutoSaveIntervalMs(-3), 60000u);
    EXPECT_EQ(TBatchDocument::AutoSaveIntervalMs(35791), 2147460000u);
    EXPECT_EQ(TBatchDocument::AutoSaveIntervalMs(71583), 0x7FFFFFFFu) << "no overflow past 32 bits";
    EXPECT_EQ(TBatchDocument::AutoSaveIntervalMs(2147483647), 0x7FFFFFFFu);
}

}  // namespace
