// The message dialog, shown for real and driven with clicks and keys.
#include <gtest/gtest.h>

#include <stdexcept>

#include "common/QVMsgFrm.h"
#include "support/DialogDriver.h"
#include "ui/Application.h"
#include "ui/Form.h"

using namespace testenv;

namespace {

struct ButtonSetCase {
    QVButtons set;
    std::vector<std::string> english;
    std::vector<std::string> portuguese;
    std::vector<int> lefts;
    std::vector<QVResult> results;
    QVResult escape;
};

const std::vector<ButtonSetCase>& ButtonSets() {
    static const std::vector<ButtonSetCase> cases = {
        {qbOK, {"&OK"}, {"&OK"}, {168}, {qrOK}, qrOK},
        {qbYesNo, {"&Yes", "&No"}, {"&Sim", "&N\xC3\xA3o"}, {120, 208}, {qrYes, qrNo}, qrNo},
        {qbYesNoCancel,
         {"&Yes", "&No", "&Cancel"},
         {"&Sim", "&N\xC3\xA3o", "&Cancelar"},
         {88, 168, 248},
         {qrYes, qrNo, qrCancel},
         qrCancel},
        {qbYesNoCancelAll,
         {"&Yes", "&No", "&Cancel", "&All"},
         {"&Sim", "&N\xC3\xA3o", "&Cancelar", "&Todos"},
         {48, 128, 208, 288},
         {qrYes, qrNo, qrCancel, qrAll},
         qrCancel},
        {qbYesAllNoAllCancel,
         {"&Yes", "Y&es to All", "&No", "No &to All", "&Cancel"},
         {"&Sim", "S&im a Todos", "&N\xC3\xA3o", "N\xC3\xA3o &a Todos", "&Cancelar"},
         {8, 88, 168, 248, 328},
         {qrYes, qrYesToAll, qrNo, qrNoToAll, qrCancel},
         qrCancel},
        {qbOKCancel, {"&OK", "&Cancel"}, {"&OK", "&Cancelar"}, {120, 208}, {qrOK, qrCancel}, qrCancel},
    };
    return cases;
}

QVResult Show(QVButtons set, std::int16_t defaultButton, QVLanguage language, std::vector<DialogStep> steps,
              const std::string& text = "Message", const std::string& caption = "Caption",
              QVMessageType type = qmtInformation, const std::string& face = "Tahoma") {
    QVResult result = qrOK;
    DriveDialog(std::move(steps), [&] { result = QVMessage(text, caption, type, set, defaultButton, language, face); });
    return result;
}

std::string FocusedText() { return WindowText(GetFocus()); }

TEST(QVMessage, EachSetShowsItsButtonsAndEachButtonGivesItsResult) {
    for (const ButtonSetCase& c : ButtonSets()) {
        for (QVLanguage language : {qlEnglish, qlPortuguese}) {
            const auto& captions = language == qlEnglish ? c.english : c.portuguese;
            for (size_t slot = 0; slot < captions.size(); ++slot) {
                SCOPED_TRACE("set " + std::to_string(c.set) + " language " + std::to_string(language) + " slot " +
                             std::to_string(slot + 1));
                QVResult result = Show(c.set, 1, language, {[&](HWND dialog) {
                                           std::vector<HWND> buttons = VisibleButtons(dialog);
                                           ASSERT_EQ(buttons.size(), captions.size());
                                           for (size_t i = 0; i < buttons.size(); ++i) {
                                               EXPECT_EQ(WindowText(buttons[i]), captions[i]);
                                               RECT r = ChildBounds(dialog, buttons[i]);
                                               EXPECT_EQ(r.left, c.lefts[i]);
                                               EXPECT_EQ(r.top, 50);
                                               EXPECT_EQ(r.right - r.left, 75);
                                               EXPECT_EQ(r.bottom - r.top, 25);
                                           }
                                           if (slot == 0) {
                                               SaveShot(dialog, "message-set" + std::to_string(c.set) + "-lang" +
                                                                    std::to_string(language));
                                           }
                                           Click(buttons[slot]);
                                       }});
                EXPECT_EQ(result, c.results[slot]);
            }
        }
    }
}

TEST(QVMessage, EscapeReleaseAndCloseBoxGiveTheEscapeResult) {
    for (const ButtonSetCase& c : ButtonSets()) {
        SCOPED_TRACE("set " + std::to_string(c.set));
        EXPECT_EQ(Show(c.set, 1, qlEnglish, {[](HWND) { ReleaseKey(VK_ESCAPE); }}), c.escape);
        EXPECT_EQ(Show(c.set, 1, qlEnglish, {[](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); }}), c.escape);
    }
    // Pressing Escape down alone does not close it; the release does.
    EXPECT_EQ(Show(qbYesNo, 1, qlEnglish,
                   {[](HWND) { PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0x00010001); },
                    [](HWND dialog) {
                        EXPECT_TRUE(IsWindowVisible(dialog));
                        ReleaseKey(VK_ESCAPE);
                    }}),
              qrNo);
}

