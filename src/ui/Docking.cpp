#include "ui/Docking.h"

#include <algorithm>
#include <map>

#include "ui/Application.h"
#include "ui/Form.h"

namespace ui {

namespace {

const char kDockClass[] = "TQVDock";
const char kBarClass[] = "TQVDockBar";
// How far from an edge a dragged bar is taken into that edge's dock, also
// when the dock is empty.
constexpr int kDockZone96 = 24;
// The outer strip of a row in which a dragged bar starts a new row.
constexpr int kNewRowStrip96 = 4;

void EnsureClasses(WNDPROC barProc) {
    static bool registered = false;
    if (registered) return;
    registered = true;
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = Application.Instance();
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kDockClass;
    RegisterClassA(&wc);
    wc.lpfnWndProc = barProc;
    wc.lpszClassName = kBarClass;
    RegisterClassA(&wc);
}

bool IsVertical(TDockEdge edge) { return edge == deLeft || edge == deRight; }

}  // namespace

// ---------------------------------------------------------------- TDockBar

TDockBar::TDockBar(TDockSite& site, const std::string& caption) : site_(site), caption_(caption) {
    EnsureClasses(StaticProc);
    handle_ = CreateWindowExA(WS_EX_CONTROLPARENT, kBarClass, caption.c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                              0, 0, 10, 10, site.DockHandle(deTop), nullptr, Application.Instance(), this);
    site_.Attach(this);
}

TDockBar::~TDockBar() {
    site_.Detach(this);
    if (handle_ && IsWindow(handle_)) {
        SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
        DestroyWindow(handle_);
    }
}

int TDockBar::GripSize() const { return Application.Scale(8); }

void TDockBar::SetVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE);
    site_.Relayout();
}

void TDockBar::SetPlace(TDockEdge dock, int row, int pos) {
    site_.Place(*this, dock, row, pos);
    site_.Relayout();
}

SIZE TDockBar::Measure(bool vertical, int available) {
    int margin = Application.Scale(2);
    int grip = GripSize();
    if (vertical) {
        SIZE content = MeasureContent(true, available - grip - margin);
        return SIZE{content.cx + 2 * margin, content.cy + grip + margin};
    }
    SIZE content = MeasureContent(false, available - grip - margin);
    return SIZE{content.cx + grip + margin, content.cy + 2 * margin};
}

int TDockBar::MinimumLength(bool vertical) {
    int margin = Application.Scale(2);
    return MinimumContentLength(vertical) + GripSize() + margin;
}

int TDockBar::MinimumContentLength(bool vertical) {
    SIZE content = MeasureContent(vertical, 100000);
    return vertical ? content.cy : content.cx;
}

void TDockBar::PlaceContent(const RECT& area) {
    if (HWND content = Content()) {
        SetWindowPos(content, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void TDockBar::Arrange(const RECT& bounds, bool vertical) {
    vertical_ = vertical;
    int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    SetWindowPos(handle_, nullptr, bounds.left, bounds.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    int margin = Application.Scale(2);
    int grip = GripSize();
    PlaceContent(vertical ? RECT{margin, grip, width - margin, height - margin}
                          : RECT{grip, margin, width - margin, height - margin});
    // The content may have been laid out anew (other buttons, another
    // orientation) without painting itself: the whole bar is painted again.
    RedrawWindow(handle_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

bool TDockBar::HandleMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

void TDockBar::PaintGripper(HDC dc) {
    RECT client{};
    GetClientRect(handle_, &client);
    int inset = Application.Scale(3);
    int line = Application.Scale(3);
    RECT r = vertical_ ? RECT{inset, inset, client.right - inset, inset + line}
                       : RECT{inset, inset, inset + line, client.bottom - inset};
    DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
}

LRESULT TDockBar::Proc(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleMessage(msg, wParam, lParam, &result)) return result;
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(handle_, &ps);
        PaintGripper(dc);
        EndPaint(handle_, &ps);
        return 0;
    }
    case WM_SETCURSOR: {
        POINT p;
        GetCursorPos(&p);
        ScreenToClient(handle_, &p);
        if (reinterpret_cast<HWND>(wParam) == handle_ && (vertical_ ? p.y : p.x) < GripSize()) {
            SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32646)));  // IDC_SIZEALL
            return TRUE;
        }
        break;
    }
    case WM_LBUTTONDOWN: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if ((vertical_ ? p.y : p.x) < GripSize()) {
            dragging_ = true;
            grab_ = p;
            SetCapture(handle_);
            SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32646)));
        }
        return 0;
    }
    case WM_MOUSEMOVE:
        if (dragging_) {
            POINT screen;
            GetCursorPos(&screen);
            site_.DragTo(*this, screen, grab_);
        }
        return 0;
    case WM_LBUTTONUP:
        if (dragging_) ReleaseCapture();
        return 0;
    case WM_CAPTURECHANGED:
        dragging_ = false;
        return 0;
    default:
        break;
    }
    return DefWindowProcA(handle_, msg, wParam, lParam);
}

