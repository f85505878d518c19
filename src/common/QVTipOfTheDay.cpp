#include "common/QVTipOfTheDay.h"

#include "common/QVApp.h"
#include "common/QVHelpUtils.h"
#include "common/QVMsgFrm.h"
#include "common/QVStrings.h"
#include "common/QVTipsFile.h"
#include "engine/uRegistry.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

// The lowered panel's inside, in its own coordinates at 96 DPI: the band
// with the picture on the left, the white heading strip and the line under
// it on the right.
constexpr int kBandWidth = 72;
constexpr int kStripHeight = 34;
constexpr int kLineHeight = 2;
constexpr RECT kPicture{21, 24, 21 + 30, 24 + 42};

// The panel's outer rectangle on the form, and its sunken rim.
constexpr ui::TBounds kPanel{8, 8, 425, 201};
constexpr int kRim = 1;

// The panel: a sunken static that the form draws, and the first control to
// take the focus.
class TTipPanel : public ui::TControl {
public:
    TTipPanel(ui::TForm& owner, const ui::TBounds& bounds)
        : TControl(owner, "STATIC", "", bounds, SS_OWNERDRAW | WS_CLIPSIBLINGS, WS_EX_STATICEDGE) {}
};

// A position inside the panel's white part, on the form.
ui::TBounds InWhitePart(int left, int top, int width, int height) {
    return {kPanel.left + kRim + kBandWidth + left, kPanel.top + kRim + top, width, height};
}

// The picture, its colours multiplied by their alpha as blending needs;
// null when the resource is missing.
HBITMAP LoadPicture() {
    auto bitmap = static_cast<HBITMAP>(LoadImageA(ui::Application.Instance(), MAKEINTRESOURCEA(IDB_TIPPICTURE),
                                                  IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION dib{};
    if (!bitmap || GetObjectA(bitmap, sizeof dib, &dib) != sizeof dib || dib.dsBm.bmBitsPixel != 32 ||
        !dib.dsBm.bmBits) {
        if (bitmap) DeleteObject(bitmap);
        return nullptr;
    }
    auto* pixel = static_cast<BYTE*>(dib.dsBm.bmBits);
    size_t count = static_cast<size_t>(dib.dsBm.bmWidth) * static_cast<size_t>(std::abs(dib.dsBm.bmHeight));
    for (size_t i = 0; i < count; ++i, pixel += 4) {
        for (int c = 0; c < 3; ++c) pixel[c] = static_cast<BYTE>(pixel[c] * pixel[3] / 255);
    }
    return bitmap;
}

}  // namespace

TTipOfTheDayForm::TTipOfTheDayForm(const TQVApplication& record) : record_(record) {
    CreateForm("Tip Of The Day...", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, WS_EX_DLGMODALFRAME);
    SetClientSize(441, 249);
    KeyPreview = true;

    // The labels lie over the panel: created first, they are above it, and
    // the panel does not paint over them.
    lblHeading = Add<ui::TLabel>("Did you know...", InWhitePart(8, 8, 337, 19));
    lblMessage = Add<ui::TLabel>("", InWhitePart(8, 40, 337, 153));
    pnlTip = Add<TTipPanel>(kPanel);
    pnlTip->PlaceInTabOrderAfter(lblMessage);

    chkShowTips = Add<ui::TCheckBox>("&Show tips at startup", ui::TBounds{16, 216, 200, 17});
    cmdNextTip = Add<ui::TButton>("&Next Tip", ui::TBounds{272, 216, 75, 25});
    cmdNextTip->OnClick = [this] { cmdNextTipClick(); };
    cmdClose = Add<ui::TButton>("&Close", ui::TBounds{352, 216, 75, 25});
    cmdClose->OnClick = [this] { Close(); };
    SetDefaultButton(cmdClose);
    lblHeading->SetFont(MakeFont(12, true));
    SetActiveControl(pnlTip);
    picture_.reset(LoadPicture());
}

bool TTipOfTheDayForm::Prepare(const std::string& fontFace, bool showTips) {
    SetFontFace(fontFace);
    lblHeading->SetFont(MakeFont(12, true));
    chkShowTips->SetChecked(showTips);
    lblMessage->SetText("");
    try {
        // A file that cannot be read shows the window with an empty tip.
        if (!qv::ReadTipsFile(record_.TipsFile, tips_)) return true;
        if (tips_.empty()) return false;
        qv::ShuffleStrings(tips_);
        index_ = 0;
        ShowTip();
    } catch (...) {
        // Shown as far as it was filled.
    }
    return true;
}

void TTipOfTheDayForm::ShowTip() { lblMessage->SetText(index_ < tips_.size() ? tips_[index_] : std::string()); }

void TTipOfTheDayForm::cmdNextTipClick() {
    // Without tips there is nothing to move to.
    if (tips_.empty()) return;
    index_ = index_ + 1 < tips_.size() ? index_ + 1 : 0;
    ShowTip();
}

bool TTipOfTheDayForm::FormKeyUp(WORD key, unsigned) {
    WORD released = key;
    HandleFormKey(released, *this, record_);
    return key == VK_ESCAPE || key == VK_F1;
}

HBRUSH TTipOfTheDayForm::ControlColor(HDC dc, HWND control) {
    if (control == lblHeading->Handle() || control == lblMessage->Handle()) {
        SetBkColor(dc, RGB(255, 255, 255));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    }
    return nullptr;
}

void TTipOfTheDayForm::PaintPanel(HDC dc, const RECT& inner) {
    HBRUSH workspace = GetSysColorBrush(COLOR_APPWORKSPACE);
    int bandRight = inner.left + Scale(kBandWidth);
    RECT band{inner.left, inner.top, bandRight, inner.bottom};
    FillRect(dc, &band, workspace);
    RECT white{bandRight, inner.top, inner.right, inner.bottom};
    FillRect(dc, &white, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    RECT line{bandRight, inner.top + Scale(kStripHeight), inner.right,
              inner.top + Scale(kStripHeight + kLineHeight)};
    FillRect(dc, &line, workspace);

    if (!picture_) return;
    BITMAP bm{};
    GetObjectA(picture_.get(), sizeof bm, &bm);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, picture_.get());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, inner.left + Scale(kPicture.left), inner.top + Scale(kPicture.top),
                  Scale(kPicture.right - kPicture.left), Scale(kPicture.bottom - kPicture.top), memory, 0, 0,
                  bm.bmWidth, bm.bmHeight, blend);
    SelectObject(memory, old);
    DeleteDC(memory);
}

LRESULT TTipOfTheDayForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DRAWITEM) {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (item->hwndItem == pnlTip->Handle()) {
            PaintPanel(item->hDC, item->rcItem);
            return TRUE;
        }
    }
    return ui::TForm::WndProc(msg, wParam, lParam);
}

bool ShowTipOfTheDay(const TQVApplication& record, bool showTips, bool asked) {
    if (!showTips && !asked) return showTips;
    if (record.TipsFile.empty() || !engine::FileExistsReady(record.TipsFile)) {
        if (asked) {
            QVMessage(qv::LoadEncipheredStr(IDS_TIPS_MISSING), record.Title, qmtWarning, qbOK, 1, record.Language,
                      record.DialogFontName);
        }
        return false;
    }
    // Owned by the main window (the form's owner), so that it is never
    // hidden under a main window that stays on top.
    TTipOfTheDayForm form(record);
    if (form.Prepare(record.DialogFontName, showTips)) {
        form.CenterOnMainForm();
        form.ShowModal();
    }
    return form.chkShowTips->Checked();
}
