#include "mainwin/frmMain.h"

#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>
#include <windowsx.h>

#include "app/uCmdLine.h"
#include "app/uMain.h"
#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVHelpUtils.h"
#include "common/QVMsgDetailsFrm.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "common/QVTipOfTheDay.h"
#include "options/uOptions.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

constexpr UINT WM_FIRST_ACTIVATE = WM_APP + 0x20;
constexpr int kBottomHeight96 = 20;
constexpr int kLeftPanelWidth96 = 41;

QVLanguage DialogLanguage() { return AppInfo ? AppInfo->Language : qlEnglish; }
std::string DialogFont() { return AppInfo ? AppInfo->DialogFontName : "Tahoma"; }

// A colour value of the options as a screen colour: a system colour index
// (high byte 0x80) is looked up, "no colour" gives the fallback.
COLORREF ScreenColor(std::uint32_t value, COLORREF fallback) {
    if ((value & 0xFF000000u) == 0x80000000u) return GetSysColor(static_cast<int>(value & 0xFF));
    if (value & 0xFF000000u) return fallback;
    return value;
}

std::string StorageKey() { return (AppInfo ? AppInfo->RegistryKey : std::string()) + "\\Storage"; }

}  // namespace

TZEPHMain::TZEPHMain() {
    CreateForm(ui::Application.Title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, WS_EX_APPWINDOW | WS_EX_ACCEPTFILES);
    KeyPreview = true;
    HelpContext = hcContents;
    SetWindowPos(Handle(), nullptr, Scale(15), Scale(56), Scale(581), Scale(388), SWP_NOZORDER | SWP_NOACTIVATE);

    imlMenus.Load(ui::Application.Instance(),
                  {{16, IDB_MENUICONS16}, {20, IDB_MENUICONS20}, {24, IDB_MENUICONS24}, {32, IDB_MENUICONS32}},
                  ui::Application.Dpi());
    menus = std::make_unique<ui::TActionMenus>(alMain, &imlMenus);
    menus->OnHint = [](const std::string& hint) { ui::Application.SetHint(hint); };
    CreateActions();

    lvFiles = Add<ui::TListView>(ui::TBounds{0, 0, 100, 100});
    lvFiles->AddColumn("Name", 150);
    lvFiles->AddColumn("Location", 230);
    lvFiles->OnContextMenu = [this](POINT at) { ShowListMenu(at); };
    CreateBars();
    CreateBottomPanel();

    // Creation: drops from the shell, the document state, the recent files
    // and the options.
    DragAcceptFiles(Handle(), TRUE);
    batch_ = std::make_unique<TBatchDocument>(*this, *lvFiles);
    if (imlMenus.Normal()) lvFiles->SetSmallImages(imlMenus.Normal());
    batch_->CanAutoSave = [this] { return !Busy() && IsWindowEnabled(Handle()); };
    batch_->OnChange = [this] { SyncShutdownBlock(); };
    FirstShow = true;
    FirstActivate = true;
    SetCaption(batch_->Caption());
    if (!Options || !Options->SaveWindow) CenterOnScreen();
    batch_->LoadRecentFiles();
    ApplyOptions();

    tSetFormStyle = std::make_unique<ui::TTimer>(*this);
    tSetFormStyle->OnTimer = [this] {
        tSetFormStyle->SetEnabled(false);
        ApplyFormStyle();
    };
    tSetFormStyle->SetInterval(100);
    tSetFormStyle->SetEnabled(true);

    ui::Application.OnHint = [this](const std::string& hint) { sbMain->SetSimpleText(hint); };
    ui::Application.OnIdle = [this] { alMain.Update(); };
    alMain.Update();
    Relayout();
    SetActiveControl(lvFiles);
}

TZEPHMain::~TZEPHMain() {
    // The window goes while this object is whole, so that its closing work
    // runs here rather than from the base class.
    if (Handle() && IsWindow(Handle())) DestroyWindow(Handle());
    if (ui::Application.OnIdle) ui::Application.OnIdle = nullptr;
    ui::Application.OnHint = nullptr;
    if (dragImage_) ImageList_Destroy(dragImage_);
    if (registerIcon_) DestroyIcon(registerIcon_);
    if (unregisterIcon_) DestroyIcon(unregisterIcon_);
}

