// The details dialog, shown for real: heights, the Details toggle, keys,
// captions in both languages and the text rules.
#include <gtest/gtest.h>

#include <stdexcept>

#include "common/QVMsgDetailsFrm.h"
#include "support/DialogDriver.h"

using namespace testenv;

namespace {

void Show(std::vector<DialogStep> steps, const std::string& text, const std::string& details, bool showDetails,
          QVLanguage language = qlEnglish, QVDetailsType type = qdtWarning, const std::string& caption = "Caption") {
    DriveDialog(std::move(steps),
                [&] { QVMessageDetails(text, details, caption, type, language, "Tahoma", showDetails); });
}

HWND DetailsButton(HWND dialog) {
    for (const char* text : {"&Details >>", "&Details <<", "&Detalhes >>", "&Detalhes <<"}) {
        if (HWND button = ChildWithText(dialog, text)) return button;
    }
    return nullptr;
}

HWND Memo(HWND dialog) {
    HWND child = nullptr;
    while ((child = FindWindowExA(dialog, child, "Edit", nullptr))) return child;
    return nullptr;
}

TEST(QVMessageDetails, LayoutWithThePaneClosed) {
    Show({[](HWND dialog) {
             EXPECT_EQ(OuterHeight96(dialog), 102);
             EXPECT_EQ(ClientSize96(dialog).cx, 409);
             EXPECT_EQ(WindowText(dialog), "Caption");
             HWND ok = ChildWithText(dialog, "&OK");
             ASSERT_NE(ok, nullptr);
             RECT r = ChildBounds(dialog, ok);
             EXPECT_EQ(r.left, 326);
             EXPECT_EQ(r.top, 8);
             EXPECT_EQ(r.right - r.left, 75);
             HWND details = DetailsButton(dialog);
             ASSERT_NE(details, nullptr);
             EXPECT_EQ(WindowText(details), "&Details >>");
             EXPECT_TRUE(IsWindowVisible(details));
             r = ChildBounds(dialog, details);
             EXPECT_EQ(r.left, 326);
             EXPECT_EQ(r.top, 40);
             HWND label = ChildWithText(dialog, "Something failed.");
             ASSERT_NE(label, nullptr);
             r = ChildBounds(dialog, label);
             EXPECT_EQ(r.left, 48);
             EXPECT_EQ(r.top, 8);
             EXPECT_EQ(r.right - r.left, 257);
             EXPECT_EQ(r.bottom - r.top, 65);
             HWND memo = Memo(dialog);
             ASSERT_NE(memo, nullptr);
             r = ChildBounds(dialog, memo);
             EXPECT_EQ(r.left, 8);
             EXPECT_EQ(r.top, 80);
             EXPECT_EQ(r.right - r.left, 393);
             EXPECT_EQ(r.bottom - r.top, 100);
             EXPECT_TRUE(GetWindowLongA(memo, GWL_STYLE) & ES_READONLY);
             EXPECT_EQ(GetFocus(), ok);
             SaveShot(dialog, "details-closed-en");
             PressKey(VK_RETURN);
         }},
         "Something failed.", "The technical reason.", false);
}

TEST(QVMessageDetails, DetailsButtonTogglesThePane) {
    Show({[](HWND dialog) { Click(DetailsButton(dialog)); },
          [](HWND dialog) {
              EXPECT_EQ(OuterHeight96(dialog), 212);
              EXPECT_EQ(WindowText(DetailsButton(dialog)), "&Details <<");
              SaveShot(dialog, "details-open-en");
              Click(DetailsButton(dialog));
          },
          [](HWND dialog) {
              EXPECT_EQ(OuterHeight96(dialog), 102);
              EXPECT_EQ(WindowText(DetailsButton(dialog)), "&Details >>");
              Click(ChildWithText(dialog, "&OK"));
          }},
         "Text", "Details", false);
}

TEST(QVMessageDetails, ShowDetailsOpensThePaneOnlyWhenThereAreDetails) {
    Show({[](HWND dialog) {
             EXPECT_EQ(OuterHeight96(dialog), 212);
             EXPECT_EQ(WindowText(DetailsButton(dialog)), "&Details <<");
             ReleaseKey(VK_ESCAPE);
         }},
         "Text", "Details", true);
    Show({[](HWND dialog) {
             EXPECT_EQ(OuterHeight96(dialog), 102);
             HWND details = DetailsButton(dialog);
             EXPECT_TRUE(details == nullptr || !IsWindowVisible(details));
             EXPECT_EQ(VisibleButtons(dialog).size(), 1u);
             SaveShot(dialog, "details-none-en");
             PressKey(VK_RETURN);
         }},
         "No details here.", "", true);
}

TEST(QVMessageDetails, PortugueseCaptions) {
    Show({[](HWND dialog) {
             EXPECT_NE(ChildWithText(dialog, "&OK"), nullptr);
             EXPECT_EQ(WindowText(DetailsButton(dialog)), "&Detalhes >>");
             SaveShot(dialog, "details-closed-pt");
             Click(DetailsButton(dialog));
         },
          [](HWND dialog) {
              EXPECT_EQ(WindowText(DetailsButton(dialog)), "&Detalhes <<");
              SaveShot(dialog, "details-open-pt");
              // The click moved the focus to the Details button, so Enter
              // would press it again.
              EXPECT_EQ(GetFocus(), DetailsButton(dialog));
              Click(ChildWithText(dialog, "&OK"));
          }},
         "Falhou.", "Motivo t\xC3\xA9" "cnico.", false, qlPortuguese);
}

TEST(QVMessageDetails, EnterEscapeAndCloseBoxClose) {
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        Show({[way](HWND dialog) {
                 if (way == 0) PressKey(VK_RETURN);
                 if (way == 1) ReleaseKey(VK_ESCAPE);
                 if (way == 2) PostMessageA(dialog, WM_CLOSE, 0, 0);
             }},
             "Text", "Details", false);
    }
    // Enter on the memo presses OK, the default button.
    Show({[](HWND dialog) { Click(DetailsButton(dialog)); }, [](HWND dialog) { SetFocus(Memo(dialog)); },
          [](HWND) { PressKey(VK_RETURN); }},
         "Text", "Details", false);
}