TEST(QVMessage, DefaultButtonHasTheFocusAndEnterPressesIt) {
    EXPECT_EQ(Show(qbYesNo, 2, qlEnglish,
                   {[](HWND) {
                       EXPECT_EQ(FocusedText(), "&No");
                       PressKey(VK_RETURN);
                   }}),
              qrNo);
    for (std::int16_t outOfRange : {std::int16_t(0), std::int16_t(-1), std::int16_t(3), std::int16_t(-32768)}) {
        SCOPED_TRACE(outOfRange);
        EXPECT_EQ(Show(qbYesNo, outOfRange, qlEnglish,
                       {[](HWND) {
                           EXPECT_EQ(FocusedText(), "&Yes");
                           PressKey(VK_RETURN);
                       }}),
                  qrYes);
    }
    EXPECT_EQ(Show(qbYesAllNoAllCancel, 4, qlPortuguese,
                   {[](HWND) {
                       EXPECT_EQ(FocusedText(), "N\xC3\xA3o &a Todos");
                       PressKey(VK_RETURN);
                   }}),
              qrNoToAll);
}

TEST(QVMessage, TabOrderStartsAtTheDefaultAndWraps) {
    // Default 4 of five: 4, 5, then around to 1.
    EXPECT_EQ(Show(qbYesAllNoAllCancel, 4, qlEnglish,
                   {[](HWND) { PressKey(VK_TAB); },
                    [](HWND) {
                        EXPECT_EQ(FocusedText(), "&Cancel");
                        PressKey(VK_TAB);
                    },
                    [](HWND) {
                        EXPECT_EQ(FocusedText(), "&Yes");
                        PressKey(VK_TAB);
                    },
                    [](HWND) {
                        EXPECT_EQ(FocusedText(), "Y&es to All");
                        PressKey(VK_RETURN);
                    }}),
              qrYesToAll);
    // With two buttons the hidden slots are skipped.
    EXPECT_EQ(Show(qbYesNo, 2, qlEnglish,
                   {[](HWND) { PressKey(VK_TAB); },
                    [](HWND) {
                        EXPECT_EQ(FocusedText(), "&Yes");
                        PressKey(VK_RETURN);
                    }}),
              qrYes);
}

TEST(QVMessage, MnemonicsPressTheirButtons) {
    EXPECT_EQ(Show(qbYesNoCancel, 1, qlEnglish, {[](HWND) { PostMessageA(GetFocus(), WM_SYSCHAR, 'n', 0); }}), qrNo);
    EXPECT_EQ(Show(qbYesAllNoAllCancel, 1, qlPortuguese, {[](HWND) { PostMessageA(GetFocus(), WM_CHAR, 'a', 0); }}),
              qrNoToAll);
}

TEST(QVMessage, LayoutCaptionTextAndFont) {
    Show(qbOK, 1, qlEnglish,
         {[](HWND dialog) {
             SIZE client = ClientSize96(dialog);
             EXPECT_EQ(client.cx, 410);
             EXPECT_EQ(client.cy, 83);
             EXPECT_EQ(WindowText(dialog), "My caption");
             // The dialog cannot be resized and has no minimize or maximize box.
             LONG style = GetWindowLongA(dialog, GWL_STYLE);
             EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
             HWND label = ChildWithText(dialog, "first\nsecond & third");
             ASSERT_NE(label, nullptr) << "the text is shown unchanged";
             RECT r = ChildBounds(dialog, label);
             EXPECT_EQ(r.left, 49);
             EXPECT_EQ(r.top, 7);
             EXPECT_EQ(FontFaceOf(label), "Tahoma");
             // Centred on the work area.
             RECT work{}, window{};
             SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
             GetWindowRect(dialog, &window);
             EXPECT_LE(std::abs((window.left + window.right) - (work.left + work.right)), 2);
             EXPECT_LE(std::abs((window.top + window.bottom) - (work.top + work.bottom)), 2);
             PressKey(VK_RETURN);
         }},
         "first\nsecond & third", "My caption");
    // An empty caption shows the application title.
    Show(qbOK, 1, qlEnglish,
         {[](HWND dialog) {
             EXPECT_EQ(WindowText(dialog), "Quorvandel Corvantis");
             PressKey(VK_RETURN);
         }},
         "x", "");
}

