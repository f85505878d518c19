#pragma once
// The about box: name, version, legal notice and credits beside a band in
// the application's accent colour with its icon, and buttons for System
// Information and technical support.
#include <string>

#include "ui/Form.h"

class TQVApplication;

class TAboutForm : public ui::TForm {
public:
    TAboutForm(const TQVApplication& record, const std::string& fontFace);

    ui::TLabel* lblApplicationName = nullptr;
    ui::TLabel* lblApplicationVersion = nullptr;
    ui::TLabel* lblLegalNotice = nullptr;
    ui::TLabel* lblCredits = nullptr;
    ui::TButton* cmdOK = nullptr;
    ui::TButton* cmdSystemInfo = nullptr;
    ui::TButton* cmdTechSupport = nullptr;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool FormKeyUp(WORD key, unsigned shift) override;

private:
    void PaintBand(HDC dc);
    const TQVApplication& record_;
};

// Shows the about box of the record modally.
void ShowAboutBox(const TQVApplication& record, const std::string& fontFace);
