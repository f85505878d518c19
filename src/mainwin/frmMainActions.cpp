// The main window's actions: the table of commands, the bars and menus bound
// to them, the rules that enable them, and the commands of the File, View,
// Registry and Help menus.
#include <windows.h>
#include <shellapi.h>

#include "common/QVAboutFrm2.h"
#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVFilePropsFrm.h"
#include "common/QVHelpUtils.h"
#include "common/QVMapi.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "common/QVTipOfTheDay.h"
#include "engine/frmLog.h"
#include "mainwin/frmCapture.h"
#include "engine/uRegistry.h"
#include "mainwin/frmMain.h"
#include "options/frmOptions.h"
#include "options/uOptions.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

using ui::ssCtrl;
using ui::TShortCut;

constexpr TShortCut kNone{};
constexpr TShortCut Key(WORD key) { return TShortCut{key, 0}; }
constexpr TShortCut Ctrl(WORD key) { return TShortCut{key, ssCtrl}; }

const char kServerFilter[] =
    "Type Libraries (*.tlb; *.olb; *.dll)|*.tlb; *.olb; *.dll|Executable Files (*.exe; *.dll)|*.exe; *.dll|"
    "ActiveX Controls (*.ocx)|*.ocx|All Files (*.*)|*.*";

}  // namespace

