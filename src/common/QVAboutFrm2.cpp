#include "common/QVAboutFrm2.h"

#include "common/QVApp.h"
#include "common/QVHandles.h"
#include "common/QVHelpUtils.h"
#include "common/QVStrings.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

// The decorative picture left of the texts, and the parts drawn on it.
constexpr RECT kPicture{16, 16, 16 + 65, 16 + 249};
constexpr RECT kBand{17, 17, 17 + 63, 17 + 247};
constexpr RECT kIconFrame{23, 25, 23 + 50, 25 + 47};

COLORREF Shade(COLORREF color, int percent) {
    auto part = [percent](int value) { return value * percent / 100; };
    return RGB(part(GetRValue(color)), part(GetGValue(color)), part(GetBValue(color)));
}

}  // namespace

TAboutForm::TAboutForm(const TQVApplication& record, const std::string& fontFace) : record_(record) {
    CreateForm(qv::LoadFmt(IDS_ABOUT_CAPTION, record.Title), WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
               WS_EX_DLGMODALFRAME);
    SetClientSize(425, 382);
    KeyPreview = true;
    SetFontFace(fontFace);

    std::string name = record.Title == record.FamilyName ? record.FamilyDisplayName : record.Title;
    lblApplicationName = Add<ui::TLabel>(name, ui::TBounds{96, 16, 313, 20});
    lblApplicationName->SetFont(MakeFont(10, true));
    lblApplicationVersion = Add<ui::TLabel>(
        qv::LoadFmt(IDS_VERSION_LINE, qv::LoadEncipheredStr(IDS_VERSION_WORD), record.Version),
        ui::TBounds{96, 40, 313, 16});
    lblLegalNotice = Add<ui::TLabel>(record.LegalNotice, ui::TBounds{96, 60, 313, 30});
    lblCredits = Add<ui::TLabel>(record.Credits, ui::TBounds{96, 96, 305, 49});
    lblCredits->SetFont(MakeFont(7, false));
    Add<ui::TBevel>(ui::TBounds{16, 272, 393, 2});

    cmdOK = Add<ui::TButton>("&OK", ui::TBounds{304, 280, 105, 25});
    cmdOK->ModalResult = ui::mrOk;
    SetDefaultButton(cmdOK);
    cmdSystemInfo = Add<ui::TButton>("&System Info...", ui::TBounds{304, 312, 105, 25});
    cmdSystemInfo->OnClick = [] { RunSystemInfo(); };
    cmdTechSupport = Add<ui::TButton>("&Tech. Support...", ui::TBounds{304, 344, 105, 25});
    cmdTechSupport->OnClick = [this] { ShowHelp(record_, hcTechnicalSupport); };
    SetActiveControl(cmdOK);
}

bool TAboutForm::FormKeyUp(WORD key, unsigned) {
    HandleFormKey(key, *this, record_);
    return key == VK_ESCAPE || key == VK_F1;
}

void TAboutForm::PaintBand(HDC dc) {
    auto scaled = [this](const RECT& r) { return RECT{Scale(r.left), Scale(r.top), Scale(r.right), Scale(r.bottom)}; };
    COLORREF accent = record_.AccentColor;
    // The picture shows as a one-pixel rim around the band.
    RECT picture = scaled(kPicture);
    qv::GdiObject<HBRUSH> rim(CreateSolidBrush(Shade(accent, 60)));
    FillRect(dc, &picture, rim.get());
    RECT band = scaled(kBand);
    qv::GdiObject<HBRUSH> fill(CreateSolidBrush(accent));
    FillRect(dc, &band, fill.get());

    // A white frame near the top holds a ring in the accent colour and,
    // inside it, a white box with the icon.
    RECT frame = scaled(kIconFrame);
    FillRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    qv::GdiObject<HPEN> ringPen(CreatePen(PS_SOLID, Scale(3), accent));
    HGDIOBJ oldPen = SelectObject(dc, ringPen.get());
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    int inset = Scale(4);
    RoundRect(dc, frame.left + inset, frame.top + inset, frame.right - inset + 1, frame.bottom - inset + 1, Scale(12),
              Scale(12));
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    if (record_.Icon) {
        int size = Scale(32);
        int x = (frame.left + frame.right - size) / 2;
        int y = (frame.top + frame.bottom - size) / 2;
        DrawIconEx(dc, x, y, record_.Icon, size, size, 0, nullptr, DI_NORMAL);
    }
}

LRESULT TAboutForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(Handle(), &ps);
        PaintBand(dc);
        EndPaint(Handle(), &ps);
        return 0;
    }
    return ui::TForm::WndProc(msg, wParam, lParam);
}

void ShowAboutBox(const TQVApplication& record, const std::string& fontFace) {
    TAboutForm about(record, fontFace);
    about.CenterOnMainForm();
    about.ShowModal();
}
