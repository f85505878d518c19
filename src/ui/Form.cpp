#include "ui/Form.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>

#include <windowsx.h>

#include "common/QVCodePage.h"
#include "common/QVSystem.h"
#include "ui/ActionMenus.h"
#include "ui/Application.h"
#include "ui/ComCtrls.h"
#include "ui/Controls.h"

namespace ui {

namespace {

const char kFormClass[] = "TQVForm";
ATOM g_formAtom = 0;

void EnsureFormClass(WNDPROC proc) {
    if (g_formAtom) return;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = proc;
    wc.hInstance = Application.Instance();
    wc.hIcon = LoadIconA(Application.Instance(), MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    g_formAtom = RegisterClassExA(&wc);
}

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

BOOL CALLBACK DisableOne(HWND hwnd, LPARAM param) {
    auto* list = reinterpret_cast<std::vector<HWND>*>(param);
    if (hwnd != list->front() && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
        list->push_back(hwnd);
    }
    return TRUE;
}

bool IsPushButton(HWND hwnd) {
    char cls[16] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpiA(cls, "BUTTON") != 0) return false;
    LONG type = GetWindowLongA(hwnd, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// The combo box whose list is dropped down and has the keyboard: the focused
// combo box, or the one whose edit field has the focus; null when none.
HWND DroppedComboOf(HWND focus) {
    for (HWND hwnd = focus; hwnd; hwnd = GetParent(hwnd)) {
        char cls[16] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        if (lstrcmpiA(cls, "ComboBox") == 0) return SendMessageA(hwnd, CB_GETDROPPEDSTATE, 0, 0) ? hwnd : nullptr;
        if (hwnd != focus) break;
    }
    return nullptr;
}

}  // namespace

bool IsFontInstalled(const std::string& face) {
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    // A face longer than the LOGFONT holds is no installed face.
    if (face.empty() || !MultiByteToWideChar(CP_ACP, 0, face.c_str(), -1, lf.lfFaceName, LF_FACESIZE)) return false;
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &lf, FontFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

HFONT CreateFontWithFace(const LOGFONTA& lf, const std::string& face) {
    static_assert(offsetof(LOGFONTA, lfFaceName) == offsetof(LOGFONTW, lfFaceName), "the same fields before the face");
    LOGFONTW wide{};
    std::memcpy(&wide, &lf, offsetof(LOGFONTA, lfFaceName));
    // A face that does not fit is left empty: the system's default face.
    if (!MultiByteToWideChar(CP_ACP, 0, face.c_str(), -1, wide.lfFaceName, LF_FACESIZE)) wide.lfFaceName[0] = L'\0';
    return CreateFontIndirectW(&wide);
}

int DrawTextAnsi(HDC dc, const std::string& text, RECT* rect, UINT format) {
    const std::wstring wide = qv::TextToWide(text);
    return DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), rect, format);
}

std::string FaceNameOf(const wchar_t* face) {
    std::string text;
    qv::WideToAnsi(face, text);
    return text;
}

TForm::~TForm() {
    if (handle_ && IsWindow(handle_)) DestroyWindow(handle_);
}

TForm* TForm::FromHandle(HWND hwnd) {
    if (!hwnd || !g_formAtom) return nullptr;
    if (static_cast<ATOM>(GetClassLongPtrA(hwnd, GCW_ATOM)) != g_formAtom) return nullptr;
    return reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void TForm::CreateForm(const std::string& caption, DWORD style, DWORD exStyle) {
    EnsureFormClass(StaticWndProc);
    handle_ = CreateWindowExA(exStyle | WS_EX_CONTROLPARENT, kFormClass, caption.c_str(), style, CW_USEDEFAULT,
                              CW_USEDEFAULT, Scale(200), Scale(100), Application.MainFormHandle(), nullptr,
                              Application.Instance(), this);
    SetFontFace("Tahoma");
    if (!font_) {
        // Without Tahoma the form takes the system's message font face
        // rather than leaving its controls in the wide system font.
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        UseFont(FaceNameOf(metrics.lfMessageFont.lfFaceName));
    }
}

std::string TForm::Caption() const {
    char buffer[512] = {};
    GetWindowTextA(handle_, buffer, sizeof buffer);
    return buffer;
}

void TForm::SetCaption(const std::string& text) { SetWindowTextA(handle_, text.c_str()); }

int TForm::Scale(int pixels96) const { return Application.Scale(pixels96); }

void TForm::SetClientSize(int width96, int height96) {
    RECT r{0, 0, Scale(width96), Scale(height96)};
    AdjustWindowRectEx(&r, GetWindowLongA(handle_, GWL_STYLE), FALSE, GetWindowLongA(handle_, GWL_EXSTYLE));
    SetWindowPos(handle_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetOuterHeight(int height96) {
    RECT r{};
    GetWindowRect(handle_, &r);
    SetWindowPos(handle_, nullptr, 0, 0, r.right - r.left, Scale(height96), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::CenterOnScreen() {
    RECT r{};
    GetWindowRect(handle_, &r);
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int x = work.left + ((work.right - work.left) - (r.right - r.left)) / 2;
    int y = work.top + ((work.bottom - work.top) - (r.bottom - r.top)) / 2;
    SetWindowPos(handle_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::CenterOnMainForm() {
    HWND main = Application.MainFormHandle();
    RECT o{}, r{};
    if (!main || main == handle_ || !IsWindowVisible(main) || !GetWindowRect(main, &o) || !GetWindowRect(handle_, &r)) {
        CenterOnScreen();
        return;
    }
    SetWindowPos(handle_, nullptr, o.left + ((o.right - o.left) - (r.right - r.left)) / 2,
                 o.top + ((o.bottom - o.top) - (r.bottom - r.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetFontFace(const std::string& face) {
    if (IsFontInstalled(face)) UseFont(face);
}

void TForm::UseFont(const std::string& face) {
    LOGFONTA lf{};
    lf.lfHeight = -MulDiv(8, Application.Dpi(), 72);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    qv::GdiObject<HFONT> font(CreateFontWithFace(lf, face));
    if (!font) return;
    for (auto& control : controls_) {
        SendMessageA(control->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    font_ = std::move(font);
    fontFace_ = face;
    FontChanged();
}

HFONT TForm::MakeFont(int pointSize, bool bold) {
    LOGFONTA lf{};
    lf.lfHeight = -MulDiv(pointSize, Application.Dpi(), 72);
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    extraFonts_.emplace_back(CreateFontWithFace(lf, fontFace_.empty() ? "Tahoma" : fontFace_));
    return extraFonts_.back().get();
}

UINT_PTR TForm::AddTimer(std::function<void()> callback) {
    timers_.push_back(std::move(callback));
    return timers_.size();  // ids start at 1
}

void TForm::RemoveTimer(UINT_PTR id) {
    if (id >= 1 && id <= timers_.size()) timers_[id - 1] = nullptr;
}

void TForm::AdoptControl(std::unique_ptr<TControl> control) { controls_.push_back(std::move(control)); }

TControl* TForm::ControlById(int id) const {
    for (auto& control : controls_) {
        if (control->Id() == id) return control.get();
    }
    return nullptr;
}

void TForm::SetActiveControl(TControl* control) {
    savedFocus_ = control ? control->Handle() : nullptr;
    if (control && GetActiveWindow() == handle_) control->SetFocus();
}

void TForm::Show() {
    ShowWindow(handle_, SW_SHOW);
    UpdateWindow(handle_);
}

void TForm::Close() {
    if (!FormCloseQuery()) return;
    if (inModal_) {
        if (modalResult_ == mrNone) modalResult_ = mrCancel;
    } else {
        DestroyWindow(handle_);
    }
}

int TForm::ShowModal() {
    // Every other enabled window of the thread is disabled while the form is up.
    std::vector<HWND> disabled{handle_};
    EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));
    disabled.erase(disabled.begin());
    for (HWND hwnd : disabled) EnableWindow(hwnd, FALSE);
    HWND previousActive = GetActiveWindow();

    if (!savedFocus_) savedFocus_ = GetNextDlgTabItem(handle_, nullptr, FALSE);
    modalResult_ = mrNone;
    inModal_ = true;
    ShowWindow(handle_, SW_SHOW);
    SetForegroundWindow(handle_);
    SetActiveWindow(handle_);
    if (savedFocus_) ::SetFocus(savedFocus_);
    UpdateDefaultLook(GetFocus());

    while (modalResult_ == mrNone) {
        MSG msg;
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // A quit request ends the modal loop and is left for the outer loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            modalResult_ = mrCancel;
            break;
        }
        Application.HandleMessage(msg);
    }
    inModal_ = false;

    for (HWND hwnd : disabled) EnableWindow(hwnd, TRUE);
    if (previousActive && IsWindow(previousActive)) SetActiveWindow(previousActive);
    ShowWindow(handle_, SW_HIDE);
    return modalResult_;
}

bool TForm::FormKeyDown(WORD, unsigned) { return false; }
bool TForm::FormKeyUp(WORD, unsigned) { return false; }
HBRUSH TForm::ControlColor(HDC dc, HWND control) {
    // A control on a tab page takes the page's colour. Edits keep their own:
    // a disabled or read-only one asks here too, and must stay an edit.
    char className[16] = "";
    GetClassNameA(control, className, sizeof className);
    if (lstrcmpiA(className, "Edit") == 0) return nullptr;
    for (auto& item : controls_) {
        auto* tabs = dynamic_cast<TTabControl*>(item.get());
        if (tabs && tabs->OnPage(control)) {
            SetBkColor(dc, tabs->PageColor());
            return tabs->PageBrush();
        }
    }
    return nullptr;
}

void TForm::ShowFocusCues() {
    SendMessageA(handle_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
}

void TForm::UpdateDefaultLook(HWND focus) {
    // As in a dialog: the focused push button carries the default frame, and
    // when no push button has the focus the form's default button carries it.
    HWND target = (focus && IsPushButton(focus) && GetParent(focus) == handle_) ? focus : nullptr;
    if (!target && defaultButton_ && defaultButton_->Visible()) target = defaultButton_->Handle();
    for (auto& control : controls_) {
        if (auto* button = dynamic_cast<TButton*>(control.get())) {
            bool on = button->Handle() == target;
            LONG type = GetWindowLongA(button->Handle(), GWL_STYLE) & BS_TYPEMASK;
            if (on != (type == BS_DEFPUSHBUTTON)) button->SetDefaultLook(on);
        }
    }
}

bool TForm::HandleMnemonic(char ch) {
    char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (wanted == 0) return false;
    for (auto& control : controls_) {
        if (!control->Visible() || !control->Enabled()) continue;
        if (MnemonicOf(control->Text()) != wanted) continue;
        // Push buttons are pressed, check boxes toggled; other controls say
        // what the letter does for them.
        if (auto* button = dynamic_cast<TButton*>(control.get())) {
            control->SetFocus();
            button->Click();
            return true;
        }
        if (auto* check = dynamic_cast<TCheckBox*>(control.get())) {
            control->SetFocus();
            check->Click();
            return true;
        }
        if (control->MnemonicPressed()) return true;
    }
    return false;
}

bool TForm::PreTranslateMessage(MSG& msg) {
    unsigned shift = (GetKeyState(VK_SHIFT) < 0 ? unsigned(ssShift) : 0u) |
                     (GetKeyState(VK_CONTROL) < 0 ? unsigned(ssCtrl) : 0u) |
                     (GetKeyState(VK_MENU) < 0 ? unsigned(ssAlt) : 0u);
    WORD key = static_cast<WORD>(msg.wParam);
    switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        // Enter and Esc in an open drop-down list only close the list (Enter
        // taking the highlighted entry, Esc the previous one); the form's
        // default and cancel keys wait until the list is closed.
        if ((key == VK_RETURN || key == VK_ESCAPE) && msg.message == WM_KEYDOWN && DroppedComboOf(GetFocus())) {
            listKey_ = key;
            return false;
        }
        listKey_ = 0;
        if (KeyPreview && FormKeyDown(key, shift)) return true;
        if (msg.message == WM_SYSKEYDOWN && key == VK_MENU) ShowFocusCues();
        if (msg.message != WM_KEYDOWN || (shift & (ssCtrl | ssAlt))) return false;
        if (key == VK_TAB) {
            HWND next = GetNextDlgTabItem(handle_, GetFocus(), (shift & ssShift) != 0);
            if (next) {
                ::SetFocus(next);
                ShowFocusCues();
            }
            return true;
        }
        if (key == VK_RETURN) {
            HWND focus = GetFocus();
            if (auto* focused = dynamic_cast<TControl*>(ControlById(GetDlgCtrlID(focus)))) {
                if (GetParent(focus) == handle_ && focused->WantsReturn()) return false;
                if (auto* button = dynamic_cast<TButton*>(focused); button && IsPushButton(focus)) {
                    button->Click();
                    return true;
                }
            }
            if (defaultButton_) {
                defaultButton_->Click();
                return true;
            }
        }
        return false;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        if (key == listKey_) {
            listKey_ = 0;
            return true;
        }
        return KeyPreview && FormKeyUp(key, shift);
    case WM_SYSCHAR:
        return HandleMnemonic(static_cast<char>(msg.wParam));
    case WM_CHAR: {
        // A character typed on a push button is a mnemonic, as in a dialog.
        HWND focus = GetFocus();
        if (focus && GetParent(focus) == handle_ && IsPushButton(focus) && msg.wParam > ' ') {
            return HandleMnemonic(static_cast<char>(msg.wParam));
        }
        return false;
    }
    default:
        return false;
    }
}

LRESULT TForm::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(handle_, msg, wParam, lParam);
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND: {
        HWND child = reinterpret_cast<HWND>(lParam);
        if (child) {
            if (TControl* control = ControlById(LOWORD(wParam))) {
                WORD code = HIWORD(wParam);
                if (code == BN_SETFOCUS || code == EN_SETFOCUS) UpdateDefaultLook(child);
                control->Notify(code);
                return 0;
            }
        }
        break;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (TControl* control = ControlById(static_cast<int>(header->idFrom))) {
            LRESULT result = 0;
            if (control->HandleNotify(header, &result)) return result;
        }
        break;
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (TControl* control = ControlById(static_cast<int>(item->CtlID)); control && control->DrawItem(*item)) {
            return TRUE;
        }
        break;
    }
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (TControl* control = ControlById(static_cast<int>(item->CtlID)); control && control->MeasureItem(*item)) {
            return TRUE;
        }
        break;
    }
    case WM_CONTEXTMENU: {
        HWND target = reinterpret_cast<HWND>(wParam);
        if (target != handle_) {
            if (TControl* control = ControlById(GetDlgCtrlID(target)); control && control->OnContextMenu) {
                control->OnContextMenu(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
                return 0;
            }
        }
        break;
    }
    case WM_TIMER:
        if (wParam >= 1 && wParam <= timers_.size() && timers_[wParam - 1]) {
            // Copied: the callback may add timers.
            auto callback = timers_[wParam - 1];
            callback();
            return 0;
        }
        break;
    case WM_ERASEBKGND: {
        // The inside of a group box on a tab page is not painted by the group
        // box, nor by the tab control (it does not paint over its siblings):
        // the form paints the page's area in the page's colour.
        LRESULT erased = DefWindowProcA(handle_, msg, wParam, lParam);
        for (auto& item : controls_) {
            if (auto* tabs = dynamic_cast<TTabControl*>(item.get()); tabs && tabs->Visible()) {
                RECT page = tabs->PageRect();
                FillRect(reinterpret_cast<HDC>(wParam), &page, tabs->PageBrush());
            }
        }
        return erased;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        if (HBRUSH brush = ControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam))) {
            return reinterpret_cast<LRESULT>(brush);
        }
        break;
    case WM_ACTIVATE:
        // Keep the focused control across deactivation, as a dialog does.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(handle_, focus)) savedFocus_ = focus;
        } else {
            HWND target = savedFocus_ && IsWindow(savedFocus_) ? savedFocus_
                                                               : GetNextDlgTabItem(handle_, nullptr, FALSE);
            if (target) ::SetFocus(target);
        }
        return 0;
    case WM_SETCURSOR:
        if (Application.ScreenCursor() != TCursor::Default) {
            SetCursor(Application.ScreenCursorHandle());
            return TRUE;
        }
        break;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_DESTROY:
        if (Application.MainForm() == this) PostQuitMessage(0);
        break;
    default:
        break;
    }
    return DefaultProc(msg, wParam, lParam);
}

LRESULT CALLBACK TForm::StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        // The form is known from here on, before any other message arrives.
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* created = static_cast<TForm*>(create->lpCreateParams);
        created->handle_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    TForm* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcA(hwnd, msg, wParam, lParam);
    try {
        LRESULT result = form->WndProc(msg, wParam, lParam);
        if (msg == WM_NCDESTROY) {
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            form->handle_ = nullptr;
        }
        return result;
    } catch (...) {
        Application.HandleException(std::current_exception());
        return 0;
    }
}

}  // namespace ui