void TZEPHMain::CreateActions() {
    auto add = [this](const char* name, const char* caption, TShortCut shortCut, int image, const char* hint,
                      void (TZEPHMain::*handler)()) {
        return &alMain.Add(name, caption, shortCut, image, hint, handler ? std::function<void()>([this, handler] {
                                                                     (this->*handler)();
                                                                 })
                                                                         : std::function<void()>([] {}));
    };
    actFile = add("actFile", "&File", kNone, -1, "File commands", nullptr);
    actEdit = add("actEdit", "&Edit", kNone, -1, "Edit commands", nullptr);
    actView = add("actView", "&View", kNone, -1, "View commands", nullptr);
    actRegistry = add("actRegistry", "&Registry", kNone, -1, "Registry commands", nullptr);
    actHelp = add("actHelp", "&Help", kNone, -1, "Help commands", nullptr);

    actFileNew = add("actFileNew", "&New...", Ctrl('N'), 1, "Create new corvantis file", &TZEPHMain::actFileNewExecute);
    actFileOpen = add("actFileOpen", "&Open...", Ctrl('O'), 2, "Open existing corvantis file",
                      &TZEPHMain::actFileOpenExecute);
    actFileClose = add("actFileClose", "&Close", Ctrl(VK_F4), -1, "Close current corvantis file",
                       &TZEPHMain::actFileCloseExecute);
    actFileSave = add("actFileSave", "&Save", Ctrl('S'), 3, "Save current corvantis file",
                      &TZEPHMain::actFileSaveExecute);
    actFileSaveAs = add("actFileSaveAs", "Save &As...", kNone, -1, "Save current corvantis file with a new name",
                        &TZEPHMain::actFileSaveAsExecute);
    actFileRecent = add("actFileRecent", "&Recent Batch Files", kNone, -1, "Reopen a recently used corvantis file",
                        nullptr);
    actFileAddFile = add("actFileAddFile", "A&dd File...", Key(VK_INSERT), 4, "Add a file to the current corvantis file",
                         &TZEPHMain::actFileAddFileExecute);
    actFileRemoveFile = add("actFileRemoveFile", "Re&move File", Key(VK_DELETE), 5,
                            "Remove selected file from the current corvantis file",
                            &TZEPHMain::actFileRemoveFileExecute);
    actFileProperties = add("actFileProperties", "F&ile Properties", Key(VK_F4), 17, "View selected file properties",
                            &TZEPHMain::actFilePropertiesExecute);
    actFilePreferences = add("actFilePreferences", "&Preferences...", kNone, -1, "Application preferences",
                             &TZEPHMain::actFilePreferencesExecute);
    actFileExit = add("actFileExit", "E&xit", kNone, -1, "Exit the application", &TZEPHMain::actFileExitExecute);

    actEditCut = add("actEditCut", "Cu&t", Ctrl('X'), 6, "Cut selected file to the clipboard",
                     &TZEPHMain::actEditCutExecute);
    actEditCopy = add("actEditCopy", "&Copy", Ctrl('C'), 7, "Copy selected file to the clipboard",
                      &TZEPHMain::actEditCopyExecute);
    actEditPaste = add("actEditPaste", "&Paste", Ctrl('V'), 8, "Paste cliboard contents",
                       &TZEPHMain::actEditPasteExecute);
    actEditClearAll = add("actEditClearAll", "Clear &All", Ctrl('D'), -1,
                          "Remove all files from the current registry batch file", &TZEPHMain::actEditClearAllExecute);
    actEditMoveFirst = add("actEditMoveFirst", "Move &First", Ctrl(VK_PRIOR), 9,
                           "Move selected file to the top of the list", &TZEPHMain::actEditMoveFirstExecute);
    actEditMoveUp = add("actEditMoveUp", "Move &Up", Key(VK_PRIOR), 10, "Move selected file up",
                        &TZEPHMain::actEditMoveUpExecute);
    actEditMoveDown = add("actEditMoveDown", "Move &Down", Key(VK_NEXT), 11, "Move selected file down",
                          &TZEPHMain::actEditMoveDownExecute);
    actEditMoveLast = add("actEditMoveLast", "Move &Last", Ctrl(VK_NEXT), 12,
                          "Move selected file to the bottom of the list", &TZEPHMain::actEditMoveLastExecute);

    actViewToolbar = add("actViewToolbar", "&Toolbar", kNone, -1, "Show/hide toolbar",
                         &TZEPHMain::actViewToolbarExecute);
    actViewStatusBar = add("actViewStatusBar", "&Status Bar", kNone, -1, "Show/hide status bar",
                           &TZEPHMain::actViewStatusBarExecute);
    actViewAlwaysOnTop = add("actViewAlwaysOnTop", "&Always On Top", kNone, 18, "Keep window always on top",
                             &TZEPHMain::actViewAlwaysOnTopExecute);

    actRegistryRegisterAll = add("actRegistryRegisterAll", "&Register All", Key(VK_F6), 13,
                                 "Register all files in the current corvantis file",
                                 &TZEPHMain::actRegistryRegisterAllExecute);
    actRegistryUnregisterAll = add("actRegistryUnregisterAll", "Unregister A&ll", Key(VK_F7), 14,
                                   "Unregister all files in the current corvantis file",
                                   &TZEPHMain::actRegistryUnregisterAllExecute);
    actRegistryRegisterSelected = add("actRegistryRegisterSelected", "Register &Selected File", Ctrl(VK_F6), -1,
                                      "Register selected file", &TZEPHMain::actRegistryRegisterSelectedExecute);
    actRegistryUnregisterSelected = add("actRegistryUnregisterSelected", "Unregister S&elected File", Ctrl(VK_F7), -1,
                                        "Unregister selected file", &TZEPHMain::actRegistryUnregisterSelectedExecute);
    actRegistryRegisterFile = add("actRegistryRegisterFile", "Register &File...", kNone, 20,
                                  "Register one specific file", &TZEPHMain::actRegistryRegisterFileExecute);
    actRegistryUnregisterFile = add("actRegistryUnregisterFile", "U&nregister File...", kNone, 21,
                                    "Unregister one specific file", &TZEPHMain::actRegistryUnregisterFileExecute);
    actRegistryVerifyAll = add("actRegistryVerifyAll", "&Verify All", Key(VK_F8), -1,
                               "Check that every file is registered as its own registration registers it",
                               &TZEPHMain::actRegistryVerifyAllExecute);
    actRegistryVerifySelected = add("actRegistryVerifySelected", "Verify Selec&ted File", Ctrl(VK_F8), -1,
                                    "Check that the selected file is registered as its own registration registers it",
                                    &TZEPHMain::actRegistryVerifySelectedExecute);
    actRegistryCapture = add("actRegistryCapture", "&Capture Registration...", kNone, -1,
                             "Save the registry entries the files would write, without registering them",
                             &TZEPHMain::actRegistryCaptureExecute);
    actRegistryRunRegistry = add("actRegistryRunRegistry", "&Windows Registry", Key(VK_F9), 15,
                                 "Run the Windows Registry", &TZEPHMain::actRegistryRunRegistryExecute);

    actHelpContents = add("actHelpContents", "Quorvandel Corvantis &Help", Key(VK_F1), 16,
                          "Quorvandel Corvantis help contents", &TZEPHMain::actHelpContentsExecute);
    actHelpTipOfTheDay = add("actHelpTipOfTheDay", "&Tip Of The Day", kNone, -1, "Display the Tip of the Day",
                             &TZEPHMain::actHelpTipOfTheDayExecute);
    actHelpOnTheWeb = add("actHelpOnTheWeb", "Quorvandel On The &Web", kNone, -1, "Quorvandel on the Web",
                          &TZEPHMain::actHelpOnTheWebExecute);
    actHelpSendEmail = add("actHelpSendEmail", "&Send Email", kNone, -1, "Send email to Quorvandel",
                           &TZEPHMain::actHelpSendEmailExecute);
    actHelpAbout = add("actHelpAbout", "&About...", kNone, -1, "About Quorvandel Corvantis",
                       &TZEPHMain::actHelpAboutExecute);
    alMain.OnUpdate = [this] { alMainUpdate(); };

    OpenFile.Filter = kServerFilter;
    OpenFile.DefaultExt = "dll";
    OpenFile.Options = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING;
}

