#include "options/frmOptions.h"

#include <algorithm>
#include <cctype>

#include "common/QVApp.h"
#include "common/QVHelpUtils.h"
#include "common/QVMsgDetailsFrm.h"
#include "common/QVMsgFrm.h"
#include "common/QVStrings.h"
#include "options/uOptions.h"
#include "options/uShell.h"
#include "resource.h"
#include "ui/ActionMenus.h"

namespace {

constexpr int kNumberMin = 1;
constexpr int kNumberMax = 10;

// The box's look for an integration state of GetShellExtensionState.
ui::TCheckState ShellState(int state) {
    return state == 2 ? ui::cbChecked : state == 1 ? ui::cbGrayed : ui::cbUnchecked;
}

}  // namespace

TOptionsDlg::TOptionsDlg(std::function<void()> applied) : applied_(std::move(applied)) {
    CreateForm("Preferences...", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME);
    SetClientSize(370, 371);
    KeyPreview = true;
    HelpContext = hcPreferences;

    pcOptions = Add<ui::TTabControl>(ui::TBounds{8, 8, 353, 321});
    tsGeneral = pcOptions->AddPage("  &General  ");
    tsBatch = pcOptions->AddPage("  Batc&h Operations ");
    tsFilesList = pcOptions->AddPage("  &Files List  ");
    const ui::TBounds page = pcOptions->PageBounds();
    // Positions inside a page, at 96 DPI from the page's top left corner.
    auto at = [&page](int left, int top, int width, int height) {
        return ui::TBounds{page.left + left, page.top + top, width, height};
    };
    const int groupWidth = page.width - 16;
    std::vector<std::pair<int, ui::TControl*>> placed;  // page and control, in tab order
    auto put = [&placed](int pageIndex, auto* control) {
        placed.emplace_back(pageIndex, control);
        return control;
    };

    gbGeneral = put(tsGeneral, Add<ui::TGroupBox>(" Application ", at(8, 6, groupWidth, 46)));
    chkSaveWindow = put(tsGeneral, Add<ui::TCheckBox>("&Save window properties", at(20, 24, 300, 17)));
    gbStartup = put(tsGeneral, Add<ui::TGroupBox>(" Startup ", at(8, 58, groupWidth, 46)));
    chkAutoOpenLastBatch = put(tsGeneral, Add<ui::TCheckBox>("A&uto open last batch file", at(20, 76, 300, 17)));
    gbSave = put(tsGeneral, Add<ui::TGroupBox>(" Save options ", at(8, 110, groupWidth, 72)));
    chkBackup = put(tsGeneral, Add<ui::TCheckBox>("&Backup batch files", at(20, 128, 300, 17)));
    chkAutoSave = put(tsGeneral, Add<ui::TCheckBox>("Au&to save after:", at(20, 153, 104, 17)));
    txtAutoSaveInterval = put(tsGeneral, Add<ui::TSpinEdit>(at(128, 151, 49, 21), kNumberMin, kNumberMax));
    lblMins = put(tsGeneral, Add<ui::TLabel>("mins.", at(184, 155, 60, 13)));
    gbSystem = put(tsGeneral, Add<ui::TGroupBox>(" System ", at(8, 188, groupWidth, 46)));
    chkShell = put(tsGeneral, Add<ui::TStateCheckBox>("Use Shell e&xtension", at(20, 206, 300, 17)));

    gbStopAfter = put(tsBatch, Add<ui::TGroupBox>(" Execution Errors ", at(8, 6, groupWidth, 98)));
    rdStopNever = put(tsBatch, Add<ui::TRadioButton>("Do&n't stop", at(20, 24, 300, 17)));
    rdStopAfterFirst = put(tsBatch, Add<ui::TRadioButton>("Stop aft&er first error", at(20, 48, 300, 17)));
    rdStopAfterN = put(tsBatch, Add<ui::TRadioButton>("S&top after:", at(20, 74, 80, 17)));
    txtStopAfter = put(tsBatch, Add<ui::TSpinEdit>(at(104, 72, 49, 21), kNumberMin, kNumberMax));
    lblErrors = put(tsBatch, Add<ui::TLabel>("error(s)", at(160, 76, 80, 13)));
    gbRegisterAll = put(tsBatch, Add<ui::TGroupBox>(" When performing batch registration... ", at(8, 110, groupWidth, 46)));
    chkUnregisterBefore = put(tsBatch, Add<ui::TCheckBox>("&Unregister all files before registering", at(20, 128, 300, 17)));

    gbListFont = put(tsFilesList, Add<ui::TGroupBox>(" Files List font ", at(8, 6, groupWidth, 52)));
    lblFontName = put(tsFilesList, Add<ui::TFocusLabel>("Fo&nt name:", at(20, 28, 96, 13)));
    cbFontName = put(tsFilesList, Add<ui::TFontComboBox>(at(120, 24, 200, 240)));
    gbListColors = put(tsFilesList, Add<ui::TGroupBox>(" Files List colors ", at(8, 64, groupWidth, 124)));
    rdColorDefaultWindows = put(tsFilesList, Add<ui::TRadioButton>("Use &Windows defaults", at(20, 82, 300, 17)));
    rdColorUseColors = put(tsFilesList, Add<ui::TRadioButton>("C&ustomize colors:", at(20, 106, 300, 17)));
    lblTextColor = put(tsFilesList, Add<ui::TFocusLabel>("&Text color:", at(36, 134, 100, 13)));
    cbTextColor = put(tsFilesList, Add<ui::TColorComboBox>(at(140, 130, 180, 240)));
    lblBackColor = put(tsFilesList, Add<ui::TFocusLabel>("&Background color:", at(36, 160, 100, 13)));
    cbBackColor = put(tsFilesList, Add<ui::TColorComboBox>(at(140, 156, 180, 240)));
    lblFontName->FocusControl = cbFontName;
    lblTextColor->FocusControl = cbTextColor;
    lblBackColor->FocusControl = cbBackColor;

    cmdOK = Add<ui::TButton>("&OK", ui::TBounds{120, 336, 75, 25});
    cmdCancel = Add<ui::TButton>("&Cancel", ui::TBounds{200, 336, 75, 25});
    cmdApply = Add<ui::TButton>("&Apply", ui::TBounds{280, 336, 75, 25});
    SetDefaultButton(cmdOK);

    ui::TRadioButton::Group({rdStopNever, rdStopAfterFirst, rdStopAfterN});
    ui::TRadioButton::Group({rdColorDefaultWindows, rdColorUseColors});
    chkAutoSave->OnClick = [this] { chkAutoSaveClick(); };
    for (ui::TRadioButton* rd : {rdStopNever, rdStopAfterFirst, rdStopAfterN}) rd->OnClick = [this] { rdStopAfterNClick(); };
    for (ui::TRadioButton* rd : {rdColorDefaultWindows, rdColorUseColors}) {
        rd->OnClick = [this] { rdColorDefaultWindowsClick(); };
    }
    cmdOK->OnClick = [this] { cmdOKClick(); };
    cmdCancel->OnClick = [this] { cmdCancelClick(); };
    cmdApply->OnClick = [this] { cmdApplyClick(); };

    for (auto& [pageIndex, control] : placed) pcOptions->AddToPage(pageIndex, control);
    // Tab order is the z-order: the pages' controls in order (a spin box's
    // buttons right after its edit), then the buttons, and the tab control
    // last, below the page controls, so that they take the mouse.
    HWND previous = HWND_TOP;
    auto stack = [&previous](HWND hwnd) {
        SetWindowPos(hwnd, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = hwnd;
    };
    for (auto& [pageIndex, control] : placed) {
        stack(control->Handle());
        if (auto* spin = dynamic_cast<ui::TSpinEdit*>(control)) stack(spin->UpDown());
    }
    for (ui::TButton* button : {cmdOK, cmdCancel, cmdApply}) stack(button->Handle());
    stack(pcOptions->Handle());
    // The tab control paints around the page controls, never over them; the
    // inside of a group box, which its frame does not paint, is painted by
    // the form's background (the form does not clip its children).
    SetWindowLongA(pcOptions->Handle(), GWL_STYLE, GetWindowLongA(pcOptions->Handle(), GWL_STYLE) | WS_CLIPSIBLINGS);
    pcOptions->SetActivePage(tsGeneral);
    FontChanged();
}

void TOptionsDlg::FontChanged() {
    if (!cmdApply) return;  // the font of the form being built
    const ui::TBounds page = pcOptions->PageBounds();
    const int inner = page.left + page.width - 8 - 12;  // right edge of a group's contents
    // Check boxes and radio buttons at least as wide as their captions,
    // never reaching over a group's frame.
    for (ui::TControl* box : std::initializer_list<ui::TControl*>{
             chkSaveWindow, chkAutoOpenLastBatch, chkBackup, chkAutoSave, chkShell, rdStopNever, rdStopAfterFirst,
             rdStopAfterN, chkUnregisterBefore, rdColorDefaultWindows, rdColorUseColors}) {
        box->SetWidth(std::min(std::max(box->Bounds().width, box->TextWidth96()), inner - box->Bounds().left));
    }
    // A box, then its number and the number's unit on the same row.
    auto row = [](ui::TControl* box, ui::TSpinEdit* number, ui::TControl* unit) {
        number->SetLeft(box->Bounds().left + box->Bounds().width + 4);
        SendMessageA(number->UpDown(), UDM_SETBUDDY, reinterpret_cast<WPARAM>(number->Handle()), 0);
        ui::TBounds at = unit->Bounds();
        unit->SetBounds({number->Bounds().left + number->Bounds().width + 7, at.top, unit->TextWidth96(), at.height});
    };
    row(chkAutoSave, txtAutoSaveInterval, lblMins);
    row(rdStopAfterN, txtStopAfter, lblErrors);
    // Labels, then their lists up to the group's right edge.
    auto column = [inner](std::initializer_list<std::pair<ui::TControl*, ui::TControl*>> rows, int minWidth) {
        int width = minWidth;
        for (auto& [label, list] : rows) width = std::max(width, label->TextWidth96());
        for (auto& [label, list] : rows) {
            ui::TBounds at = label->Bounds();
            label->SetWidth(width);
            ui::TBounds box = list->Bounds();
            int left = at.left + width + 4;
            list->SetBounds({left, box.top, inner - left, box.height});
        }
    };
    column({{lblFontName, cbFontName}}, 96);
    column({{lblTextColor, cbTextColor}, {lblBackColor, cbBackColor}}, 100);
}

void TOptionsDlg::OptionsToControls() {
    const TZEPHOptions& o = *Options;
    chkSaveWindow->SetChecked(o.SaveWindow);
    chkAutoOpenLastBatch->SetChecked(o.AutoOpenLastBatch);
    chkBackup->SetChecked(o.Backup);
    chkAutoSave->SetChecked(o.AutoSave);
    txtAutoSaveInterval->SetValue(o.AutoSaveInterval);
    chkAutoSaveClick();
    rdStopAfterFirst->SetChecked(o.StopAfter == stopAfterFirst);
    rdStopAfterN->SetChecked(o.StopAfter == stopAfterN);
    rdStopNever->SetChecked(o.StopAfter == stopNever);
    txtStopAfter->SetValue(o.MaxErrors);
    rdStopAfterNClick();
    chkUnregisterBefore->SetChecked(o.UnregisterBefore);
    cbFontName->SelectName(o.FontName);
    rdColorUseColors->SetChecked(!o.ColorDefault);
    rdColorDefaultWindows->SetChecked(o.ColorDefault);
    cbTextColor->SelectColor(o.TextColor);
    cbBackColor->SelectColor(o.BackgroundColor);
    rdColorDefaultWindowsClick();
    chkShell->SetState(ShellState(GetShellExtensionState()));
}

std::optional<int> TOptionsDlg::CheckedNumber(ui::TSpinEdit& box, unsigned fieldId) {
    if (std::optional<int> value = box.Value()) {
        box.SetValue(*value);  // a number typed outside the range is shown as stored
        return value;
    }
    std::string text = box.Text();
    // The box's page is shown, so that the user sees the field named.
    pcOptions->SetActivePage(&box == txtAutoSaveInterval ? tsGeneral : tsBatch);
    QVMessage(qv::LoadFmt(IDS_OPTIONS_BAD_NUMBER, text, qv::LoadStr(fieldId), kNumberMin, kNumberMax),
              AppInfo ? AppInfo->Title : std::string(), qmtWarning, qbOK, 1, AppInfo ? AppInfo->Language : qlEnglish,
              AppInfo ? AppInfo->DialogFontName : std::string());
    if (box.Enabled()) box.SetFocus();
    return std::nullopt;
}

bool TOptionsDlg::ControlsToOptions() {
    // Both numbers are checked before anything is copied, so that a refused
    // store leaves every option as it was.
    std::optional<int> interval = CheckedNumber(*txtAutoSaveInterval, IDS_OPTIONS_FIELD_AUTOSAVE);
    if (!interval) return false;
    std::optional<int> maxErrors = CheckedNumber(*txtStopAfter, IDS_OPTIONS_FIELD_STOPAFTER);
    if (!maxErrors) return false;

    TZEPHOptions& o = *Options;
    o.SaveWindow = chkSaveWindow->Checked();
    o.AutoOpenLastBatch = chkAutoOpenLastBatch->Checked();
    o.Backup = chkBackup->Checked();
    o.AutoSave = chkAutoSave->Checked();
    o.AutoSaveInterval = *interval;
    o.StopAfter = rdStopNever->Checked() ? stopNever : rdStopAfterFirst->Checked() ? stopAfterFirst : stopAfterN;
    o.MaxErrors = *maxErrors;
    o.UnregisterBefore = chkUnregisterBefore->Checked();
    o.FontName = cbFontName->SelectedName();
    o.ColorDefault = rdColorDefaultWindows->Checked();
    // A list that shows no entry (a colour it does not offer) keeps the colour.
    o.TextColor = cbTextColor->SelectedColor().value_or(o.TextColor);
    o.BackgroundColor = cbBackColor->SelectedColor().value_or(o.BackgroundColor);

    shell::TCopyVerdict shellVerdict;
    if (chkShell->State() == ui::cbChecked) {
        shellVerdict = InstallShellExtension();
    } else if (GetShellExtensionState() > 0) {
        // Only when some entry is ours: nothing another program owns is touched.
        RemoveShellExtension();
    }
    if (applied_) applied_();
    o.Save();
    if (!shellVerdict.Safe) {
        // The other options are stored; the box shows what Explorer now has.
        chkShell->SetState(ShellState(GetShellExtensionState()));
        QVMessageDetails(shellVerdict.Message, shellVerdict.Details, AppInfo ? AppInfo->Title : std::string(),
                         qdtWarning, AppInfo ? AppInfo->Language : qlEnglish,
                         AppInfo ? AppInfo->DialogFontName : std::string(), false);
    }
    return true;
}

void TOptionsDlg::cmdApplyClick() { ControlsToOptions(); }

void TOptionsDlg::cmdOKClick() {
    if (ControlsToOptions()) SetModalResult(ui::mrOk);
}

void TOptionsDlg::cmdCancelClick() { SetModalResult(ui::mrCancel); }

void TOptionsDlg::chkAutoSaveClick() { txtAutoSaveInterval->SetEnabled(chkAutoSave->Checked()); }

void TOptionsDlg::rdStopAfterNClick() { txtStopAfter->SetEnabled(rdStopAfterN->Checked()); }

void TOptionsDlg::rdColorDefaultWindowsClick() {
    bool custom = rdColorUseColors->Checked();
    for (ui::TControl* control : std::initializer_list<ui::TControl*>{cbTextColor, cbBackColor, lblTextColor, lblBackColor}) {
        control->SetEnabled(custom);
    }
}

bool TOptionsDlg::PreTranslateMessage(MSG& msg) {
    if (msg.message == WM_SYSCHAR) {
        // A page's letter shows that page.
        char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(msg.wParam)));
        const char* captions[] = {"  &General  ", "  Batc&h Operations ", "  &Files List  "};
        for (int page = 0; page < 3; ++page) {
            if (ui::MnemonicOf(captions[page]) == wanted) {
                pcOptions->SetActivePage(page);
                pcOptions->SetFocus();
                return true;
            }
        }
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
        // Ctrl+Tab and Ctrl+Shift+Tab step through the pages.
        int count = pcOptions->PageCount();
        int step = GetKeyState(VK_SHIFT) < 0 ? count - 1 : 1;
        pcOptions->SetActivePage((pcOptions->ActivePage() + step) % count);
        pcOptions->SetFocus();
        return true;
    }
    return ui::TForm::PreTranslateMessage(msg);
}

bool TOptionsDlg::FormKeyUp(WORD key, unsigned) {
    if (!AppInfo) return false;
    WORD released = key;
    HandleFormKey(released, *this, *AppInfo);
    return key == VK_ESCAPE || key == VK_F1;
}

void ShowOptionsDialog(std::function<void()> applied) {
    if (!Options) return;
    // Owned by the main window (the form's owner), so that it is never
    // hidden under a main window that stays on top.
    TOptionsDlg dialog(std::move(applied));
    if (AppInfo) dialog.SetFontFace(AppInfo->DialogFontName);
    dialog.pcOptions->SetActivePage(dialog.tsGeneral);
    dialog.OptionsToControls();
    dialog.CenterOnMainForm();
    dialog.ShowModal();
}
