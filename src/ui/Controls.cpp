#include "ui/Controls.h"

#include "common/QVCodePage.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace ui {

TControl::TControl(TForm& owner, const char* className, const std::string& text, const TBounds& bounds,
                   DWORD style, DWORD exStyle)
    : owner_(owner), id_(owner.NextControlId()), bounds_(bounds) {
    handle_ = CreateWindowExA(exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | style,
                              owner.Scale(bounds.left), owner.Scale(bounds.top), owner.Scale(bounds.width),
                              owner.Scale(bounds.height), owner.Handle(),
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)), Application.Instance(), nullptr);
    if (owner.Font()) SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(owner.Font()), FALSE);
}

std::string TControl::Text() const {
    int length = GetWindowTextLengthA(handle_);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(handle_, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

void TControl::SetText(const std::string& text) { SetWindowTextA(handle_, text.c_str()); }

bool TControl::Visible() const { return (GetWindowLongA(handle_, GWL_STYLE) & WS_VISIBLE) != 0; }

void TControl::SetVisible(bool visible) { ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE); }

bool TControl::Enabled() const { return IsWindowEnabled(handle_) != FALSE; }

void TControl::SetEnabled(bool enabled) { EnableWindow(handle_, enabled); }

void TControl::SetBounds(const TBounds& bounds) {
    bounds_ = bounds;
    SetWindowPos(handle_, nullptr, owner_.Scale(bounds.left), owner_.Scale(bounds.top), owner_.Scale(bounds.width),
                 owner_.Scale(bounds.height), SWP_NOZORDER | SWP_NOACTIVATE);
}

void TControl::SetLeft(int left96) { SetBounds({left96, bounds_.top, bounds_.width, bounds_.height}); }

void TControl::SetWidth(int width96) { SetBounds({bounds_.left, bounds_.top, width96, bounds_.height}); }

int TControl::TextWidth96(const std::string& shown) const {
    LONG style = GetWindowLongA(handle_, GWL_STYLE);
    char cls[32] = {};
    GetClassNameA(handle_, cls, sizeof cls);
    bool isButton = lstrcmpiA(cls, "BUTTON") == 0;
    bool isStatic = lstrcmpiA(cls, "STATIC") == 0;
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(handle_, WM_GETFONT, 0, 0));
    HDC dc = GetDC(handle_);
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    RECT r{0, 0, 0, 0};
    UINT flags = DT_CALCRECT | DT_SINGLELINE | DT_EXPANDTABS;
    if (isStatic && (style & SS_NOPREFIX)) flags |= DT_NOPREFIX;
    DrawTextAnsi(dc, shown, &r, flags);
    SelectObject(dc, old);
    ReleaseDC(handle_, dc);
    int dpi = Application.Dpi();
    int width96 = (r.right * 96 + dpi - 1) / dpi;
    if (isButton) {
        switch (style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON: return width96 + 2 * 5;  // frame, focus rectangle and a margin
        case BS_GROUPBOX: return width96 + 2 * 8;       // the frame's corners beside the caption
        default: return width96 + 13 + 5 + 2;           // glyph, gap and focus rectangle
        }
    }
    return width96 + 1;
}

int TControl::TextHeight96(int width96) const {
    const int dpi = Application.Dpi();
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(handle_, WM_GETFONT, 0, 0));
    HDC dc = GetDC(handle_);
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    RECT r{0, 0, width96 * dpi / 96, 0};
    DrawTextAnsi(dc, Text(), &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(handle_, dc);
    return (r.bottom * 96 + dpi - 1) / dpi;
}

void TControl::SetFocus() { ::SetFocus(handle_); }

bool TControl::Focused() const { return GetFocus() == handle_; }

void TControl::SetFont(HFONT font) { SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE); }

void TControl::SetTabStop(bool on) {
    LONG style = GetWindowLongA(handle_, GWL_STYLE);
    SetWindowLongA(handle_, GWL_STYLE, on ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
}

void TControl::PlaceInTabOrderAfter(const TControl* previous) {
    // Tab order is the z-order of the children.
    SetWindowPos(handle_, previous ? previous->Handle() : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

TLabel::TLabel(TForm& owner, const std::string& text, const TBounds& bounds)
    : TControl(owner, "STATIC", text, bounds, SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL) {}

TButton::TButton(TForm& owner, const std::string& caption, const TBounds& bounds)
    : TControl(owner, "BUTTON", caption, bounds, WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY) {}

void TButton::Click() {
    if (!Visible() || !Enabled()) return;
    if (ModalResult != 0) Owner().SetModalResult(ModalResult);
    if (OnClick) OnClick();
}

void TButton::SetDefaultLook(bool on) {
    SendMessageA(Handle(), BM_SETSTYLE, on ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::Notify(WORD code) {
    if (code == BN_CLICKED) Click();
}

TCheckBox::TCheckBox(TForm& owner, const std::string& caption, const TBounds& bounds)
    : TControl(owner, "BUTTON", caption, bounds, WS_TABSTOP | BS_AUTOCHECKBOX) {}

bool TCheckBox::Checked() const { return SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TCheckBox::SetChecked(bool checked) {
    SendMessageA(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::Click() {
    if (!Visible() || !Enabled()) return;
    SetChecked(!Checked());
    if (OnClick) OnClick();
}

void TCheckBox::Notify(WORD code) {
    // The control has already toggled itself.
    if (code == BN_CLICKED && OnClick) OnClick();
}

TImage::TImage(TForm& owner, const TBounds& bounds)
    : TControl(owner, "STATIC", "", bounds, SS_ICON | SS_REALSIZEIMAGE) {}

void TImage::SetIcon(HICON icon) { SendMessageA(Handle(), STM_SETICON, reinterpret_cast<WPARAM>(icon), 0); }

HICON TImage::Icon() const { return reinterpret_cast<HICON>(SendMessageA(Handle(), STM_GETICON, 0, 0)); }

TBevel::TBevel(TForm& owner, const TBounds& bounds) : TControl(owner, "STATIC", "", bounds, SS_ETCHEDHORZ) {}

TMemo::TMemo(TForm& owner, const TBounds& bounds, bool readOnly)
    : TControl(owner, "EDIT", "", bounds,
               WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | (readOnly ? ES_READONLY : 0),
               WS_EX_CLIENTEDGE) {}

}  // namespace ui