void TZEPHMain::CreateBars() {
    docks = std::make_unique<ui::TDockSite>(*this);
    docks->OnLayoutChanged = [this] { Relayout(); };
    auto hint = [](const std::string& text) { ui::Application.SetHint(text); };
    using Entries = std::vector<ui::TMenuEntry>;
    const ui::TMenuEntry sep{};
    auto item = [](ui::TAction* action) { return ui::TMenuEntry{action, nullptr}; };
    Entries file{item(actFileNew),        item(actFileOpen),       item(actFileClose), sep,
                 item(actFileSave),       item(actFileSaveAs),     sep,
                 ui::TMenuEntry{actFileRecent, [this] { return RecentItems(); }},
                 sep,                     item(actFileAddFile),    item(actFileRemoveFile), sep,
                 item(actFileProperties), sep,                     item(actFilePreferences), sep,
                 item(actFileExit)};
    Entries edit{item(actEditCut),       item(actEditCopy),   item(actEditPaste),    sep,
                 item(actEditClearAll),  sep,                 item(actEditMoveFirst), item(actEditMoveUp),
                 item(actEditMoveDown),  item(actEditMoveLast)};
    Entries view{item(actViewToolbar), item(actViewStatusBar), sep, item(actViewAlwaysOnTop)};
    Entries registry{item(actRegistryRegisterAll),      item(actRegistryUnregisterAll),   sep,
                     item(actRegistryRegisterSelected), item(actRegistryUnregisterSelected), sep,
                     item(actRegistryRegisterFile),     item(actRegistryUnregisterFile), sep,
                     item(actRegistryVerifyAll),        item(actRegistryVerifySelected),  item(actRegistryCapture),
                     sep,                               item(actRegistryRunRegistry)};
    Entries help{item(actHelpContents), item(actHelpTipOfTheDay), sep, item(actHelpOnTheWeb),
                 item(actHelpSendEmail), sep, item(actHelpAbout)};
    tbMenu = std::make_unique<ui::TMenuBar>(
        *docks, "Standard Menu", *menus,
        std::vector<ui::TMenuBar::TMenu>{{actFile, file}, {actEdit, edit}, {actView, view}, {actRegistry, registry},
                                         {actHelp, help}});
    tbMenu->OnHint = hint;
    tbMenu->SetPlace(ui::deTop, 0, 0);

    tbMain = std::make_unique<ui::TActionToolBar>(
        *docks, "Standard Toolbar", alMain, imlMenus,
        std::vector<ui::TAction*>{actFileNew, actFileOpen, actFileSave, nullptr, actFileAddFile, actFileRemoveFile,
                                  nullptr, actFileProperties, nullptr, actEditCut, actEditCopy, actEditPaste, nullptr,
                                  actEditMoveFirst, actEditMoveUp, actEditMoveDown, actEditMoveLast, nullptr,
                                  actRegistryRegisterAll, actRegistryUnregisterAll, nullptr, actRegistryRegisterFile,
                                  actRegistryUnregisterFile, nullptr, actRegistryRunRegistry, nullptr,
                                  actViewAlwaysOnTop, nullptr, actHelpContents});
    tbMain->OnHint = hint;
    tbMain->SetPlace(ui::deTop, 1, 0);
    menus->OnSelect = [this](HMENU menu, UINT flags) { tbMenu->MenuSelect(menu, flags); };

    popFiles = Entries{item(actFileAddFile),   item(actFileRemoveFile), sep, item(actFileProperties), sep,
                       item(actEditCut),       item(actEditCopy),       item(actEditPaste), sep,
                       item(actEditClearAll),  sep,                     item(actEditMoveFirst),
                       item(actEditMoveUp),    item(actEditMoveDown),   item(actEditMoveLast), sep,
                       item(actRegistryRegisterAll), item(actRegistryUnregisterAll), sep,
                       item(actRegistryRegisterSelected), item(actRegistryUnregisterSelected)};
}

