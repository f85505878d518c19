#pragma once
// A report-view list that asks its owner for the rows it shows (a virtual
// list view): it holds no copies, so a list of any length costs the same to
// show, and refreshing means telling it the row count.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "ui/Controls.h"

namespace ui {

class TListView : public TControl {
public:
    // `extraStyle`: additional LVS_ styles, e.g. LVS_NOCOLUMNHEADER.
    TListView(TForm& owner, const TBounds& bounds, DWORD extraStyle = 0);

    void AddColumn(const std::string& caption, int width96);
    int ColumnWidth(int column) const;
    void SetSmallImages(HIMAGELIST images);

    // The rows: their number, and their texts and images on demand.
    std::function<std::string(int row, int column)> OnGetText;
    std::function<int(int row)> OnGetImage;
    void SetItemCount(int count);
    int ItemCount() const;
    // Repaints rows whose data changed.
    void RefreshRows(int first, int last);
    void RefreshAll();

    // The selected row (at most one), or -1.
    int Selected() const;
    void Select(int row, bool focus = true);
    void EnsureVisible(int row);
    // Brings a row that is out of view to the top of the list, so that a
    // list filling row by row scrolls once a page rather than once a row.
    void ShowRowPaged(int row);
    // Where a context menu opens for WM_CONTEXTMENU's point: the point
    // itself, or from the keyboard (-1, -1) below the selected row or at the
    // list's top left corner; in screen coordinates.
    POINT ContextMenuPoint(POINT at) const;
    // The row at a point in client coordinates, or -1.
    int RowAt(POINT client) const;

    std::function<void()> OnSelectionChange;
    std::function<void(int row)> OnDoubleClick;

    bool HandleNotify(NMHDR* header, LRESULT* result) override;

private:
    int columns_ = 0;
    std::string textBuffer_;
    mutable int selected_ = -1;  // the row last known to be selected
};

}  // namespace ui