TEST(QVMessageDetails, TabReachesTheMemoOnlyWhileThePaneIsOpen) {
    Show({[](HWND) { PressKey(VK_TAB); },
          [](HWND dialog) {
              EXPECT_EQ(GetFocus(), DetailsButton(dialog));
              PressKey(VK_TAB);
          },
          [](HWND dialog) {
              EXPECT_EQ(GetFocus(), ChildWithText(dialog, "&OK"));
              Click(DetailsButton(dialog));
          },
          [](HWND) { PressKey(VK_TAB); },
          [](HWND dialog) {
              EXPECT_EQ(GetFocus(), Memo(dialog));
              PressKey(VK_RETURN);
          }},
         "Text", "Details", false);
}

TEST(QVMessageDetails, TextsPassThroughNormalizeLineBreaks) {
    Show({[](HWND dialog) {
             EXPECT_NE(ChildWithText(dialog, "a\r\nb"), nullptr);
             EXPECT_EQ(WindowText(Memo(dialog)), "one\r\ntwo\r\nthree");
             PressKey(VK_RETURN);
         }},
         "a\nb", "one\ntwo\r\nthree\n", false);
}

TEST(QVMessageDetails, EachTypeShowsOneStockIcon) {
    const LPCSTR stock[] = {IDI_ERROR, IDI_WARNING, IDI_INFORMATION};
    for (int type = qdtCritical; type <= qdtInformation; ++type) {
        SCOPED_TRACE(type);
        Show({[&](HWND dialog) {
                 std::vector<HWND> icons = VisibleIcons(dialog);
                 ASSERT_EQ(icons.size(), 1u);
                 EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(icons[0], STM_GETICON, 0, 0)),
                           LoadIconA(nullptr, stock[type]));
                 PressKey(VK_RETURN);
             }},
             "Text", "", false, qlEnglish, static_cast<QVDetailsType>(type), "");
    }
    Show({[](HWND dialog) {
             EXPECT_EQ(WindowText(dialog), "Quorvandel Corvantis");
             PressKey(VK_RETURN);
         }},
         "Text", "", false, qlEnglish, qdtInformation, "");
}

TEST(QVMessageDetails, InvalidArgumentsRaiseBeforeAnythingIsShown) {
    auto message = [](QVDetailsType type, QVLanguage language) {
        try {
            QVMessageDetails("x", "y", "", type, language, "", false);
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(VisibleForms(), 0);
            return std::string(e.what());
        }
        return std::string("<no error>");
    };
    EXPECT_EQ(message(static_cast<QVDetailsType>(3), qlEnglish),
              "Invalid message type in call to QVMessageDetails.");
    EXPECT_EQ(message(qdtWarning, static_cast<QVLanguage>(2)), "Invalid language id. in call to QVMessageDetails.");
    EXPECT_EQ(message(static_cast<QVDetailsType>(3), static_cast<QVLanguage>(2)),
              "Invalid language id. in call to QVMessageDetails.");
}

}  // namespace
