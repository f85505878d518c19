#pragma once
// The tip of the day: a modal window that shows the tips of the record's
// tips file one at a time, in an order drawn anew at every call, with a box
// that decides whether tips appear when the program starts.
#include <string>
#include <vector>

#include "common/QVHandles.h"
#include "ui/Form.h"

class TQVApplication;

class TTipOfTheDayForm : public ui::TForm {
public:
    explicit TTipOfTheDayForm(const TQVApplication& record);

    // Sets the font face and the box, reads and shuffles the tips and shows
    // the first. Returns false when the file holds no tip (nothing to show);
    // a file that cannot be read leaves an empty tip and returns true.
    bool Prepare(const std::string& fontFace, bool showTips);
    // Shows the next tip, the first again after the last.
    void cmdNextTipClick();

    const std::vector<std::string>& Tips() const { return tips_; }
    size_t TipIndex() const { return index_; }

    ui::TControl* pnlTip = nullptr;
    ui::TLabel* lblHeading = nullptr;
    ui::TLabel* lblMessage = nullptr;
    ui::TCheckBox* chkShowTips = nullptr;
    ui::TButton* cmdNextTip = nullptr;
    ui::TButton* cmdClose = nullptr;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool FormKeyUp(WORD key, unsigned shift) override;
    HBRUSH ControlColor(HDC dc, HWND control) override;

private:
    void PaintPanel(HDC dc, const RECT& inner);
    void ShowTip();

    const TQVApplication& record_;
    std::vector<std::string> tips_;
    size_t index_ = 0;
    qv::GdiObject<HBITMAP> picture_;
};

// Shows the tips of the record's tips file when `showTips` is on or the user
// `asked`, and returns the new value of the ShowTips option: the box's state
// when the window was prepared, `showTips` unchanged when the file holds no
// tip, false when there is no tips file (after a warning when asked).
bool ShowTipOfTheDay(const TQVApplication& record, bool showTips, bool asked);
