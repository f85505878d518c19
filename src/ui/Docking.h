#pragma once
// Dockable bars: four docks along the edges of a form, each holding bars in
// rows. A bar is dragged by its gripper to another position in its row, to
// another row (or a new one) of its dock, or to another edge. A bar's place
// is its dock, its row (0 is the row nearest the top or the left) and its
// position along the row; the layout keeps those as asked where they fit.
#include <windows.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace ui {

class TForm;

enum TDockEdge : int { deTop = 0, deBottom = 1, deLeft = 2, deRight = 3 };

class TDockSite;

// A bar: a window with a gripper and one content window (a toolbar).
class TDockBar {
public:
    TDockBar(TDockSite& site, const std::string& caption);
    virtual ~TDockBar();
    TDockBar(const TDockBar&) = delete;
    TDockBar& operator=(const TDockBar&) = delete;

    HWND Handle() const { return handle_; }
    std::string Caption() const { return caption_; }

    TDockEdge CurrentDock() const { return dock_; }
    int DockRow() const { return row_; }
    int DockPos() const { return pos_; }
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    // Moves the bar; the site lays itself out again.
    void SetPlace(TDockEdge dock, int row, int pos);

    // A bar that stretches to the end of its row in a horizontal dock.
    bool FullWidth = false;

    // Size of the content for the orientation; `available` is the length
    // the dock offers along its main axis. A content that cannot show
    // everything in that length returns at most `available` and offers the
    // rest in another way (a chevron, or more lines).
    virtual SIZE MeasureContent(bool vertical, int available) = 0;
    // The least length along the dock's axis the content can be given; by
    // default its whole length for the orientation.
    virtual int MinimumContentLength(bool vertical);
    // Places the content window in `area` (bar client coordinates).
    virtual void PlaceContent(const RECT& area);
    // The content window, placed by the bar.
    virtual HWND Content() const = 0;
    // Notifications and commands of the content window.
    virtual bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // The bar's size for the orientation (gripper and margins included).
    SIZE Measure(bool vertical, int available);
    // The least length of the bar along the dock's axis.
    int MinimumLength(bool vertical);
    void Arrange(const RECT& bounds, bool vertical);
    // Width of the gripper strip.
    int GripSize() const;

protected:
    TDockSite& Site() const { return site_; }
    bool Vertical() const { return vertical_; }

private:
    friend class TDockSite;
    static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Proc(UINT msg, WPARAM wParam, LPARAM lParam);
    void PaintGripper(HDC dc);

    TDockSite& site_;
    HWND handle_ = nullptr;
    std::string caption_;
    TDockEdge dock_ = deTop;
    int row_ = 0;
    int pos_ = 0;
    bool visible_ = true;
    bool vertical_ = false;
    bool dragging_ = false;
    POINT grab_{};  // the pointer's offset in the bar at the start of a drag
};

// The four docks of a form and the bars in them.
class TDockSite {
public:
    explicit TDockSite(TForm& form);
    TDockSite(const TDockSite&) = delete;
    TDockSite& operator=(const TDockSite&) = delete;

    TForm& Form() const { return form_; }
    HWND DockHandle(TDockEdge edge) const { return docks_[edge]; }
    RECT DockRect(TDockEdge edge) const { return rects_[edge]; }

    // Places the docks inside `area` (form client coordinates) and returns
    // what is left for the form's other controls.
    RECT Layout(const RECT& area);
    // Lays out again inside the last area and tells the form.
    void Relayout();
    std::function<void()> OnLayoutChanged;

    // Moving a bar by dragging: the pointer in screen coordinates, and the
    // pointer's offset inside the bar when the drag began. A bar dropped
    // into a row where it does not fit beside the others gets a row of its
    // own, before that row when the pointer is in its first half.
    void DragTo(TDockBar& bar, POINT screen, POINT grab);

    // Puts several bars at their places at once, as a stored layout asks:
    // rows are numbered anew only after every bar has its place, so no bar's
    // row is taken for another's on the way.
    struct TPlace {
        TDockBar* Bar;
        TDockEdge Dock;
        int Row;
        int Pos;
    };
    void SetPlaces(const std::vector<TPlace>& places);

    const std::vector<TDockBar*>& Bars() const { return bars_; }

private:
    friend class TDockBar;
    void Attach(TDockBar* bar);
    void Detach(TDockBar* bar);
    void Place(TDockBar& bar, TDockEdge dock, int row, int pos);
    void Assign(TDockBar& bar, TDockEdge dock, int row, int pos);
    void NormalizeRows(TDockEdge edge);
    // Whether `bar` fits beside the other visible bars of the row at their
    // whole lengths.
    bool FitsInRow(TDockBar& bar, TDockEdge edge, int row, int length);
    // Makes room for a new row: the rows from `row` on, but the bar's, move
    // one further.
    void OpenRow(TDockEdge edge, int row, const TDockBar& except);
    // Lays out one dock of `length` along its axis; returns its thickness.
    int LayoutDock(TDockEdge edge, int length);
    struct TRowSpan {
        int row, start, thickness;
    };
    TDockEdge DockAt(POINT client, TDockEdge current) const;

    TForm& form_;
    std::array<HWND, 4> docks_{};
    std::array<RECT, 4> rects_{};
    std::array<std::vector<TRowSpan>, 4> rowSpans_;
    std::vector<TDockBar*> bars_;
    RECT area_{};
};

}  // namespace ui
