#include "common/QVMsgDetailsFrm.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "common/QVStrings.h"
#include "resource.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/Form.h"

namespace qv {
namespace {

constexpr int kClientWidth = 409;

class TQVMessageDetails : public ui::TForm {
public:
    explicit TQVMessageDetails(const TButtonCaptions& captions) : captions_(captions) {
        CreateForm("", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, WS_EX_DLGMODALFRAME);
        SetClientSize(kClientWidth, 180);
        KeyPreview = true;
        const LPCSTR stock[3] = {IDI_ERROR, IDI_WARNING, IDI_INFORMATION};
        for (int i = 0; i < 3; ++i) {
            images_[i] = Add<ui::TImage>(ui::TBounds{8, 8, 32, 32});
            images_[i]->SetIcon(LoadIconA(nullptr, stock[i]));
            images_[i]->SetVisible(false);
        }
        lblErrorMsg = Add<ui::TLabel>("", ui::TBounds{48, 8, 257, 65});
        cmdOK = Add<ui::TButton>("", ui::TBounds{326, 8, 75, 25});
        cmdOK->ModalResult = ui::mrOk;
        SetDefaultButton(cmdOK);
        cmdDetails = Add<ui::TButton>("", ui::TBounds{326, 40, 75, 25});
        cmdDetails->OnClick = [this] { cmdDetailsClick(); };
        txtErrorDetails = Add<ui::TMemo>(ui::TBounds{8, 80, 393, 100}, true);
        txtErrorDetails->SetTabStop(false);
        memoBrush_.reset(CreateSolidBrush(GetSysColor(COLOR_WINDOW)));
    }

    // Opens the pane when closed and closes it when open; the open state is
    // kept in the button's Tag.
    void cmdDetailsClick() {
        bool open = cmdDetails->Tag == 0;
        cmdDetails->Tag = open ? 1 : 0;
        cmdDetails->SetText(open ? captions_.DetailsOpen : captions_.DetailsClosed);
        SetOuterHeight(open ? kDetailsOpenHeight : kDetailsClosedHeight);
        // The memo is reachable with Tab only while it can be seen.
        txtErrorDetails->SetTabStop(open);
    }

    // The two buttons as wide as the widest of their captions (both of the
    // Details button's), against the window's right edge; the message
    // gives way to them.
    void FitButtons() {
        int width = std::max({75, cmdOK->TextWidth96(), cmdDetails->TextWidth96(captions_.DetailsClosed),
                              cmdDetails->TextWidth96(captions_.DetailsOpen)});
        int left = kClientWidth - 8 - width;
        cmdOK->SetBounds({left, 8, width, 25});
        cmdDetails->SetBounds({left, 40, width, 25});
        lblErrorMsg->SetWidth(std::min(257, left - 4 - 48));
    }

    ui::TImage* images_[3] = {};
    ui::TLabel* lblErrorMsg = nullptr;
    ui::TButton* cmdOK = nullptr;
    ui::TButton* cmdDetails = nullptr;
    ui::TMemo* txtErrorDetails = nullptr;

protected:
    bool FormKeyUp(WORD key, unsigned) override {
        if (key != VK_ESCAPE) return false;
        Close();
        return true;
    }

    HBRUSH ControlColor(HDC dc, HWND control) override {
        // The read-only details stay on the window colour for legibility.
        if (control != txtErrorDetails->Handle()) return nullptr;
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        return memoBrush_.get();
    }

private:
    const TButtonCaptions& captions_;
    GdiObject<HBRUSH> memoBrush_;
};

}  // namespace
}  // namespace qv

void QVMessageDetails(const std::string& Text, const std::string& Details, const std::string& Caption,
                      QVDetailsType MsgType, QVLanguage Language, const std::string& FontFace, bool ShowDetails) {
    using namespace qv;
    const TButtonCaptions* captions = ButtonCaptions(Language);
    if (!captions) throw std::runtime_error(LoadStr(IDS_DETAILS_INVALID_LANGUAGE));
    if (MsgType > qdtInformation) throw std::runtime_error(LoadStr(IDS_DETAILS_INVALID_TYPE));

    TQVMessageDetails dialog(*captions);
    if (!FontFace.empty()) dialog.SetFontFace(FontFace);
    dialog.SetOuterHeight(kDetailsClosedHeight);
    dialog.SetCaption(Caption.empty() ? ui::Application.Title : Caption);
    dialog.lblErrorMsg->SetText(NormalizeLineBreaks(Text));
    dialog.txtErrorDetails->SetText(NormalizeLineBreaks(Details));
    dialog.images_[MsgType]->SetVisible(true);
    dialog.cmdOK->SetText(captions->OK);
    dialog.cmdDetails->SetText(captions->DetailsClosed);
    dialog.cmdDetails->SetVisible(!Details.empty());
    dialog.FitButtons();
    if (ShowDetails && dialog.cmdDetails->Visible()) dialog.cmdDetailsClick();
    dialog.SetActiveControl(dialog.cmdOK);
    dialog.CenterOnScreen();
    MessageBeep(0);
    dialog.ShowModal();
}
