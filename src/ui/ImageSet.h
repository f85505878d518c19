#pragma once
// A set of square pictures in two image lists, as drawn and greyed out for
// disabled commands, loaded from the bitmap strip whose picture size suits
// the screen's DPI.
#include <windows.h>
#include <commctrl.h>

#include <utility>
#include <vector>

namespace ui {

class TImageSet {
public:
    TImageSet() = default;
    ~TImageSet();
    TImageSet(const TImageSet&) = delete;
    TImageSet& operator=(const TImageSet&) = delete;

    // Candidates are (picture size, bitmap resource) pairs of 32-bit strips
    // with straight alpha. Takes the largest picture no larger than 16
    // pixels scaled to `dpi`, else the smallest. False when none loads.
    bool Load(HINSTANCE instance, const std::vector<std::pair<int, int>>& candidates, int dpi);

    int Size() const { return size_; }
    int Count() const { return normal_ ? ImageList_GetImageCount(normal_) : 0; }
    HIMAGELIST Normal() const { return normal_; }
    HIMAGELIST Disabled() const { return disabled_; }
    // Draws a picture with its top left corner at (x, y).
    void Draw(HDC dc, int index, int x, int y, bool enabled) const;
    // A new icon of the picture; the caller destroys it.
    HICON MakeIcon(int index) const;

private:
    HIMAGELIST normal_ = nullptr;
    HIMAGELIST disabled_ = nullptr;
    int size_ = 0;
};

}  // namespace ui