void TZEPHMain::CreateBottomPanel() {
    imgRegister = Add<ui::TImage>(ui::TBounds{2, 2, 16, 16});
    imgUnregister = Add<ui::TImage>(ui::TBounds{22, 2, 16, 16});
    registerIcon_ = imlMenus.MakeIcon(22);
    unregisterIcon_ = imlMenus.MakeIcon(23);
    imgRegister->SetIcon(registerIcon_);
    imgUnregister->SetIcon(unregisterIcon_);
    sbMain = Add<ui::TStatusBar>(ui::TBounds{kLeftPanelWidth96, 0, 100, kBottomHeight96});
}

void TZEPHMain::Relayout() {
    if (!docks || !lvFiles || !sbMain) return;
    RECT client{};
    GetClientRect(Handle(), &client);
    RECT area = client;
    if (bottomVisible_) {
        int height = Scale(kBottomHeight96);
        area.bottom = std::max<int>(area.top, client.bottom - height);
        int top = area.bottom;
        int image = imlMenus.Size() > 0 ? imlMenus.Size() : Scale(16);
        SetWindowPos(imgRegister->Handle(), nullptr, Scale(2), top + Scale(2), image, image,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(imgUnregister->Handle(), nullptr, Scale(22), top + Scale(2), image, image,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        int left = Scale(kLeftPanelWidth96);
        SetWindowPos(sbMain->Handle(), nullptr, left, top, std::max<int>(0, client.right - left), height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT rest = docks->Layout(area);
    SetWindowPos(lvFiles->Handle(), nullptr, rest.left, rest.top, std::max<int>(0, rest.right - rest.left),
                 std::max<int>(0, rest.bottom - rest.top), SWP_NOZORDER | SWP_NOACTIVATE);
}

void TZEPHMain::SetBottomVisible(bool visible) {
    bottomVisible_ = visible;
    imgRegister->SetVisible(visible);
    imgUnregister->SetVisible(visible);
    sbMain->SetVisible(visible);
    Relayout();
}

RECT TZEPHMain::TargetRect(const ui::TControl* image) const {
    // The targets count only while they can be seen.
    if (!bottomVisible_) return RECT{0, 0, 0, 0};
    RECT r{};
    GetWindowRect(image->Handle(), &r);
    MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT TZEPHMain::RegisterTarget() const { return TargetRect(imgRegister); }

RECT TZEPHMain::UnregisterTarget() const { return TargetRect(imgUnregister); }

const TBatchEntry* TZEPHMain::SelectedEntry() const {
    int row = lvFiles->Selected();
    if (!batch_->HasBatch() || row < 0 || static_cast<size_t>(row) >= batch_->Model().Count()) return nullptr;
    return &batch_->Model().Entry(static_cast<size_t>(row));
}

// ------------------------------------------------------------- life cycle

void TZEPHMain::Show() {
    // The first show's steps, with their messages and dialogs, are over
    // before the first activation offers the tip of the day.
    firstShowRunning_ = FirstShow;
    RestoreState();
    UpdateWindow(Handle());
    if (!FirstShow) return;
    try {
        FormShow();
    } catch (...) {
        FirstShow = false;
        ApplicationException(std::current_exception());
    }
    if (Handle()) {
        try {
            OfferRecoveryCopies();
        } catch (...) {
            ApplicationException(std::current_exception());
        }
    }
    firstShowRunning_ = false;
    // Activated meanwhile: the first activation's turn has come.
    if (Handle() && FirstActivate && (activatedDuringShow_ || GetActiveWindow() == Handle())) {
        PostMessageA(Handle(), WM_FIRST_ACTIVATE, 0, 0);
    }
}

void TZEPHMain::FormShow() {
    switch (StartMode) {
    case smNewBatch: actFileNew->Execute(); break;
    case smOpenBatch:
        if (CommandLineFile.empty()) {
            batch_->OpenBatch();
        } else {
            MRUListClick(CommandLineFile);
        }
        break;
    default:
        if (Options && Options->AutoOpenLastBatch && !batch_->RecentFiles().Items().empty()) {
            batch_->OpenBatch(batch_->RecentFiles().Items().front());
        }
        break;
    }
    FirstShow = false;
}

void TZEPHMain::FormActivate() {
    if (!FirstActivate) return;
    FirstActivate = false;
    if (!Options || !AppInfo) return;
    bool showTips = ShowTipOfTheDay(*AppInfo, Options->ShowTips, false);
    // The tip window is modal: the options are still there unless the
    // application ended meanwhile.
    if (!Options) return;
    Options->ShowTips = showTips;
    Options->Save();
}

bool TZEPHMain::FormCloseQuery() {
    // Never closed under a registration that is still running, nor under a
    // modal window of its own (the window is disabled while one is open).
    if (Busy() || !IsWindowEnabled(Handle())) return false;
    if (!batch_->SavePrompt()) return false;
    // The changes are saved or given up: a recovery copy of them has had
    // its day.
    DiscardRecoveryCopy();
    StoreState();
    return true;
}

void TZEPHMain::FormDestroy() {
    if (!stateStored_) StoreState();
    batch_->SaveRecentFiles();
    StopApplication();
}

void TZEPHMain::ApplyOptions() {
    TZEPHOptions defaults;
    const TZEPHOptions& options = Options ? *Options : defaults;
    if (ui::IsFontInstalled(options.FontName)) {
        LOGFONTA lf{};
        lf.lfHeight = -MulDiv(8, ui::Application.Dpi(), 72);
        lf.lfCharSet = DEFAULT_CHARSET;
        qv::GdiObject<HFONT> font(ui::CreateFontWithFace(lf, options.FontName));
        if (font) {
            lvFiles->SetFont(font.get());
            listFont_ = std::move(font);
        }
    }
    COLORREF text = GetSysColor(COLOR_WINDOWTEXT), back = GetSysColor(COLOR_WINDOW);
    if (!options.ColorDefault) {
        text = ScreenColor(options.TextColor, text);
        back = ScreenColor(options.BackgroundColor, back);
    }
    ListView_SetTextColor(lvFiles->Handle(), text);
    ListView_SetTextBkColor(lvFiles->Handle(), back);
    ListView_SetBkColor(lvFiles->Handle(), back);
    InvalidateRect(lvFiles->Handle(), nullptr, TRUE);
    batch_->ApplyAutoSave(options.AutoSave, options.AutoSaveInterval);
}

bool TZEPHMain::StayOnTop() const { return (GetWindowLongA(Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

void TZEPHMain::ApplyFormStyle() {
    // Changing the style neither stores nor restores the placement.
    SetWindowPos(Handle(), PendingFormStyle == fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// ---------------------------------------------------------- window state

TWindowState TZEPHMain::CurrentState() const {
    TWindowState state;
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    GetWindowPlacement(Handle(), &wp);
    state.HasPlacement = true;
    state.Flags = wp.flags;
    state.ShowCmd = wp.showCmd;
    state.PixelsPerInch = ui::Application.Dpi();
    state.MinPos = wp.ptMinPosition;
    state.MaxPos = wp.ptMaxPosition;
    state.NormPos = wp.rcNormalPosition;
    state.Visible = IsWindowVisible(Handle()) != FALSE;
    auto bar = [](const ui::TDockBar& b) {
        return TBarState{static_cast<int>(b.CurrentDock()), b.DockPos(), b.DockRow(), b.Visible()};
    };
    state.Menu = bar(*tbMenu);
    state.Toolbar = bar(*tbMain);
    state.BottomVisible = bottomVisible_;
    state.Column0 = lvFiles->ColumnWidth(0);
    state.Column1 = lvFiles->ColumnWidth(1);
    state.FormStyle = StayOnTop() ? fsStayOnTop : fsNormal;
    return state;
}

void TZEPHMain::StoreState() {
    stateStored_ = true;
    if (!Options || !Options->SaveWindow || !AppInfo) return;
    WriteWindowState(HKEY_LOCAL_MACHINE, StorageKey(), CurrentState());
}

void TZEPHMain::RestoreState() {
    UINT showCmd = SW_SHOWNORMAL;
    if (Options && Options->SaveWindow && AppInfo) {
        TWindowState state = ReadWindowState(HKEY_LOCAL_MACHINE, StorageKey(), CurrentState());
        state.HasPlacement = state.HasPlacement && state.NormPos.right > state.NormPos.left;
        // Column widths stored at another DPI keep their size on the screen.
        const int dpi = ui::Application.Dpi();
        if (state.HasPlacement && state.PixelsPerInch != dpi) {
            state.Column0 = MulDiv(state.Column0, dpi, state.PixelsPerInch);
            state.Column1 = MulDiv(state.Column1, dpi, state.PixelsPerInch);
        }
        SanitizePlacement(state, ui::Application.Dpi(), SIZE{Scale(200), Scale(120)}, MonitorWorkAreas());
        if (state.HasPlacement) {
            WINDOWPLACEMENT wp{};
            wp.length = sizeof wp;
            wp.flags = state.Flags;
            wp.showCmd = state.ShowCmd;
            wp.ptMinPosition = state.MinPos;
            wp.ptMaxPosition = state.MaxPos;
            wp.rcNormalPosition = state.NormPos;
            SetWindowPlacement(Handle(), &wp);
            showCmd = state.ShowCmd;
        }
        // Both bars at once, so that neither takes the other's row on the way.
        docks->SetPlaces(
            {{tbMenu.get(), static_cast<ui::TDockEdge>(state.Menu.CurrentDock), state.Menu.DockRow, state.Menu.DockPos},
             {tbMain.get(), static_cast<ui::TDockEdge>(state.Toolbar.CurrentDock), state.Toolbar.DockRow,
              state.Toolbar.DockPos}});
        tbMenu->SetVisible(state.Menu.Visible);
        tbMain->SetVisible(state.Toolbar.Visible);
        if (state.BottomVisible != bottomVisible_) SetBottomVisible(state.BottomVisible);
        ListView_SetColumnWidth(lvFiles->Handle(), 0, state.Column0);
        ListView_SetColumnWidth(lvFiles->Handle(), 1, state.Column1);
        PendingFormStyle = state.FormStyle;
    }
    ShowWindow(Handle(), static_cast<int>(showCmd));
    Relayout();
}

// --------------------------------------------------------------- errors

std::string TZEPHMain::UntitledRecoveryCopy() {
    // SHGetFolderPathA's buffer is MAX_PATH bytes by contract, too few for
    // such a path in UTF-8: both folders are read in their wide form.
    wchar_t documents[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents))) {
        GetTempPathW(MAX_PATH + 1, documents);
    }
    std::string target;
    qv::WideToAnsi(documents, target);
    if (!target.empty() && target.back() != '\\') target += '\\';
    return target + RecoveryFileName(qv::LoadStr(IDS_RECOVERY_UNTITLED));
}

std::string TZEPHMain::WriteRecoveryCopy(std::string* failure) {
    if (!batch_ || !batch_->HasBatch() || !batch_->Modified()) return std::string();
    std::string target =
        batch_->CurrentBatch().empty() ? UntitledRecoveryCopy() : RecoveryFileName(batch_->CurrentBatch());
    try {
        WriteBatchFile(target, EncodeBatchText(batch_->Model().Paths(), SystemLegacyCodePage()), false);
    } catch (const std::exception& e) {
        *failure = e.what();
    }
    return target;
}

void TZEPHMain::EndFatally(const std::string& message, const std::string& details) {
    fatal_ = true;
    std::string text = details;
    std::string failure;
    recoveryCopy_ = WriteRecoveryCopy(&failure);
    if (!recoveryCopy_.empty()) {
        if (!text.empty()) text += "\r\n\r\n";
        text += failure.empty() ? qv::LoadFmt(IDS_RECOVERY_WRITTEN, recoveryCopy_)
                                : qv::LoadFmt(IDS_RECOVERY_FAILED, recoveryCopy_, failure);
        if (!failure.empty()) recoveryCopy_.clear();
    }
    QVMessageDetails(message, text, ui::Application.Title, qdtCritical, DialogLanguage(), DialogFont(), false);
    // The closing work of the window (recent files, options) runs as the
    // window goes; no save prompt is shown.
    if (Handle() && IsWindow(Handle())) DestroyWindow(Handle());
    ui::Application.Terminate(1);
}

void TZEPHMain::ApplicationException(std::exception_ptr error) {
    const std::string& title = ui::Application.Title;
    if (fatal_) return;  // already ending
    ShowWindow(Handle(), IsIconic(Handle()) ? SW_RESTORE : SW_SHOWNA);
    SetForegroundWindow(Handle());
    try {
        std::rethrow_exception(error);
    } catch (const EQVException& e) {
        if (e.Kind == qekFatal) {
            EndFatally(e.what(), e.Details);
            return;
        }
        QVMessageDetails(e.what(), e.Details, title, static_cast<QVDetailsType>(e.Kind), DialogLanguage(),
                         DialogFont(), false);
    } catch (const std::exception& e) {
        EndFatally(qv::LoadStr(IDS_UNEXPECTED_ERROR), e.what());
    } catch (...) {
        EndFatally(qv::LoadStr(IDS_UNEXPECTED_ERROR), "");
    }
}

// --------------------------------------------------------------- messages

bool TZEPHMain::PreTranslateMessage(MSG& msg) {
    if (tbMenu && tbMenu->PreTranslateMessage(msg)) return true;
    return ui::TForm::PreTranslateMessage(msg);
}

bool TZEPHMain::FormKeyDown(WORD key, unsigned shift) {
    if (dragging_ && key == VK_ESCAPE) {
        EndRowDrag(false);
        return true;
    }
    // F1 shows the help when released, through the shared key handler.
    if (key == VK_F1) return false;
    if (ui::TAction* action = alMain.ByShortCut(ui::TShortCut{key, shift})) {
        action->Execute();
        return true;
    }
    return false;
}

bool TZEPHMain::FormKeyUp(WORD key, unsigned) {
    // Escape never closes the main window.
    if (key == VK_ESCAPE) key = 0;
    if (AppInfo && !Busy()) HandleFormKey(key, *this, *AppInfo);
    return key == VK_F1;
}

LRESULT TZEPHMain::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (menus) {
        LRESULT result = 0;
        if (menus->HandleMessage(msg, wParam, lParam, &result)) return result;
    }
    switch (msg) {
    case WM_COMMAND:
        if (lParam == 0 && (HIWORD(wParam) == 0 || HIWORD(wParam) == 1)) {
            menus->RunCommand(LOWORD(wParam));
            return 0;
        }
        break;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (lvFiles && header->hwndFrom == lvFiles->Handle()) {
            if (header->code == LVN_BEGINDRAG) {
                BeginRowDrag(reinterpret_cast<NMLISTVIEW*>(lParam)->iItem);
                return 0;
            }
        }
        break;
    }
    case WM_SIZE: Relayout(); break;
    case WM_DROPFILES:
        HandleDropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_MOUSEMOVE:
        if (dragging_) {
            POINT p;
            GetCursorPos(&p);
            RowDragMove(p);
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (dragging_) {
            EndRowDrag(true);
            return 0;
        }
        break;
    case WM_CAPTURECHANGED:
        if (dragging_) EndRowDrag(false);
        break;
    case WM_SETCURSOR: {
        HWND over = reinterpret_cast<HWND>(wParam);
        if (imgRegister && over == imgRegister->Handle()) {
            ui::Application.SetHint(qv::LoadStr(IDS_HINT_DROP_REGISTER));
        } else if (imgUnregister && over == imgUnregister->Handle()) {
            ui::Application.SetHint(qv::LoadStr(IDS_HINT_DROP_UNREGISTER));
        } else if (over == Handle() || (lvFiles && over == lvFiles->Handle()) || (sbMain && over == sbMain->Handle())) {
            if (!tbMenu || tbMenu->OpenMenu() < 0) ui::Application.SetHint(std::string());
        }
        break;
    }
    case WM_ACTIVATE: {
        LRESULT result = ui::TForm::WndProc(msg, wParam, lParam);
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (tbMenu) tbMenu->LeaveMenuMode();
        } else if (FirstActivate && firstShowRunning_) {
            // The first show posts it once its steps are over.
            activatedDuringShow_ = true;
        } else if (FirstActivate) {
            // Posted, so that the activation itself completes first.
            PostMessageA(Handle(), WM_FIRST_ACTIVATE, 0, 0);
        }
        return result;
    }
    case WM_FIRST_ACTIVATE:
        if (!firstShowRunning_) FormActivate();
        return 0;
    case WM_QUERYENDSESSION: return QueryEndSession(lParam);
    case WM_ENDSESSION:
        EndSession(wParam != FALSE, lParam);
        return 0;
    case WM_SESSION_PROMPT:
        Close();
        return 0;
    case WM_SESSION_CLOSE:
        DestroyWindow(Handle());
        return 0;
    case WM_DESTROY:
        FormDestroy();
        if (ui::Application.MainForm() == this) PostQuitMessage(fatal_ ? 1 : 0);
        return 0;
    default:
        break;
    }
    return ui::TForm::WndProc(msg, wParam, lParam);
}
