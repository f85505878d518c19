#include "common/QVMsgFrm.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "common/QVStrings.h"
#include "resource.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/Form.h"

namespace qv {

const TButtonCaptions* ButtonCaptions(QVLanguage language) {
    // Portuguese texts are in UTF-8, the program's code page.
    static const TButtonCaptions portuguese{"&Sim",          "&N\xC3\xA3o", "&Cancelar",     "&OK",   "S&im a Todos",
                                            "N\xC3\xA3o &a Todos", "&Todos",  "&Detalhes >>", "&Detalhes <<"};
    static const TButtonCaptions english{"&Yes",        "&No",    "&Cancel",     "&OK",        "Y&es to All",
                                         "No &to All", "&All",   "&Details >>", "&Details <<"};
    switch (language) {
    case qlPortuguese: return &portuguese;
    case qlEnglish: return &english;
    default: return nullptr;
    }
}

namespace {

constexpr int kSlots = 5;

struct TSlot {
    const char* TButtonCaptions::*caption;
    int left;
    QVResult result;
};

struct TButtonSet {
    int count;
    TSlot slots[kSlots];
    QVResult escape;
};

const TButtonSet kButtonSets[] = {
    {1, {{&TButtonCaptions::OK, 168, qrOK}}, qrOK},
    {2, {{&TButtonCaptions::Yes, 120, qrYes}, {&TButtonCaptions::No, 208, qrNo}}, qrNo},
    {3,
     {{&TButtonCaptions::Yes, 88, qrYes}, {&TButtonCaptions::No, 168, qrNo}, {&TButtonCaptions::Cancel, 248, qrCancel}},
     qrCancel},
    {4,
     {{&TButtonCaptions::Yes, 48, qrYes},
      {&TButtonCaptions::No, 128, qrNo},
      {&TButtonCaptions::Cancel, 208, qrCancel},
      {&TButtonCaptions::All, 288, qrAll}},
     qrCancel},
    {5,
     {{&TButtonCaptions::Yes, 8, qrYes},
      {&TButtonCaptions::YesToAll, 88, qrYesToAll},
      {&TButtonCaptions::No, 168, qrNo},
      {&TButtonCaptions::NoToAll, 248, qrNoToAll},
      {&TButtonCaptions::Cancel, 328, qrCancel}},
     qrCancel},
    {2, {{&TButtonCaptions::OK, 120, qrOK}, {&TButtonCaptions::Cancel, 208, qrCancel}}, qrCancel},
};

constexpr int kClientWidth = 410;
constexpr int kClientHeight = 83;
constexpr int kPanelHeight = 40;
constexpr int kIconBand = 49;
constexpr int kSpacer = 7;

class TQVMessage : public ui::TForm {
public:
    TQVMessage() {
        CreateForm("", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, WS_EX_DLGMODALFRAME);
        SetClientSize(kClientWidth, kClientHeight);
        KeyPreview = true;
        const LPCSTR stock[4] = {IDI_ERROR, IDI_WARNING, IDI_INFORMATION, IDI_QUESTION};
        for (int i = 0; i < 4; ++i) {
            images_[i] = Add<ui::TImage>(ui::TBounds{8, 8, 32, 32});
            images_[i]->SetIcon(LoadIconA(nullptr, stock[i]));
            images_[i]->SetVisible(false);
        }
        lblMessage = Add<ui::TLabel>("", ui::TBounds{kIconBand, kSpacer, kClientWidth - kIconBand,
                                                     kClientHeight - kPanelHeight - kSpacer});
        int top = kClientHeight - kPanelHeight + 7;
        for (int i = 0; i < kSlots; ++i) {
            buttons_[i] = Add<ui::TButton>("", ui::TBounds{8 + 80 * i, top, 75, 25});
            buttons_[i]->SetVisible(false);
            buttons_[i]->OnClick = [this, i] {
                PressedButton = static_cast<short>(i + 1);
                SetModalResult(ui::mrOk);
            };
        }
        messageBrush_.reset(CreateSolidBrush(GetSysColor(COLOR_WINDOW)));
    }

