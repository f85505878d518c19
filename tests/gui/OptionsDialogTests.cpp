// The preferences dialog on its real controls: layout, the options shown and
// stored (read back from the registry), the number boxes, the enabling
// rules, the Explorer box, and Apply, OK, Cancel and Esc.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "common/QVApp.h"
#include "common/QVStrings.h"
#include "options/frmOptions.h"
#include "options/uOptions.h"
#include "options/uShell.h"
#include "resource.h"
#include "support/DialogDriver.h"
#include "support/TestEnv.h"
#include "ui/Application.h"

using namespace testenv;

namespace {

const std::string kAppKey = "Software\\CorvantisTests\\OptionsDialog";
const std::string kOptionsKey = kAppKey + "\\Options";
const std::string kExe = "C:\\CorvantisTests\\Corvantis.exe";

TOptionsDlg* Dlg(HWND dialog) { return dynamic_cast<TOptionsDlg*>(ui::TForm::FromHandle(dialog)); }

DWORD Stored(const char* name) { return ReadDword(HKEY_LOCAL_MACHINE, kOptionsKey, name); }

void SetDefault(const std::string& key, const std::string& data) {
    HKEY hkey = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hkey, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(hkey, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), DWORD(data.size() + 1));
    RegCloseKey(hkey);
}

// Types the characters into the focused control, as WM_CHAR messages.
void Type(const std::string& text) {
    for (char ch : text) PostMessageA(GetFocus(), WM_CHAR, static_cast<unsigned char>(ch), 1);
}

// Focuses the box and selects its text, so that typing replaces it.
void FocusBox(ui::TControl* box) {
    box->SetFocus();
    SendMessageA(box->Handle(), EM_SETSEL, 0, -1);
}

void AltKey(char letter) { PostMessageA(GetFocus(), WM_SYSCHAR, static_cast<unsigned char>(letter), 0x20000001); }

// The program path of these tests does not exist; the judgement of the
// copy is tested on its own.
shell::TCopyVerdict SafeCopy(const std::string&) { return {}; }
shell::TCopyVerdict UnsafeCopy(const std::string& exe) {
    return {false, qv::LoadFmt(IDS_SHELL_UNSAFE_FOLDER, "CorvantisTests"),
            qv::LoadFmt(IDS_SHELL_UNSAFE_DETAILS, "C:\\CorvantisTests", exe)};
}

class OptionsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        shell::CopyJudge = SafeCopy;
        DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
        AppInfo = std::make_unique<TQVApplication>();
        AppInfo->Title = "Quorvandel Corvantis";
        AppInfo->RegistryKey = kAppKey;
        AppInfo->DialogFontName = "Tahoma";
        AppInfo->SetExeName(kExe);
        Options = std::make_unique<TZEPHOptions>();
        ClearShell();
    }
    void TearDown() override {
        ClearShell();
        Options.reset();
        AppInfo.reset();
        DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
        shell::CopyJudge = shell::JudgeProgramCopy;
    }
    static void ClearShell() {
        for (const auto& entry : shell::ShellEntries(kExe)) DeleteTree(HKEY_CLASSES_ROOT, entry.Key);
    }
    // Shows the dialog and runs the steps; counts the take-overs.
    void Run(std::vector<DialogStep> steps) {
        DriveDialog(std::move(steps), [this] { ShowOptionsDialog([this] { ++applied; }); });
    }
    int applied = 0;
};

void ExpectBounds(HWND dialog, ui::TControl* control, RECT expected) {
    RECT r = ChildBounds(dialog, control->Handle());
    EXPECT_EQ(r.left, expected.left) << WindowText(control->Handle());
    EXPECT_EQ(r.top, expected.top) << WindowText(control->Handle());
    EXPECT_EQ(r.right - r.left, expected.right) << WindowText(control->Handle());
    EXPECT_EQ(r.bottom - r.top, expected.bottom) << WindowText(control->Handle());
}

