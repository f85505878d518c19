#include "ui/ComCtrls.h"

#include "ui/Form.h"

namespace ui {

TProgressBar::TProgressBar(TForm& owner, const TBounds& bounds)
    : TControl(owner, PROGRESS_CLASSA, "", bounds, PBS_SMOOTH) {
    SendMessageA(Handle(), PBM_SETSTEP, 1, 0);
    SetMax(0);
}

void TProgressBar::SetMax(int max) {
    SendMessageA(Handle(), PBM_SETRANGE32, 0, max);
    SendMessageA(Handle(), PBM_SETPOS, 0, 0);
}

int TProgressBar::Max() const { return static_cast<int>(SendMessageA(Handle(), PBM_GETRANGE, FALSE, 0)); }

int TProgressBar::Position() const { return static_cast<int>(SendMessageA(Handle(), PBM_GETPOS, 0, 0)); }

void TProgressBar::StepIt() { SendMessageA(Handle(), PBM_STEPIT, 0, 0); }

TTabControl::TTabControl(TForm& owner, const TBounds& bounds)
    : TControl(owner, WC_TABCONTROLA, "", bounds, WS_TABSTOP | WS_CLIPSIBLINGS) {}

int TTabControl::AddPage(const std::string& caption) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(caption.c_str());
    int index = static_cast<int>(pages_.size());
    SendMessageA(Handle(), TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item));
    pages_.emplace_back();
    return index;
}

TBounds TTabControl::PageBounds() const {
    RECT r{0, 0, Owner().Scale(Bounds().width), Owner().Scale(Bounds().height)};
    TabCtrl_AdjustRect(Handle(), FALSE, &r);
    auto unscale = [this](int pixels) { return MulDiv(pixels, 96, Owner().Scale(96)); };
    return TBounds{Bounds().left + unscale(r.left), Bounds().top + unscale(r.top), unscale(r.right - r.left),
                   unscale(r.bottom - r.top)};
}

void TTabControl::AddToPage(int page, TControl* control) {
    pages_[page].push_back(control);
    // Page controls lie above the tab control.
    SetWindowPos(control->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    control->SetVisible(page == ActivePage());
}

int TTabControl::ActivePage() const { return TabCtrl_GetCurSel(Handle()); }

void TTabControl::SetActivePage(int page) {
    TabCtrl_SetCurSel(Handle(), page);
    ShowPage(page);
}

void TTabControl::ShowPage(int page) {
    for (int i = 0; i < PageCount(); ++i) {
        for (TControl* control : pages_[i]) control->SetVisible(i == page);
    }
}

bool TTabControl::HandleNotify(NMHDR* header, LRESULT* result) {
    if (header->code != TCN_SELCHANGE) return false;
    ShowPage(ActivePage());
    *result = 0;
    return true;
}

bool TTabControl::OnPage(HWND control) const {
    for (const auto& page : pages_) {
        for (const TControl* item : page) {
            if (item->Handle() == control) return true;
        }
    }
    return false;
}

COLORREF TTabControl::PageColor() {
    if (pageColor_ != CLR_INVALID) return pageColor_;
    HWND tab = Handle();
    RECT r{};
    GetClientRect(tab, &r);
    HDC screen = GetDC(tab);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    FillRect(memory, &r, GetSysColorBrush(COLOR_BTNFACE));
    SendMessageA(tab, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
    RECT page = r;
    TabCtrl_AdjustRect(tab, FALSE, &page);
    pageColor_ = GetPixel(memory, (page.left + page.right) / 2, (page.top + page.bottom) / 2);
    if (pageColor_ == CLR_INVALID) pageColor_ = GetSysColor(COLOR_BTNFACE);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(tab, screen);
    return pageColor_;
}

HBRUSH TTabControl::PageBrush() {
    if (!pageBrush_) pageBrush_.reset(CreateSolidBrush(PageColor()));
    return pageBrush_.get();
}

RECT TTabControl::PageRect() const {
    RECT r{};
    GetClientRect(Handle(), &r);
    TabCtrl_AdjustRect(Handle(), FALSE, &r);
    MapWindowPoints(Handle(), GetParent(Handle()), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TStatusBar::TStatusBar(TForm& owner, const TBounds& bounds)
    : TControl(owner, STATUSCLASSNAMEA, "", bounds, CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER) {
    SendMessageA(Handle(), SB_SIMPLE, TRUE, 0);
}

void TStatusBar::SetSimpleText(const std::string& text) {
    SendMessageA(Handle(), SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string TStatusBar::SimpleText() const {
    // Some versions answer for the simple panel only under part 0.
    WPARAM part = SB_SIMPLEID;
    LRESULT length = SendMessageA(Handle(), SB_GETTEXTLENGTHA, part, 0);
    if (LOWORD(length) == 0) length = SendMessageA(Handle(), SB_GETTEXTLENGTHA, part = 0, 0);
    std::string text(static_cast<size_t>(LOWORD(length)) + 1, '\0');
    SendMessageA(Handle(), SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text.data()));
    text.resize(LOWORD(length));
    return text;
}

TImageList::~TImageList() {
    if (list_) ImageList_Destroy(list_);
}

void TImageList::Ensure() {
    if (!list_) list_ = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 8, 4);
}

bool TImageList::LoadStrip(HINSTANCE instance, int resourceId) {
    HBITMAP strip = static_cast<HBITMAP>(
        LoadImageA(instance, MAKEINTRESOURCEA(resourceId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!strip) return false;
    Ensure();
    int added = ImageList_Add(list_, strip, nullptr);
    DeleteObject(strip);
    return added >= 0;
}

int TImageList::AddIcon(HICON icon) {
    Ensure();
    return ImageList_AddIcon(list_, icon);
}

}  // namespace ui