LRESULT CALLBACK TDockBar::StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* bar = static_cast<TDockBar*>(create->lpCreateParams);
        bar->handle_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bar));
    }
    auto* bar = reinterpret_cast<TDockBar*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!bar) return DefWindowProcA(hwnd, msg, wParam, lParam);
    try {
        return bar->Proc(msg, wParam, lParam);
    } catch (...) {
        Application.HandleException(std::current_exception());
        return 0;
    }
}

// --------------------------------------------------------------- TDockSite

TDockSite::TDockSite(TForm& form) : form_(form) {
    EnsureClasses(TDockBar::StaticProc);
    for (int edge = deTop; edge <= deRight; ++edge) {
        docks_[edge] = CreateWindowExA(WS_EX_CONTROLPARENT, kDockClass, "",
                                       WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                                       form.Handle(), nullptr, Application.Instance(), nullptr);
    }
}

void TDockSite::Attach(TDockBar* bar) { bars_.push_back(bar); }

void TDockSite::Detach(TDockBar* bar) { bars_.erase(std::remove(bars_.begin(), bars_.end(), bar), bars_.end()); }

void TDockSite::Assign(TDockBar& bar, TDockEdge dock, int row, int pos) {
    if (dock < deTop || dock > deRight) dock = deTop;
    bar.dock_ = dock;
    bar.row_ = row;
    bar.pos_ = std::max(0, pos);
    if (GetParent(bar.handle_) != docks_[dock]) SetParent(bar.handle_, docks_[dock]);
}

void TDockSite::Place(TDockBar& bar, TDockEdge dock, int row, int pos) {
    TDockEdge old = bar.dock_;
    Assign(bar, dock, row, pos);
    if (old != bar.dock_) NormalizeRows(old);
    NormalizeRows(bar.dock_);
}

void TDockSite::SetPlaces(const std::vector<TPlace>& places) {
    for (const TPlace& place : places) Assign(*place.Bar, place.Dock, place.Row, place.Pos);
    for (int edge = deTop; edge <= deRight; ++edge) NormalizeRows(static_cast<TDockEdge>(edge));
    Relayout();
}

void TDockSite::OpenRow(TDockEdge edge, int row, const TDockBar& except) {
    for (TDockBar* other : bars_) {
        if (other != &except && other->dock_ == edge && other->row_ >= row) ++other->row_;
    }
}

bool TDockSite::FitsInRow(TDockBar& bar, TDockEdge edge, int row, int length) {
    bool vertical = IsVertical(edge);
    auto along = [vertical, length](TDockBar& b) {
        SIZE size = b.Measure(vertical, length);
        return vertical ? size.cy : size.cx;
    };
    int total = along(bar);
    for (TDockBar* other : bars_) {
        if (other != &bar && other->visible_ && other->dock_ == edge && other->row_ == row) total += along(*other);
    }
    return total <= length;
}

void TDockSite::NormalizeRows(TDockEdge edge) {
    std::map<int, int> numbers;
    for (TDockBar* bar : bars_) {
        if (bar->dock_ == edge) numbers[bar->row_] = 0;
    }
    int next = 0;
    for (auto& entry : numbers) entry.second = next++;
    for (TDockBar* bar : bars_) {
        if (bar->dock_ == edge) bar->row_ = numbers[bar->row_];
    }
}