TEST(QVMessage, FontFaceIsUsedOnlyWhenInstalled) {
    Show(qbOK, 1, qlEnglish,
         {[](HWND dialog) {
             EXPECT_EQ(FontFaceOf(VisibleButtons(dialog)[0]), "Tahoma");
             PressKey(VK_RETURN);
         }},
         "Text", "", qmtInformation, "No Such Face Anywhere");
    std::string other;
    for (const char* face : {"Courier New", "Courier", "MS Sans Serif", "Symbol"}) {
        if (ui::IsFontInstalled(face)) {
            other = face;
            break;
        }
    }
    ASSERT_FALSE(other.empty()) << "no second font installed";
    Show(qbYesNo, 1, qlEnglish,
         {[&](HWND dialog) {
             for (HWND button : VisibleButtons(dialog)) EXPECT_EQ(FontFaceOf(button), other);
             EXPECT_EQ(FontFaceOf(ChildWithText(dialog, "Text")), other);
             PressKey(VK_RETURN);
         }},
         "Text", "", qmtInformation, other);
}

TEST(QVMessage, EachTypeShowsOneStockIcon) {
    const LPCSTR stock[] = {IDI_ERROR, IDI_WARNING, IDI_INFORMATION, IDI_QUESTION};
    for (int type = qmtError; type <= qmtQuestion; ++type) {
        SCOPED_TRACE(type);
        Show(qbOK, 1, qlEnglish,
             {[&](HWND dialog) {
                 std::vector<HWND> icons = VisibleIcons(dialog);
                 ASSERT_EQ(icons.size(), 1u);
                 EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(icons[0], STM_GETICON, 0, 0)),
                           LoadIconA(nullptr, stock[type]));
                 RECT r = ChildBounds(dialog, icons[0]);
                 EXPECT_EQ(r.left, 8);
                 EXPECT_EQ(r.top, 8);
                 if (type == qmtQuestion) SaveShot(dialog, "message-question");
                 PressKey(VK_RETURN);
             }},
             "Icon test", "", static_cast<QVMessageType>(type));
    }
}

TEST(QVMessage, InvalidArgumentsRaiseBeforeAnythingIsShown) {
    auto message = [](QVMessageType type, QVButtons buttons, QVLanguage language) {
        try {
            QVMessage("x", "", type, buttons, 1, language, "");
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(VisibleForms(), 0);
            return std::string(e.what());
        }
        return std::string("<no error>");
    };
    EXPECT_EQ(message(qmtError, qbOK, static_cast<QVLanguage>(2)), "Invalid language id. in call to QVMessage.");
    EXPECT_EQ(message(static_cast<QVMessageType>(4), qbOK, qlEnglish), "Invalid message type in call to QVMessage.");
    EXPECT_EQ(message(qmtError, static_cast<QVButtons>(6), qlEnglish),
              "Invalid button definition in call to QVMessage.");
    // The checks run in order: language, type, buttons.
    EXPECT_EQ(message(static_cast<QVMessageType>(9), static_cast<QVButtons>(9), static_cast<QVLanguage>(9)),
              "Invalid language id. in call to QVMessage.");
    EXPECT_EQ(message(static_cast<QVMessageType>(9), static_cast<QVButtons>(9), qlPortuguese),
              "Invalid message type in call to QVMessage.");
}

TEST(QVMessage, OtherWindowsOfTheThreadAreDisabledWhileShown) {
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 nullptr, nullptr);
    Show(qbOK, 1, qlEnglish, {[&](HWND) {
                                  EXPECT_FALSE(IsWindowEnabled(other));
                                  PressKey(VK_RETURN);
                              }});
    EXPECT_TRUE(IsWindowEnabled(other));
    DestroyWindow(other);
}

}  // namespace