std::vector<ui::TDynamicItem> TZEPHMain::RecentItems() {
    std::vector<ui::TDynamicItem> items;
    const auto& paths = batch_->RecentFiles().Items();
    for (size_t i = 0; i < paths.size() && i < 10; ++i) {
        std::string accelerator = i < 9 ? std::string(1, static_cast<char>('1' + i)) : std::string("A");
        std::string path = paths[i];
        items.push_back(ui::TDynamicItem{qv::Format("&%s %s", accelerator, ui::EscapeMnemonics(path)),
                                         [this, path] { MRUListClick(path); }});
    }
    return items;
}

void TZEPHMain::ShowListMenu(POINT at) { menus->Popup(Handle(), popFiles, lvFiles->ContextMenuPoint(at)); }

void TZEPHMain::alMainUpdate() {
    const bool busy = Busy();
    const bool open = batch_ && batch_->HasBatch();
    const int rows = open ? static_cast<int>(batch_->Model().Count()) : 0;
    const int row = lvFiles ? lvFiles->Selected() : -1;
    const bool selected = open && row >= 0 && row < rows;
    const bool recent = batch_ && !batch_->RecentFiles().Items().empty();
    // While a registration runs nothing else may start.
    auto set = [busy](ui::TAction* action, bool enabled) { action->SetEnabled(enabled && !busy); };

    for (ui::TAction* action : {actFileClose, actFileSave, actFileSaveAs, actFileAddFile}) set(action, open);
    for (ui::TAction* action : {actFileRemoveFile, actFileProperties, actEditCut, actEditCopy,
                                actRegistryRegisterSelected, actRegistryUnregisterSelected, actRegistryVerifySelected}) {
        set(action, selected);
    }
    set(actFileRecent, recent);
    set(actEditPaste, open && !busy && ClipboardHoldsFile());
    for (ui::TAction* action :
         {actEditClearAll, actRegistryRegisterAll, actRegistryUnregisterAll, actRegistryVerifyAll, actRegistryCapture}) {
        set(action, open && rows > 0);
    }
    set(actEditMoveFirst, selected && row > 0);
    set(actEditMoveUp, selected && row > 0);
    set(actEditMoveLast, selected && row < rows - 1);
    set(actEditMoveDown, selected && row < rows - 1);
    for (ui::TAction* action :
         {actFile, actEdit, actView, actRegistry, actHelp, actFileNew, actFileOpen, actFilePreferences, actFileExit,
          actViewToolbar, actViewStatusBar, actViewAlwaysOnTop, actRegistryRegisterFile, actRegistryUnregisterFile,
          actRegistryRunRegistry, actHelpContents, actHelpTipOfTheDay, actHelpOnTheWeb, actHelpSendEmail,
          actHelpAbout}) {
        set(action, true);
    }

    const bool onTop = StayOnTop();
    actViewToolbar->SetChecked(tbMain && tbMain->Visible());
    actViewStatusBar->SetChecked(bottomVisible_);
    actViewAlwaysOnTop->SetChecked(onTop);
    actViewAlwaysOnTop->SetImageIndex(onTop ? 19 : 18);
}