int TDockSite::LayoutDock(TDockEdge edge, int length) {
    bool vertical = IsVertical(edge);
    std::map<int, std::vector<TDockBar*>> rows;
    for (TDockBar* bar : bars_) {
        if (bar->dock_ == edge && bar->visible_) rows[bar->row_].push_back(bar);
    }
    std::vector<TRowSpan> spans;
    int start = 0;
    for (auto& [row, members] : rows) {
        std::stable_sort(members.begin(), members.end(),
                         [](const TDockBar* a, const TDockBar* b) { return a->pos_ < b->pos_; });
        size_t n = members.size();
        std::vector<int> left(n), main(n), least(n);
        // Whole lengths first; when the row is too short, the bars that can
        // offer their rest behind a chevron give way first, from the last
        // one back, and the stretching bars (which wrap) only after them.
        int total = 0;
        for (size_t i = 0; i < n; ++i) {
            SIZE size = members[i]->Measure(vertical, length);
            main[i] = vertical ? size.cy : size.cx;
            least[i] = std::min(main[i], members[i]->MinimumLength(vertical));
            total += main[i];
        }
        int deficit = total - length;
        for (bool stretching : {false, true}) {
            for (size_t i = n; i-- > 0 && deficit > 0;) {
                if (members[i]->FullWidth != stretching) continue;
                int cut = std::min(deficit, main[i] - least[i]);
                main[i] -= cut;
                deficit -= cut;
            }
        }
        // Each bar as far along as asked and after the one before it; bars
        // that run past the end are pushed back towards the start.
        int end = 0;
        for (size_t i = 0; i < n; ++i) {
            left[i] = std::max(members[i]->pos_, end);
            end = left[i] + main[i];
        }
        int limit = length;
        for (size_t i = n; i-- > 0;) {
            if (left[i] + main[i] > limit) left[i] = std::max(0, limit - main[i]);
            limit = left[i];
        }
        for (size_t i = 1; i < n; ++i) left[i] = std::max(left[i], left[i - 1] + main[i - 1]);
        // A full-width bar takes the room up to the next bar.
        int thickness = 0;
        std::vector<int> cross(n);
        for (size_t i = 0; i < n; ++i) {
            int next = i + 1 < n ? left[i + 1] : length;
            if (members[i]->FullWidth && !vertical) main[i] = std::max(main[i], next - left[i]);
            SIZE size = members[i]->Measure(vertical, main[i]);
            cross[i] = vertical ? size.cx : size.cy;
            thickness = std::max(thickness, cross[i]);
        }
        for (size_t i = 0; i < n; ++i) {
            RECT r = vertical ? RECT{start, left[i], start + thickness, left[i] + main[i]}
                              : RECT{left[i], start, left[i] + main[i], start + thickness};
            members[i]->Arrange(r, vertical);
        }
        spans.push_back(TRowSpan{row, start, thickness});
        start += thickness;
    }
    rowSpans_[edge] = spans;
    return start;
}