    // Keeps the set's places when every caption fits its 75-pixel slot;
    // otherwise widens all of the set's buttons to the widest caption, puts
    // them side by side in the middle and widens the window when they need it.
    void FitButtons(int count) {
        int width = 75;
        for (int i = 0; i < count; ++i) width = std::max(width, buttons_[i]->TextWidth96());
        if (width == 75) return;
        const int gap = 5;
        int row = count * width + (count - 1) * gap;
        int client = std::max(kClientWidth, row + 16);
        SetClientSize(client, kClientHeight);
        lblMessage->SetWidth(client - kIconBand);
        for (int i = 0; i < count; ++i) {
            ui::TBounds at = buttons_[i]->Bounds();
            buttons_[i]->SetBounds({(client - row) / 2 + i * (width + gap), at.top, width, at.height});
        }
    }

    ui::TImage* images_[4] = {};
    ui::TButton* buttons_[kSlots] = {};
    ui::TLabel* lblMessage = nullptr;
    short PressedButton = 0;
    QVResult EscapeResult = qrCancel;

protected:
    bool FormKeyUp(WORD key, unsigned) override {
        if (key != VK_ESCAPE) return false;
        Close();
        return true;
    }

    HBRUSH ControlColor(HDC dc, HWND control) override {
        // The message area is drawn on the window colour, above the panel.
        if (control == lblMessage->Handle() || GetDlgCtrlID(control) < buttons_[0]->Id()) {
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return messageBrush_.get();
        }
        return nullptr;
    }

    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == WM_ERASEBKGND) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            RECT r{};
            GetClientRect(Handle(), &r);
            RECT panel = r;
            panel.top = r.bottom - Scale(kPanelHeight);
            RECT upper = r;
            upper.bottom = panel.top;
            FillRect(dc, &upper, messageBrush_.get());
            FillRect(dc, &panel, GetSysColorBrush(COLOR_BTNFACE));
            return TRUE;
        }
        return ui::TForm::WndProc(msg, wParam, lParam);
    }

private:
    GdiObject<HBRUSH> messageBrush_;
};

}  // namespace
}  // namespace qv

QVResult QVMessage(const std::string& Text, const std::string& Caption, QVMessageType MsgType, QVButtons Buttons,
                   std::int16_t DefaultButton, QVLanguage Language, const std::string& FontFace) {
    using namespace qv;
    const TButtonCaptions* captions = ButtonCaptions(Language);
    if (!captions) throw std::runtime_error(LoadStr(IDS_MSG_INVALID_LANGUAGE));
    if (MsgType > qmtQuestion) throw std::runtime_error(LoadStr(IDS_MSG_INVALID_TYPE));
    if (Buttons > qbOKCancel) throw std::runtime_error(LoadStr(IDS_MSG_INVALID_BUTTONS));

    TQVMessage dialog;
    if (!FontFace.empty()) dialog.SetFontFace(FontFace);
    dialog.SetCaption(Caption.empty() ? ui::Application.Title : Caption);
    dialog.lblMessage->SetText(Text);
    dialog.images_[MsgType]->SetVisible(true);

    const TButtonSet& set = kButtonSets[Buttons];
    for (int i = 0; i < set.count; ++i) {
        ui::TButton* button = dialog.buttons_[i];
        button->SetText(captions->*(set.slots[i].caption));
        button->SetLeft(set.slots[i].left);
        button->SetVisible(true);
    }
    dialog.FitButtons(set.count);
    dialog.EscapeResult = set.escape;

    int d = (DefaultButton < 1 || DefaultButton > set.count) ? 1 : DefaultButton;
    // Tab order starts at the default slot and wraps around the five slots.
    const ui::TControl* previous = nullptr;
    for (int step = 0; step < kSlots; ++step) {
        ui::TButton* button = dialog.buttons_[(d - 1 + step) % kSlots];
        button->PlaceInTabOrderAfter(previous);
        previous = button;
    }
    dialog.SetActiveControl(dialog.buttons_[d - 1]);
    dialog.CenterOnScreen();

    dialog.PressedButton = 0;
    dialog.ShowModal();
    if (dialog.PressedButton >= 1 && dialog.PressedButton <= set.count) {
        return set.slots[dialog.PressedButton - 1].result;
    }
    return dialog.EscapeResult;
}