bool TZEPHMain::ClipboardHoldsFile() {
    DWORD sequence = GetClipboardSequenceNumber();
    if (clipboardChecked_ && sequence == clipboardSequence_) return clipboardHoldsFile_;
    bool holdsFile = false;
    if (IsClipboardFormatAvailable(CF_TEXT)) {
        // One try only: the idle update must not wait. A clipboard another
        // program holds open is not remembered, so the next update reads
        // it again.
        std::string text;
        ++clipboardReads_;
        if (!ui::ReadClipboardText(Handle(), &text, 1)) return false;
        // A path never holds control characters and is shorter than
        // MAX_PATH characters (in UTF-8 up to three bytes each); anything else is no file, without asking the file
        // system.
        bool plausible = !text.empty() && text.size() < qv::kMaxPathBytes;
        for (unsigned char c : text) {
            if (c < 0x20) plausible = false;
        }
        holdsFile = plausible && engine::FileExistsReady(text);
    }
    clipboardChecked_ = true;
    clipboardSequence_ = sequence;
    clipboardHoldsFile_ = holdsFile;
    return holdsFile;
}

std::vector<std::string> TZEPHMain::EntryPaths() const { return batch_->Model().Paths(); }

// ------------------------------------------------------------- commands

void TZEPHMain::actFileNewExecute() { batch_->SetCurrentBatch(""); }

void TZEPHMain::actFileOpenExecute() { batch_->OpenBatch(); }

void TZEPHMain::actFileCloseExecute() { batch_->SetCurrentBatch(TBatchDocument::kNoBatch); }

void TZEPHMain::actFileSaveExecute() { batch_->SaveCommand(); }

void TZEPHMain::actFileSaveAsExecute() { batch_->SaveAsCommand(); }

void TZEPHMain::MRUListClick(const std::string& path) {
    batch_->AddRecentFile(path);
    batch_->OpenBatch(path);
}

void TZEPHMain::actFileAddFileExecute() {
    OpenFile.Title = "Add File...";
    OpenFile.FileName.clear();
    if (ui::ExecuteOpenDialog(Handle(), OpenFile)) batch_->AddFile(OpenFile.FileName, true);
}

void TZEPHMain::actFilePropertiesExecute() {
    if (const TBatchEntry* entry = SelectedEntry()) ShowFileProperties(entry->Path);
}

void TZEPHMain::actFilePreferencesExecute() {
    ShowOptionsDialog([this] { ApplyOptions(); });
}

void TZEPHMain::actFileExitExecute() { Close(); }

void TZEPHMain::actViewToolbarExecute() { tbMain->SetVisible(!tbMain->Visible()); }

void TZEPHMain::actViewStatusBarExecute() { SetBottomVisible(!bottomVisible_); }

void TZEPHMain::actViewAlwaysOnTopExecute() {
    PendingFormStyle = StayOnTop() ? fsNormal : fsStayOnTop;
    ApplyFormStyle();
}

void TZEPHMain::RunTasks(bool register_) {
    std::vector<std::string> files = EntryPaths();
    ui::TActionLock busy(alMain);
    RunTaskList(files, register_);
}

void TZEPHMain::actRegistryRegisterAllExecute() { RunTasks(true); }

void TZEPHMain::actRegistryUnregisterAllExecute() { RunTasks(false); }

void TZEPHMain::RegisterOne(const std::string& path, bool register_) {
    // The outcome, success or failure, leaves as an EQVException for the
    // application's handler; the lock ends before it is shown.
    ui::TActionLock busy(alMain);
    engine::RegisterServerFile(path, register_);
}

void TZEPHMain::actRegistryRegisterSelectedExecute() {
    if (const TBatchEntry* entry = SelectedEntry()) RegisterOne(entry->Path, true);
}

void TZEPHMain::actRegistryUnregisterSelectedExecute() {
    if (const TBatchEntry* entry = SelectedEntry()) RegisterOne(entry->Path, false);
}