TEST_F(OptionsDialog, LayoutPagesAndMnemonics) {
    Run({[&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             ASSERT_NE(d, nullptr);
             EXPECT_EQ(WindowText(dialog), "Preferences...");
             EXPECT_EQ(ClientSize96(dialog).cx, 370);
             EXPECT_EQ(ClientSize96(dialog).cy, 371);
             EXPECT_EQ(d->HelpContext, 500);
             ExpectBounds(dialog, d->pcOptions, {8, 8, 353, 321});
             ExpectBounds(dialog, d->cmdOK, {120, 336, 75, 25});
             ExpectBounds(dialog, d->cmdCancel, {200, 336, 75, 25});
             ExpectBounds(dialog, d->cmdApply, {280, 336, 75, 25});
             EXPECT_EQ(GetWindowLongA(d->cmdOK->Handle(), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
             EXPECT_EQ(d->pcOptions->ActivePage(), d->tsGeneral);
             EXPECT_TRUE(d->chkShell->Visible());
             EXPECT_FALSE(d->rdStopNever->Visible());
             EXPECT_EQ(FontFaceOf(d->chkSaveWindow->Handle()), "Tahoma");
             SaveShot(dialog, "options-general");
             AltKey('h');
         },
         [&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             EXPECT_EQ(d->pcOptions->ActivePage(), d->tsBatch);
             EXPECT_TRUE(d->rdStopNever->Visible());
             EXPECT_FALSE(d->chkShell->Visible());
             SaveShot(dialog, "options-batch");
             AltKey('f');
         },
         [&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             EXPECT_EQ(d->pcOptions->ActivePage(), d->tsFilesList);
             // Custom colours shown so that the lists are enabled in the picture.
             Click(d->rdColorUseColors->Handle());
             SaveShot(dialog, "options-files");
             AltKey('n');  // the label's letter
         },
         [&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             EXPECT_EQ(GetFocus(), d->cbFontName->Handle());
             AltKey('t');
         },
         [&](HWND dialog) {
             EXPECT_EQ(GetFocus(), Dlg(dialog)->cbTextColor->Handle());
             AltKey('w');  // a radio button's letter
         },
         [&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             EXPECT_TRUE(d->rdColorDefaultWindows->Checked());
             EXPECT_FALSE(d->cbTextColor->Enabled()) << "the colour lists follow the radio buttons";
             EXPECT_FALSE(d->lblBackColor->Enabled());
             ReleaseKey(VK_ESCAPE);
         }});
    EXPECT_EQ(applied, 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kOptionsKey)) << "Esc stores nothing";
}

// Every page is one colour: the insides of the group boxes and the
// backgrounds of the labels, check boxes and radio buttons are painted in the
// colour the tab control gives its page, with no strip of another colour.
TEST_F(OptionsDialog, EveryPageIsPaintedInTheTabControlsColour) {
    auto check = [](HWND dialog, int page) {
        TOptionsDlg* d = Dlg(dialog);
        d->pcOptions->SetActivePage(page);
        std::vector<POINT> points;
        std::vector<std::string> names;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            char className[16] = "";
            GetClassNameA(child, className, sizeof className);
            const bool isButton = lstrcmpiA(className, "Button") == 0;
            const LONG type = GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK;
            if (!IsWindowVisible(child) || child == d->pcOptions->Handle()) continue;
            if (!(isButton && type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON) &&
                lstrcmpiA(className, "Static") != 0) {
                continue;
            }
            RECT r{};
            GetWindowRect(child, &r);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
            // The top row of a caption's cell holds no letter; inside a group
            // box, a point just within its lower left corner holds no control.
            POINT at{r.left + 1, r.top};
            if (isButton && type == BS_GROUPBOX) at = POINT{r.left + 5, r.bottom - 6};
            points.push_back(at);
            names.push_back(WindowText(child));
        }
        const std::vector<COLORREF> colours = ScreenPixels(dialog, points);
        for (size_t i = 0; i < colours.size(); ++i) {
            EXPECT_EQ(colours[i], d->pcOptions->PageColor()) << "page " << page << ": " << names[i];
        }
    };
    Run({[&](HWND dialog) {
        TOptionsDlg* d = Dlg(dialog);
        for (int page : {d->tsGeneral, d->tsBatch, d->tsFilesList}) check(dialog, page);
        Click(d->cmdCancel->Handle());
    }});
}

