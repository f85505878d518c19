#pragma once
// The splash window: the splash picture with the version, the legal notice
// and a notice drawn over it; borderless, always on top, centred.
#include <windows.h>

#include <string>

#include "ui/Form.h"

class TQVApplication;

class TSplashForm : public ui::TForm {
public:
    // `picture` stays owned by the caller; null shows the silver background.
    TSplashForm(const TQVApplication& record, HBITMAP picture, COLORREF textColor);

    std::string VersionText;
    std::string LegalText;
    std::string NoticeText;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint(HDC dc);
    HBITMAP picture_;
    SIZE pictureSize_{};
    COLORREF textColor_;
    HFONT versionFont_ = nullptr;
    HFONT smallFont_ = nullptr;
};

// Shows the splash window without making it modal and paints it at once.
void ShowSplash(const TQVApplication& record, HBITMAP picture, COLORREF textColor);
// Closes the splash window and handles the pending messages once.
void HideSplash();
// The splash window while it is shown; null otherwise.
TSplashForm* SplashForm();