void TZEPHMain::actRegistryRegisterFileExecute() {
    OpenFile.Title = "Select File...";
    OpenFile.FileName.clear();
    if (ui::ExecuteOpenDialog(Handle(), OpenFile)) RegisterOne(OpenFile.FileName, true);
}

void TZEPHMain::actRegistryUnregisterFileExecute() {
    OpenFile.Title = "Select File...";
    OpenFile.FileName.clear();
    if (ui::ExecuteOpenDialog(Handle(), OpenFile)) RegisterOne(OpenFile.FileName, false);
}

void TZEPHMain::actRegistryRunRegistryExecute() {
    const char kEditor[] = "regedit.exe";
    HINSTANCE result = nullptr;
    try {
        result = ShellExecuteA(Handle(), nullptr, kEditor, nullptr, nullptr, SW_SHOWNORMAL);
    } catch (const std::exception& e) {
        throw EQVException(qv::LoadFmt(IDS_EXEC_ERROR, kEditor), e.what(), qekError);
    }
    if (reinterpret_cast<INT_PTR>(result) <= 32) {
        throw EQVException(qv::LoadFmt(IDS_EXEC_ERROR, kEditor), qv::LoadFmt(IDS_EXEC_ERROR_DETAILS, kEditor),
                           qekError);
    }
}

void TZEPHMain::actRegistryVerifyAllExecute() {
    std::vector<std::string> files = EntryPaths();
    ui::TActionLock busy(alMain);
    RunVerifyList(files);
}

void TZEPHMain::actRegistryVerifySelectedExecute() {
    const TBatchEntry* entry = SelectedEntry();
    if (!entry) return;
    std::vector<std::string> files{entry->Path};
    ui::TActionLock busy(alMain);
    RunVerifyList(files);
}

void TZEPHMain::actRegistryCaptureExecute() {
    const TBatchEntry* entry = SelectedEntry();
    std::vector<std::string> files = EntryPaths();
    {
        TCaptureFrm scope(entry ? engine::ExtractFileName(entry->Path) : std::string(), static_cast<int>(files.size()));
        scope.CenterOnMainForm();
        if (scope.ShowModal() != ui::mrOk) return;
        if (!scope.WholeBatch() && entry) files = {entry->Path};
    }
    if (files.empty()) return;
    // The file is named after the batch, or after the one file captured.
    std::string base = files.size() == 1 ? files.front() : batch_->CurrentBatch();
    base = engine::ExtractFileName(base);
    if (base.empty()) base = "Registration";
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    captureDialog_.Title = "Capture Registration As...";
    captureDialog_.Filter =
        "Registry Files (*.reg)|*.reg|WiX Fragments (*.wxs)|*.wxs|JSON Files (*.json)|*.json";
    captureDialog_.DefaultExt = "reg";
    captureDialog_.Options = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    static const char* const kExtensions[] = {".reg", ".wxs", ".json"};
    const DWORD index = captureDialog_.FilterIndex >= 1 && captureDialog_.FilterIndex <= 3 ? captureDialog_.FilterIndex : 1;
    captureDialog_.FileName = base + kExtensions[index - 1];
    if (!ui::ExecuteSaveDialog(Handle(), captureDialog_)) return;
    const TCaptureFormat format = CaptureFormatOf(captureDialog_.FileName, captureDialog_.FilterIndex);
    ui::TActionLock busy(alMain);
    RunCaptureList(files, captureDialog_.FileName, format);
}

void TZEPHMain::actHelpContentsExecute() {
    if (AppInfo) ShowHelp(*AppInfo, hcContents);
}

void TZEPHMain::actHelpTipOfTheDayExecute() {
    if (!AppInfo || !Options) return;
    bool showTips = ShowTipOfTheDay(*AppInfo, Options->ShowTips, true);
    if (Options) Options->ShowTips = showTips;
}

void TZEPHMain::actHelpOnTheWebExecute() {
    if (AppInfo) OpenWebAddress(AppInfo->WebAddresses->WebSite);
}

void TZEPHMain::actHelpSendEmailExecute() {
    if (AppInfo) SendSupportEmail(Handle(), *AppInfo);
}

void TZEPHMain::actHelpAboutExecute() {
    if (AppInfo) ShowAboutBox(*AppInfo, AppInfo->DialogFontName);
}