TEST_F(OptionsDialog, TheFontAndColourLists) {
    Run({[&](HWND dialog) {
        TOptionsDlg* d = Dlg(dialog);
        std::vector<std::string> names = d->cbFontName->Names();
        ASSERT_FALSE(names.empty());
        for (size_t i = 1; i < names.size(); ++i) EXPECT_LT(lstrcmpiA(names[i - 1].c_str(), names[i].c_str()), 0);
        for (const std::string& name : names) EXPECT_NE(name, "Symbol") << "no symbol fonts";
        EXPECT_EQ(d->cbFontName->SelectedName(), "Tahoma");
        EXPECT_EQ(SendMessageA(d->cbTextColor->Handle(), CB_GETCOUNT, 0, 0), 20 + 25);
        EXPECT_EQ(d->cbTextColor->SelectedColor(), 0x000000u);
        EXPECT_EQ(d->cbBackColor->SelectedColor(), 0xFFFFFFu);
        Click(d->cmdCancel->Handle());
    }});
}

struct StoredCase {
    const char* name;
    std::function<void(TZEPHOptions&)> before;
    std::function<void(TOptionsDlg&)> shown;
    std::function<void()> stored;
};

class OptionsDialogStored : public OptionsDialog, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(OptionsDialogStored, ShownThenStoredByOk) {
    const StoredCase& c = GetParam();
    c.before(*Options);
    Run({[&](HWND dialog) {
        c.shown(*Dlg(dialog));
        Click(Dlg(dialog)->cmdOK->Handle());
    }});
    EXPECT_EQ(applied, 1);
    c.stored();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionsDialogStored,
    ::testing::Values(
        StoredCase{"IntervalAboveRange", [](TZEPHOptions& o) { o.AutoSaveInterval = 30; },
                   [](TOptionsDlg& d) {
                       EXPECT_EQ(d.txtAutoSaveInterval->Text(), "10");
                       EXPECT_FALSE(d.txtAutoSaveInterval->Enabled());
                   },
                   [] { EXPECT_EQ(Stored("AutoSaveInterval"), 10u); }},
        StoredCase{"MaxErrorsBelowRange", [](TZEPHOptions& o) { o.MaxErrors = -3; o.StopAfter = stopAfterN; },
                   [](TOptionsDlg& d) {
                       EXPECT_EQ(d.txtStopAfter->Text(), "1");
                       EXPECT_TRUE(d.txtStopAfter->Enabled());
                       EXPECT_TRUE(d.rdStopAfterN->Checked());
                   },
                   [] {
                       EXPECT_EQ(Stored("MaxErrors"), 1u);
                       EXPECT_EQ(Stored("StopAfter"), 1u);
                   }},
        StoredCase{"UnknownStopAfter", [](TZEPHOptions& o) { o.StopAfter = static_cast<TStopAfter>(5); },
                   [](TOptionsDlg& d) {
                       EXPECT_FALSE(d.rdStopNever->Checked() || d.rdStopAfterFirst->Checked() || d.rdStopAfterN->Checked());
                       EXPECT_FALSE(d.txtStopAfter->Enabled());
                   },
                   [] { EXPECT_EQ(Stored("StopAfter"), 1u); }},
        StoredCase{"FontNotOffered", [](TZEPHOptions& o) { o.FontName = "No Such Face"; },
                   [](TOptionsDlg& d) { EXPECT_EQ(d.cbFontName->SelectedName(), ""); },
                   [] { EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kOptionsKey, "FontName"), ""); }},
        StoredCase{"CustomColourKept",
                   [](TZEPHOptions& o) { o.ColorDefault = false; o.TextColor = 0x123456; o.BackgroundColor = 0xFF000000; },
                   [](TOptionsDlg& d) {
                       EXPECT_EQ(d.cbTextColor->SelectedColor(), std::nullopt);
                       EXPECT_EQ(d.cbBackColor->SelectedColor(), std::nullopt);
                       EXPECT_TRUE(d.cbTextColor->Enabled());
                   },
                   [] {
                       EXPECT_EQ(Stored("TextColor"), 0x123456u);
                       EXPECT_EQ(Stored("BackgroundColor"), 0xFF000000u);
                       EXPECT_EQ(Stored("ColorDefault"), 0u);
                   }},
        StoredCase{"SystemColour", [](TZEPHOptions& o) { o.TextColor = 0x80000008; o.Backup = true; },
                   [](TOptionsDlg& d) {
                       EXPECT_EQ(d.cbTextColor->Text(), "Window Text");
                       EXPECT_FALSE(d.cbTextColor->Enabled());
                       EXPECT_TRUE(d.chkBackup->Checked());
                   },
                   [] {
                       EXPECT_EQ(Stored("TextColor"), 0x80000008u);
                       EXPECT_EQ(Stored("Backup"), 1u);
                       EXPECT_EQ(Stored("ShowTips"), 1u);
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

struct TypedCase {
    const char* name;
    std::string typed;  // replaces the box's text; "^" presses the up arrow
    WORD confirm;       // VK_RETURN stores with the focus in the box; VK_TAB leaves it first
    const char* shown;  // the box's text after the store
    DWORD stored;
};

class OptionsDialogTyped : public OptionsDialog, public ::testing::WithParamInterface<TypedCase> {};

TEST_P(OptionsDialogTyped, TheIntervalBox) {
    const TypedCase& c = GetParam();
    Options->AutoSave = true;
    std::vector<DialogStep> steps{[&](HWND dialog) {
                                      FocusBox(Dlg(dialog)->txtAutoSaveInterval);
                                      if (c.typed == "^") PressKey(VK_UP);
                                      else Type(c.typed);
                                  },
                                  [&](HWND) { PressKey(c.confirm); }};
    // Enter presses OK with the focus still in the box; Tab leaves the box
    // first, and OK follows.
    if (c.confirm == VK_TAB) {
        steps.push_back([&](HWND dialog) {
            EXPECT_EQ(Dlg(dialog)->txtAutoSaveInterval->Text(), c.shown) << "leaving the box";
            Click(Dlg(dialog)->cmdOK->Handle());
        });
    }
    Run(steps);
    EXPECT_EQ(Stored("AutoSaveInterval"), c.stored);
    EXPECT_EQ(Options->AutoSaveInterval, static_cast<int>(c.stored));
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionsDialogTyped,
                         ::testing::Values(TypedCase{"InRangeByEnter", "7", VK_RETURN, "7", 7},
                                           TypedCase{"AboveRangeByEnter", "25", VK_RETURN, "10", 10},
                                           TypedCase{"BelowRangeByEnter", "-2", VK_RETURN, "1", 1},
                                           TypedCase{"ZeroLeftByTab", "0", VK_TAB, "1", 1},
                                           TypedCase{"LettersRefused", "a8b", VK_RETURN, "8", 8},
                                           TypedCase{"UpArrowSteps", "^", VK_RETURN, "6", 6}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
    const char* name;
    std::string text;
    bool stopBox;
    const char* field;
};

class OptionsDialogBad : public OptionsDialog, public ::testing::WithParamInterface<BadCase> {};

TEST_P(OptionsDialogBad, WarnsKeepsTheDialogAndChangesNothing) {
    const BadCase& c = GetParam();
    Options->AutoSave = true;
    Options->StopAfter = stopAfterN;
    std::string message;
    HWND dialogHandle = nullptr;
    Run({[&](HWND dialog) {
             dialogHandle = dialog;
             TOptionsDlg* d = Dlg(dialog);
             Click(d->chkBackup->Handle());  // a change made before the refused store
             (c.stopBox ? d->txtStopAfter : d->txtAutoSaveInterval)->SetText(c.text);
             Click(d->cmdOK->Handle());
         },
         WaitUntil([&] { return GetActiveWindow() != dialogHandle && IsWindowVisible(GetActiveWindow()); }),
         [&](HWND warning) {
             for (HWND child = GetWindow(warning, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                 message += WindowText(child) + "\n";
             }
             PressKey(VK_RETURN);
         },
         WaitUntil([&] { return GetActiveWindow() == dialogHandle; }),
         [&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             ASSERT_NE(d, nullptr) << "the dialog stays open";
             ui::TSpinEdit* box = c.stopBox ? d->txtStopAfter : d->txtAutoSaveInterval;
             EXPECT_EQ(GetFocus(), box->Handle());
             EXPECT_EQ(d->pcOptions->ActivePage(), c.stopBox ? d->tsBatch : d->tsGeneral);
             Click(d->cmdCancel->Handle());
         }});
    EXPECT_NE(message.find(c.field), std::string::npos) << message;
    EXPECT_NE(message.find("'" + c.text + "'"), std::string::npos) << message;
    EXPECT_EQ(applied, 0);
    EXPECT_FALSE(Options->Backup) << "nothing was copied";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kOptionsKey)) << "nothing was saved";
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionsDialogBad,
                         ::testing::Values(BadCase{"EmptyStopAfter", "", true, "Stop after"},
                                           BadCase{"SignOnlyStopAfter", "-", true, "Stop after"},
                                           BadCase{"SignInsideInterval", "4-", false, "Auto save after"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OptionsDialog, EnablingFollowsTheBoxAndTheRadioButtons) {
    Run({[&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             EXPECT_FALSE(d->txtAutoSaveInterval->Enabled());
             EXPECT_FALSE(IsWindowEnabled(d->txtAutoSaveInterval->UpDown()));
             Click(d->chkAutoSave->Handle());
         },
         [&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             EXPECT_TRUE(d->txtAutoSaveInterval->Enabled());
             EXPECT_TRUE(IsWindowEnabled(d->txtAutoSaveInterval->UpDown()));
             EXPECT_TRUE(d->rdStopNever->Checked());
             EXPECT_FALSE(d->txtStopAfter->Enabled());
             d->pcOptions->SetActivePage(d->tsBatch);
             Click(d->rdStopAfterN->Handle());
         },
         [&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             EXPECT_TRUE(d->txtStopAfter->Enabled());
             EXPECT_FALSE(d->rdStopNever->Checked()) << "one radio button of the group";
             Click(d->rdStopAfterFirst->Handle());
         },
         [&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             EXPECT_FALSE(d->txtStopAfter->Enabled());
             Click(d->cmdOK->Handle());
         }});
    EXPECT_EQ(Stored("AutoSave"), 1u);
    EXPECT_EQ(Stored("StopAfter"), 0u);
}

TEST_F(OptionsDialog, CancelAfterApplyKeepsWhatApplyStored) {
    Run({[&](HWND dialog) { Click(Dlg(dialog)->chkBackup->Handle()); },
         [&](HWND dialog) { Click(Dlg(dialog)->cmdApply->Handle()); },
         [&](HWND dialog) {
             EXPECT_EQ(applied, 1);
             EXPECT_EQ(Stored("Backup"), 1u);
             Click(Dlg(dialog)->chkBackup->Handle());
         },
         [&](HWND dialog) { Click(Dlg(dialog)->cmdApply->Handle()); },
         [&](HWND dialog) {
             EXPECT_EQ(Stored("Backup"), 0u) << "a second Apply stores again";
             Click(Dlg(dialog)->chkBackup->Handle());
         },
         [&](HWND dialog) { Click(Dlg(dialog)->cmdCancel->Handle()); }});
    EXPECT_EQ(applied, 2);
    EXPECT_EQ(Stored("Backup"), 0u);
    EXPECT_FALSE(Options->Backup);
}

struct ShellCase {
    const char* name;
    int ourEntries;      // how many of our ten entries exist before
    bool foreignVerb;    // a verb of the same program name in another folder
    ui::TCheckState shown;
    int clicks;          // clicks on the box before OK
    int stateAfter;
};

class OptionsDialogShell : public OptionsDialog, public ::testing::WithParamInterface<ShellCase> {};

TEST_P(OptionsDialogShell, TheExplorerBox) {
    const ShellCase& c = GetParam();
    auto entries = shell::ShellEntries(kExe);
    auto foreign = shell::ShellEntries("D:\\Elsewhere\\Corvantis.exe");
    for (int i = 0; i < c.ourEntries; ++i) SetDefault(entries[i].Key, entries[i].Data);
    if (c.foreignVerb) SetDefault(foreign[0].Key, foreign[0].Data);
    Run({[&](HWND dialog) {
             EXPECT_EQ(Dlg(dialog)->chkShell->State(), c.shown);
             for (int i = 0; i < c.clicks; ++i) Click(Dlg(dialog)->chkShell->Handle());
         },
         [&](HWND dialog) {
             if (c.clicks > 0) {
                 EXPECT_NE(Dlg(dialog)->chkShell->State(), ui::cbGrayed) << "the user cannot choose it";
             }
             Click(Dlg(dialog)->cmdOK->Handle());
         }});
    EXPECT_EQ(GetShellExtensionState(), c.stateAfter);
    if (c.foreignVerb && c.stateAfter == 0) {
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, foreign[0].Key, ""), foreign[0].Data)
            << "another installation's entry is not ours to delete";
    }
    DeleteTree(HKEY_CLASSES_ROOT, foreign[0].Key);
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionsDialogShell,
                         ::testing::Values(ShellCase{"PartlyInstalledOkRemoves", 3, false, ui::cbGrayed, 0, 0},
                                           ShellCase{"PartlyInstalledClickInstalls", 3, false, ui::cbGrayed, 1, 2},
                                           ShellCase{"InstalledUncheckRemoves", 10, false, ui::cbChecked, 1, 0},
                                           ShellCase{"NoneStaysNone", 0, false, ui::cbUnchecked, 2, 0},
                                           ShellCase{"ForeignEntryUntouched", 0, true, ui::cbUnchecked, 0, 0},
                                           ShellCase{"CheckInstalls", 0, false, ui::cbUnchecked, 1, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OptionsDialog, ACopyUsersCouldChangeGetsNoExplorerCommands) {
    shell::CopyJudge = UnsafeCopy;
    std::string message;
    HWND dialogHandle = nullptr;
    Run({[&](HWND dialog) {
             dialogHandle = dialog;
             Click(Dlg(dialog)->chkBackup->Handle());
             Click(Dlg(dialog)->chkShell->Handle());
             Click(Dlg(dialog)->cmdApply->Handle());
         },
         WaitUntil([&] { return GetActiveWindow() != dialogHandle && IsWindowVisible(GetActiveWindow()); }),
         [&](HWND warning) {
             for (HWND child = GetWindow(warning, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                 message += WindowText(child) + "\n";
             }
             SaveShot(warning, "options-shell-refused");
             PressKey(VK_RETURN);
         },
         WaitUntil([&] { return GetActiveWindow() == dialogHandle; }),
         [&](HWND dialog) {
             EXPECT_EQ(Dlg(dialog)->chkShell->State(), ui::cbUnchecked) << "the box shows what was done";
             Click(Dlg(dialog)->cmdCancel->Handle());
         }});
    EXPECT_NE(message.find("users without administrator rights can change the folder 'CorvantisTests'."),
              std::string::npos)
        << message;
    EXPECT_EQ(GetShellExtensionState(), 0);
    EXPECT_EQ(Stored("Backup"), 1u) << "the other options are stored all the same";
}

// The font list names the files list's font, also a face it does not offer
// (not TrueType, or not of the ANSI set).
TEST_F(OptionsDialog, TheFontListShowsTheFontInUse) {
    for (const char* face : {"Tahoma", "Courier", "Marlett"}) {
        if (!ui::IsFontInstalled(face)) continue;
        Options->FontName = face;
        Run({[&](HWND dialog) {
            EXPECT_EQ(lstrcmpiA(Dlg(dialog)->cbFontName->SelectedName().c_str(), face), 0) << face;
            Click(Dlg(dialog)->cmdOK->Handle());
        }});
        EXPECT_EQ(lstrcmpiA(ReadString(HKEY_LOCAL_MACHINE, kOptionsKey, "FontName").c_str(), face), 0) << face;
    }
}

}  // namespace

// Enter and Esc in an open drop-down list belong to the list: Esc closes it
// keeping the previous choice, Enter takes the highlighted entry, and only
// the next Enter presses OK.
struct DropDownCase {
    const char* name;
    std::function<ui::TControl*(TOptionsDlg&)> list;
    const char* value;  // the option's registry value
    bool text;          // stored as the entry's text, else as its colour value
};

void PrintTo(const DropDownCase& c, std::ostream* os) { *os << c.name; }

class OptionsDialogDropDown : public OptionsDialog, public ::testing::WithParamInterface<DropDownCase> {};

TEST_P(OptionsDialogDropDown, EnterAndEscCloseAnOpenListFirst) {
    const DropDownCase& c = GetParam();
    Options->ColorDefault = false;  // the colour lists enabled
    const TZEPHOptions before = *Options;
    HWND list = nullptr;
    LRESULT first = CB_ERR;
    char chosenText[LF_FACESIZE] = {};
    DWORD chosenColor = 0;
    auto dropped = [&] { return SendMessageA(list, CB_GETDROPPEDSTATE, 0, 0) != 0; };
    auto selected = [&] { return SendMessageA(list, CB_GETCURSEL, 0, 0); };
    auto open = [&](HWND) { PressKey(VK_F4); };
    // The neighbour of the first choice: the next entry, or the one before the last.
    WORD step = VK_DOWN;
    LRESULT other = CB_ERR;
    auto move = [&](HWND) {
        EXPECT_TRUE(dropped());
        PressKey(step);
    };
    Run({[&](HWND dialog) {
             TOptionsDlg* d = Dlg(dialog);
             // The pointer off the dialog, where the open list cannot follow it.
             SetCursorPos(0, 0);
             d->pcOptions->SetActivePage(d->tsFilesList);
             list = c.list(*d)->Handle();
             first = selected();
             ASSERT_NE(first, CB_ERR);
             bool last = first + 1 == SendMessageA(list, CB_GETCOUNT, 0, 0);
             step = last ? VK_UP : VK_DOWN;
             other = last ? first - 1 : first + 1;
             SetFocus(list);
             PressKey(VK_F4);
         },
         move,
         [&](HWND) {
             EXPECT_EQ(selected(), other) << "the list follows the arrow key";
             PressKey(VK_ESCAPE);
         },
         [&](HWND dialog) {
             EXPECT_TRUE(IsWindowVisible(dialog)) << "Esc closed the dialog";
             EXPECT_FALSE(dropped());
             EXPECT_EQ(selected(), first) << "Esc keeps the previous choice";
             EXPECT_EQ(GetFocus(), list);
         },
         open, move, [&](HWND) { PressKey(VK_RETURN); },
         [&](HWND dialog) {
             EXPECT_TRUE(IsWindowVisible(dialog)) << "Enter pressed OK";
             EXPECT_FALSE(dropped());
             EXPECT_EQ(selected(), other) << "Enter takes the highlighted entry";
             EXPECT_EQ(applied, 0);
             EXPECT_EQ(Options->FontName, before.FontName);
             EXPECT_EQ(Options->TextColor, before.TextColor);
             EXPECT_EQ(Options->BackgroundColor, before.BackgroundColor);
             SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(other), reinterpret_cast<LPARAM>(chosenText));
             chosenColor = static_cast<DWORD>(SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(other), 0));
             PressKey(VK_RETURN);
         }});
    EXPECT_EQ(applied, 1) << "the second Enter presses OK";
    if (c.text) {
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kOptionsKey, c.value, ""), chosenText);
    } else {
        EXPECT_EQ(Stored(c.value), chosenColor);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionsDialogDropDown,
    ::testing::Values(
        DropDownCase{"FontName", [](TOptionsDlg& d) -> ui::TControl* { return d.cbFontName; }, "FontName", true},
        DropDownCase{"TextColor", [](TOptionsDlg& d) -> ui::TControl* { return d.cbTextColor; }, "TextColor", false},
        DropDownCase{"BackColor", [](TOptionsDlg& d) -> ui::TControl* { return d.cbBackColor; }, "BackgroundColor",
                     false}),
    [](const ::testing::TestParamInfo<DropDownCase>& info) { return std::string(info.param.name); });
