#include "ui/StdCtrls.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

#include "common/QVCodePage.h"
#include "common/QVHandles.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace ui {

namespace {

// Draws the item's background and focus rectangle; returns the text colour.
COLORREF PrepareItem(const DRAWITEMSTRUCT& item) {
    bool selected = (item.itemState & ODS_SELECTED) != 0;
    bool disabled = (item.itemState & ODS_DISABLED) != 0;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetBkMode(item.hDC, TRANSPARENT);
    if (disabled) return GetSysColor(COLOR_GRAYTEXT);
    return GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
}

std::string ItemText(HWND combo, UINT index) {
    LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

// The fixed heights of an owner-drawn list's field and items.
void SetItemHeights(TControl& combo) {
    SendMessageA(combo.Handle(), CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), combo.Owner().Scale(15));
    SendMessageA(combo.Handle(), CB_SETITEMHEIGHT, 0, combo.Owner().Scale(16));
}

// The spin box's edit: only digits, signs and control characters pass.
LRESULT CALLBACK SpinEditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (msg == WM_CHAR) {
        char ch = static_cast<char>(wParam);
        bool allowed = (ch >= '0' && ch <= '9') || ch == '+' || ch == '-' || static_cast<unsigned char>(ch) < ' ';
        if (!allowed) {
            MessageBeep(0);
            return 0;
        }
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

int CALLBACK CollectFont(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM param) {
    auto* names = reinterpret_cast<std::vector<std::string>*>(param);
    const wchar_t* face = font->lfFaceName;
    if ((type & TRUETYPE_FONTTYPE) && font->lfCharSet == ANSI_CHARSET && face[0] != L'@') {
        names->push_back(FaceNameOf(face));
    }
    return 1;
}

}  // namespace

TGroupBox::TGroupBox(TForm& owner, const std::string& caption, const TBounds& bounds)
    : TControl(owner, "BUTTON", caption, bounds, BS_GROUPBOX) {}

TFocusLabel::TFocusLabel(TForm& owner, const std::string& caption, const TBounds& bounds)
    : TControl(owner, "STATIC", caption, bounds, SS_LEFT) {}

bool TFocusLabel::MnemonicPressed() {
    if (!FocusControl || !FocusControl->Visible() || !FocusControl->Enabled()) return false;
    FocusControl->SetFocus();
    return true;
}

TRadioButton::TRadioButton(TForm& owner, const std::string& caption, const TBounds& bounds)
    : TControl(owner, "BUTTON", caption, bounds, WS_TABSTOP | BS_RADIOBUTTON | BS_NOTIFY) {}

void TRadioButton::Group(const std::vector<TRadioButton*>& buttons) {
    for (TRadioButton* button : buttons) button->group_ = buttons;
}

bool TRadioButton::Checked() const { return SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TRadioButton::SetChecked(bool checked) {
    if (checked) {
        for (TRadioButton* other : group_) {
            if (other != this) SendMessageA(other->Handle(), BM_SETCHECK, BST_UNCHECKED, 0);
        }
    }
    SendMessageA(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TRadioButton::Click() {
    if (!Visible() || !Enabled()) return;
    SetChecked(true);
    if (OnClick) OnClick();
}

void TRadioButton::Notify(WORD code) {
    if (code == BN_CLICKED) Click();
}

bool TRadioButton::MnemonicPressed() {
    SetFocus();
    Click();
    return true;
}

TStateCheckBox::TStateCheckBox(TForm& owner, const std::string& caption, const TBounds& bounds)
    : TControl(owner, "BUTTON", caption, bounds, WS_TABSTOP | BS_3STATE) {}

TCheckState TStateCheckBox::State() const {
    switch (SendMessageA(Handle(), BM_GETCHECK, 0, 0)) {
    case BST_CHECKED: return cbChecked;
    case BST_INDETERMINATE: return cbGrayed;
    default: return cbUnchecked;
    }
}

void TStateCheckBox::SetState(TCheckState state) {
    WPARAM check = state == cbChecked ? BST_CHECKED : state == cbGrayed ? BST_INDETERMINATE : BST_UNCHECKED;
    SendMessageA(Handle(), BM_SETCHECK, check, 0);
}

void TStateCheckBox::Click() {
    if (!Visible() || !Enabled()) return;
    SetState(State() == cbChecked ? cbUnchecked : cbChecked);
    if (OnClick) OnClick();
}

void TStateCheckBox::Notify(WORD code) {
    // A non-automatic box: the click is turned into the new state here.
    if (code == BN_CLICKED) Click();
}

bool TStateCheckBox::MnemonicPressed() {
    SetFocus();
    Click();
    return true;
}

std::optional<long long> ParseWholeNumber(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        if (value <= INT_MAX) value = value * 10 + (text[i] - '0');
    }
    value = std::min<long long>(value, static_cast<long long>(INT_MAX) + 1);
    return negative ? -value : value;
}

TSpinEdit::TSpinEdit(TForm& owner, const TBounds& bounds, int min, int max)
    : TControl(owner, "EDIT", "", bounds, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE), min_(min), max_(max) {
    SetWindowSubclass(Handle(), SpinEditProc, 1, 0);
    upDown_ = CreateWindowExA(0, UPDOWN_CLASSA, "",
                              WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                              0, 0, 0, 0, owner.Handle(), nullptr, Application.Instance(), nullptr);
    SendMessageA(upDown_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(Handle()), 0);
    SendMessageA(upDown_, UDM_SETRANGE32, min, max);
}

void TSpinEdit::SetValue(int value) {
    value = std::clamp(value, min_, max_);
    SendMessageA(upDown_, UDM_SETPOS32, 0, value);
    SetText(std::to_string(value));
}

std::optional<int> TSpinEdit::Value() const {
    std::optional<long long> value = ParseWholeNumber(Text());
    if (!value) return std::nullopt;
    return static_cast<int>(std::clamp<long long>(*value, min_, max_));
}

void TSpinEdit::ClampText() {
    std::optional<long long> value = ParseWholeNumber(Text());
    if (value && (*value < min_ || *value > max_)) SetValue(static_cast<int>(std::clamp<long long>(*value, min_, max_)));
}

void TSpinEdit::SetVisible(bool visible) {
    TControl::SetVisible(visible);
    ShowWindow(upDown_, visible ? SW_SHOWNA : SW_HIDE);
}

void TSpinEdit::SetEnabled(bool enabled) {
    TControl::SetEnabled(enabled);
    EnableWindow(upDown_, enabled);
}

void TSpinEdit::Notify(WORD code) {
    if (code == EN_KILLFOCUS) ClampText();
}

TFontComboBox::TFontComboBox(TForm& owner, const TBounds& bounds)
    : TControl(owner, "COMBOBOX", "", bounds,
               WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | CBS_SORT) {
    SetItemHeights(*this);
    std::vector<std::string> names;
    LOGFONTW query{};
    query.lfCharSet = ANSI_CHARSET;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &query, CollectFont, reinterpret_cast<LPARAM>(&names), 0);
    ReleaseDC(nullptr, dc);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
    names.erase(std::unique(names.begin(), names.end(),
                            [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }),
                names.end());
    for (const std::string& name : names) {
        SendMessageA(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
}

namespace {

// A drop-down list closed with Esc (or by leaving it while open) goes back
// to the entry it showed when it opened: the arrow keys move the selection
// while it is open, and not every combo box implementation puts it back by
// itself. `openedWith` is CB_ERR - 1 while the list is not open; a cancel
// without an open list (some send one whenever the box loses the focus)
// changes nothing.
void KeepChoiceOnCancel(HWND combo, WORD code, LRESULT& openedWith) {
    constexpr LRESULT kClosed = CB_ERR - 1;
    switch (code) {
    case CBN_DROPDOWN:
        openedWith = SendMessageA(combo, CB_GETCURSEL, 0, 0);
        break;
    case CBN_SELENDCANCEL:
        if (openedWith != kClosed && SendMessageA(combo, CB_GETCURSEL, 0, 0) != openedWith) {
            SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(openedWith), 0);
        }
        openedWith = kClosed;
        break;
    case CBN_SELENDOK:
    case CBN_SETFOCUS:
        openedWith = kClosed;
        break;
    default:
        break;
    }
}

}  // namespace

void TFontComboBox::Notify(WORD code) { KeepChoiceOnCancel(Handle(), code, openedWith_); }

void TColorComboBox::Notify(WORD code) { KeepChoiceOnCancel(Handle(), code, openedWith_); }

std::vector<std::string> TFontComboBox::Names() const {
    std::vector<std::string> names;
    LRESULT count = SendMessageA(Handle(), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) names.push_back(ItemText(Handle(), static_cast<UINT>(i)));
    return names;
}

void TFontComboBox::SelectName(const std::string& name) {
    LRESULT found = CB_ERR;
    LRESULT count = SendMessageA(Handle(), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && found == CB_ERR; ++i) {
        if (lstrcmpiA(ItemText(Handle(), static_cast<UINT>(i)).c_str(), name.c_str()) == 0) found = i;
    }
    if (found == CB_ERR && IsFontInstalled(name)) {
        // A face in use that the list does not offer (not TrueType, or not
        // of the ANSI set) is shown all the same, so that the list always
        // names the font the files list draws with.
        found = SendMessageA(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    SendMessageA(Handle(), CB_SETCURSEL, found == CB_ERR ? static_cast<WPARAM>(-1) : found, 0);
}

std::string TFontComboBox::SelectedName() const {
    LRESULT index = SendMessageA(Handle(), CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? std::string() : ItemText(Handle(), static_cast<UINT>(index));
}

bool TFontComboBox::DrawItem(const DRAWITEMSTRUCT& item) {
    COLORREF text = PrepareItem(item);
    if (item.itemID == static_cast<UINT>(-1)) return true;
    std::string name = ItemText(Handle(), item.itemID);
    LOGFONTA lf{};
    lf.lfHeight = -MulDiv(9, Application.Dpi(), 72);
    lf.lfCharSet = ANSI_CHARSET;
    qv::GdiObject<HFONT> font(CreateFontWithFace(lf, name));
    HGDIOBJ old = SelectObject(item.hDC, font.get());
    SetTextColor(item.hDC, text);
    RECT r = item.rcItem;
    r.left += Owner().Scale(3);
    DrawTextAnsi(item.hDC, name, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(item.hDC, old);
    if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
    return true;
}

const std::vector<TNamedColor>& StandardColors() {
    static const std::vector<TNamedColor> colors = [] {
        std::vector<TNamedColor> list{
            {"Black", 0x000000},       {"Maroon", 0x000080},   {"Green", 0x008000},    {"Olive", 0x008080},
            {"Navy", 0x800000},        {"Purple", 0x800080},   {"Teal", 0x808000},     {"Gray", 0x808080},
            {"Silver", 0xC0C0C0},      {"Red", 0x0000FF},      {"Lime", 0x00FF00},     {"Yellow", 0x00FFFF},
            {"Blue", 0xFF0000},        {"Fuchsia", 0xFF00FF},  {"Aqua", 0xFFFF00},     {"White", 0xFFFFFF},
            {"Money Green", 0xC0DCC0}, {"Sky Blue", 0xF0CAA6}, {"Cream", 0xF0FBFF},    {"Medium Gray", 0xA4A0A0},
        };
        static const char* const system[] = {
            "Scroll Bar",       "Background",          "Active Caption",     "Inactive Caption",
            "Menu",             "Window Background",   "Window Frame",       "Menu Text",
            "Window Text",      "Caption Text",        "Active Border",      "Inactive Border",
            "Application Workspace", "Highlight",      "Highlight Text",     "Button Face",
            "Button Shadow",    "Gray Text",           "Button Text",        "Inactive Caption Text",
            "Button Highlight", "3D Dark Shadow",      "3D Light",           "Info Text",
            "Info Background",
        };
        for (std::uint32_t i = 0; i < sizeof system / sizeof system[0]; ++i) list.push_back({system[i], 0x80000000u | i});
        return list;
    }();
    return colors;
}

std::optional<COLORREF> ColorToRgb(std::uint32_t value) {
    switch (value >> 24) {
    case 0x00: return static_cast<COLORREF>(value);
    case 0x80: return GetSysColor(static_cast<int>(value & 0xFF));
    default: return std::nullopt;
    }
}

TColorComboBox::TColorComboBox(TForm& owner, const TBounds& bounds)
    : TControl(owner, "COMBOBOX", "", bounds, WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS) {
    SetItemHeights(*this);
    for (const TNamedColor& color : StandardColors()) {
        LRESULT index = SendMessageA(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(color.Name));
        SendMessageA(Handle(), CB_SETITEMDATA, index, static_cast<LPARAM>(color.Value));
    }
}

void TColorComboBox::SelectColor(std::uint32_t value) {
    LRESULT found = -1;
    LRESULT count = SendMessageA(Handle(), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && found < 0; ++i) {
        if (static_cast<std::uint32_t>(SendMessageA(Handle(), CB_GETITEMDATA, i, 0)) == value) found = i;
    }
    SendMessageA(Handle(), CB_SETCURSEL, static_cast<WPARAM>(found), 0);
}

std::optional<std::uint32_t> TColorComboBox::SelectedColor() const {
    LRESULT index = SendMessageA(Handle(), CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return std::nullopt;
    return static_cast<std::uint32_t>(SendMessageA(Handle(), CB_GETITEMDATA, index, 0));
}

bool TColorComboBox::DrawItem(const DRAWITEMSTRUCT& item) {
    COLORREF text = PrepareItem(item);
    if (item.itemID == static_cast<UINT>(-1)) return true;
    RECT swatch{item.rcItem.left + Owner().Scale(2), item.rcItem.top + Owner().Scale(2),
                item.rcItem.left + Owner().Scale(24), item.rcItem.bottom - Owner().Scale(2)};
    std::optional<COLORREF> rgb = ColorToRgb(static_cast<std::uint32_t>(item.itemData));
    qv::GdiObject<HBRUSH> brush(CreateSolidBrush(rgb.value_or(RGB(255, 255, 255))));
    FillRect(item.hDC, &swatch, brush.get());
    FrameRect(item.hDC, &swatch, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetTextColor(item.hDC, text);
    RECT r = item.rcItem;
    r.left = swatch.right + Owner().Scale(4);
    std::string name = ItemText(Handle(), item.itemID);
    DrawTextAnsi(item.hDC, name, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
    return true;
}

}  // namespace ui