RECT TDockSite::Layout(const RECT& area) {
    area_ = area;
    int width = std::max<int>(0, area.right - area.left);
    int height = std::max<int>(0, area.bottom - area.top);
    int top = LayoutDock(deTop, width);
    int bottom = LayoutDock(deBottom, width);
    int middle = std::max(0, height - top - bottom);
    int left = LayoutDock(deLeft, middle);
    int right = LayoutDock(deRight, middle);
    rects_[deTop] = RECT{area.left, area.top, area.right, area.top + top};
    rects_[deBottom] = RECT{area.left, area.bottom - bottom, area.right, area.bottom};
    rects_[deLeft] = RECT{area.left, area.top + top, area.left + left, area.top + top + middle};
    rects_[deRight] = RECT{area.right - right, area.top + top, area.right, area.top + top + middle};
    for (int edge = deTop; edge <= deRight; ++edge) {
        const RECT& r = rects_[edge];
        SetWindowPos(docks_[edge], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        // Bars that left a dock or moved in it leave pictures of themselves
        // behind unless the dock is painted again.
        RedrawWindow(docks_[edge], nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }
    return RECT{area.left + left, area.top + top, area.right - right, area.bottom - bottom};
}

void TDockSite::Relayout() {
    if (OnLayoutChanged) {
        OnLayoutChanged();
    } else {
        Layout(area_);
    }
}

TDockEdge TDockSite::DockAt(POINT p, TDockEdge current) const {
    int zone = Application.Scale(kDockZone96);
    auto thickness = [this](TDockEdge e) {
        const RECT& r = rects_[e];
        return IsVertical(e) ? r.right - r.left : r.bottom - r.top;
    };
    auto inZone = [&](TDockEdge e) {
        int depth = std::max(zone, static_cast<int>(thickness(e)));
        int middleTop = area_.top + thickness(deTop), middleBottom = area_.bottom - thickness(deBottom);
        switch (e) {
            // A pointer a little outside the area (over the title bar or the
            // frame) still reaches the edge's dock.
            case deTop:
                return p.x >= area_.left && p.x < area_.right && p.y >= area_.top - zone && p.y < area_.top + depth;
            case deBottom:
                return p.x >= area_.left && p.x < area_.right && p.y < area_.bottom + zone &&
                       p.y >= area_.bottom - depth;
            case deLeft:
                return p.y >= middleTop && p.y < middleBottom && p.x >= area_.left - zone && p.x < area_.left + depth;
            case deRight:
            default:
                return p.y >= middleTop && p.y < middleBottom && p.x < area_.right + zone && p.x >= area_.right - depth;
        }
    };
    if (inZone(current)) return current;
    for (TDockEdge e : {deTop, deBottom, deLeft, deRight}) {
        if (inZone(e)) return e;
    }
    return current;
}

void TDockSite::DragTo(TDockBar& bar, POINT screen, POINT grab) {
    POINT p = screen;
    ScreenToClient(form_.Handle(), &p);
    TDockEdge target = DockAt(p, bar.dock_);
    bool vertical = IsVertical(target);
    const RECT& dock = rects_[target];
    int cross = vertical ? p.x - dock.left : p.y - dock.top;
    int along = vertical ? p.y - dock.top : p.x - dock.left;
    // The bar is held by its gripper, at the start of the bar in either
    // orientation.
    int held = std::min<int>(bar.vertical_ ? grab.y : grab.x, bar.GripSize());
    int pos = std::max(0, along - held);

    const std::vector<TRowSpan>& spans = rowSpans_[target];
    auto aloneIn = [&](int row) {
        if (bar.dock_ != target || bar.row_ != row) return false;
        for (TDockBar* other : bars_) {
            if (other != &bar && other->visible_ && other->dock_ == target && other->row_ == row) return false;
        }
        return true;
    };
    int strip = Application.Scale(kNewRowStrip96);
    int row = 0;
    if (!spans.empty()) {
        const TRowSpan& first = spans.front();
        const TRowSpan& last = spans.back();
        int total = last.start + last.thickness;
        if (cross < first.start || (cross < first.start + strip && !aloneIn(first.row))) {
            row = first.row - 1;
        } else if (cross >= total || (cross >= total - strip && !aloneIn(last.row))) {
            row = last.row + 1;
        } else {
            row = last.row;
            for (const TRowSpan& span : spans) {
                if (cross >= span.start && cross < span.start + span.thickness) {
                    row = span.row;
                    break;
                }
            }
        }
    }
    // Into a row of other bars only where it fits beside them at its whole
    // length; else into a row of its own next to that one.
    bool existing = !spans.empty() && row >= spans.front().row && row <= spans.back().row;
    if (existing && !aloneIn(row)) {
        int length = vertical ? dock.bottom - dock.top : dock.right - dock.left;
        if (!FitsInRow(bar, target, row, length)) {
            for (const TRowSpan& span : spans) {
                if (span.row != row) continue;
                if (cross >= span.start + span.thickness / 2) ++row;
                OpenRow(target, row, bar);
                break;
            }
        }
    }
    if (target == bar.dock_ && row == bar.row_ && pos == bar.pos_) return;
    // A new row before the first: the others move down one.
    if (row < 0) {
        OpenRow(target, 0, bar);
        row = 0;
    }
    Place(bar, target, row, pos);
    Relayout();
}

}  // namespace ui
