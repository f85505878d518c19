#pragma once
// Progress bar, tab control and image lists.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "common/QVHandles.h"
#include "ui/Controls.h"

namespace ui {

class TProgressBar : public TControl {
public:
    // A smooth bar that advances by one step.
    TProgressBar(TForm& owner, const TBounds& bounds);
    void SetMax(int max);
    int Max() const;
    int Position() const;
    void StepIt();
};

// A tab control whose pages are sets of sibling controls shown only while
// their tab is selected.
class TTabControl : public TControl {
public:
    TTabControl(TForm& owner, const TBounds& bounds);
    // Adds a page; returns its index.
    int AddPage(const std::string& caption);
    // The page's area in the form's client coordinates at 96 DPI.
    TBounds PageBounds() const;
    void AddToPage(int page, TControl* control);
    int ActivePage() const;
    void SetActivePage(int page);
    int PageCount() const { return static_cast<int>(pages_.size()); }
    bool HandleNotify(NMHDR* header, LRESULT* result) override;
    // Whether the window is one of the pages' controls.
    bool OnPage(HWND control) const;
    // The colour the tab control paints inside its page (plain, or the
    // visual style's), and a brush of it: page controls and the insides of
    // group boxes are painted with it, so that nothing shows a strip of
    // another colour. Taken from the control's own painting once.
    COLORREF PageColor();
    HBRUSH PageBrush();
    // The page's area in the parent's client coordinates, in pixels.
    RECT PageRect() const;

private:
    void ShowPage(int page);
    std::vector<std::vector<TControl*>> pages_;
    COLORREF pageColor_ = CLR_INVALID;
    qv::GdiObject<HBRUSH> pageBrush_;
};

// A status bar with one simple panel showing a line of text; placed by the
// form (it does not align itself).
class TStatusBar : public TControl {
public:
    TStatusBar(TForm& owner, const TBounds& bounds);
    void SetSimpleText(const std::string& text);
    std::string SimpleText() const;
};

// An image list of 16 x 16 pictures, owned by the object.
class TImageList {
public:
    TImageList() = default;
    ~TImageList();
    TImageList(const TImageList&) = delete;
    TImageList& operator=(const TImageList&) = delete;
    // Loads a strip of 16 x 16 pictures from a 32-bit bitmap resource.
    bool LoadStrip(HINSTANCE instance, int resourceId);
    // Adds an icon (its 16 x 16 image); returns its index or -1.
    int AddIcon(HICON icon);
    HIMAGELIST Handle() const { return list_; }
    int Count() const { return list_ ? ImageList_GetImageCount(list_) : 0; }

private:
    void Ensure();
    HIMAGELIST list_ = nullptr;
};

}  // namespace ui
