#include "mainwin/uWindowStorage.h"

#include <algorithm>
#include <cstdlib>

#include "common/QVRegUtils.h"

namespace {

// A value that cannot be a stored integer, to tell "missing" from any number.
constexpr std::int32_t kMissing = INT32_MIN;

int ReadInt(HKEY root, const std::string& key, const std::string& name, int fallback) {
    std::int32_t value = qv::ReadRegInteger(root, key, name, kMissing);
    return value == kMissing ? fallback : value;
}

void ReadBar(HKEY root, const std::string& key, const std::string& prefix, TBarState& bar) {
    int dock = ReadInt(root, key, prefix + ".CurrentDock", bar.CurrentDock);
    int pos = ReadInt(root, key, prefix + ".DockPos", bar.DockPos);
    int row = ReadInt(root, key, prefix + ".DockRow", bar.DockRow);
    // Out-of-range values are ignored one by one.
    if (dock >= 0 && dock <= 3) bar.CurrentDock = dock;
    if (pos >= 0 && pos <= 100000) bar.DockPos = pos;
    if (row >= 0 && row <= 100) bar.DockRow = row;
    bar.Visible = qv::ReadRegBool(root, key, prefix + ".Visible", bar.Visible);
}

void WriteBar(HKEY root, const std::string& key, const std::string& prefix, const TBarState& bar) {
    qv::WriteRegInteger(root, key, prefix + ".CurrentDock", bar.CurrentDock);
    qv::WriteRegInteger(root, key, prefix + ".DockPos", bar.DockPos);
    qv::WriteRegInteger(root, key, prefix + ".DockRow", bar.DockRow);
    qv::WriteRegBool(root, key, prefix + ".Visible", bar.Visible);
}

}  // namespace

bool ParseFourIntegers(const std::string& text, std::array<int, 4>& out) {
    std::array<int, 4> values{};
    const char* p = text.c_str();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != ',') return false;
            ++p;
        }
        const char* start = p;
        if (*p == '-') ++p;
        if (*p < '0' || *p > '9') return false;
        while (*p >= '0' && *p <= '9') ++p;
        if (p - start > 7) return false;  // beyond any screen coordinate
        values[static_cast<size_t>(i)] = std::atoi(start);
    }
    if (*p != '\0') return false;
    out = values;
    return true;
}

std::string FormatFourIntegers(const std::array<int, 4>& values) {
    return std::to_string(values[0]) + "," + std::to_string(values[1]) + "," + std::to_string(values[2]) + "," +
           std::to_string(values[3]);
}

TWindowState ReadWindowState(HKEY root, const std::string& key, const TWindowState& defaults) {
    TWindowState state = defaults;
    std::array<int, 4> norm{}, minMax{};
    int showCmd = ReadInt(root, key, "ShowCmd", kMissing);
    if (ParseFourIntegers(qv::ReadRegString(root, key, "NormPos", ""), norm) && showCmd != kMissing &&
        norm[2] > norm[0] && norm[3] > norm[1]) {
        state.HasPlacement = true;
        state.NormPos = RECT{norm[0], norm[1], norm[2], norm[3]};
        state.ShowCmd = static_cast<UINT>(showCmd);
        state.Flags = static_cast<UINT>(ReadInt(root, key, "Flags", 0)) & (WPF_SETMINPOSITION | WPF_RESTORETOMAXIMIZED);
        if (ParseFourIntegers(qv::ReadRegString(root, key, "MinMaxPos", ""), minMax)) {
            state.MinPos = POINT{minMax[0], minMax[1]};
            state.MaxPos = POINT{minMax[2], minMax[3]};
        }
        int ppi = ReadInt(root, key, "PixelsPerInch", 96);
        state.PixelsPerInch = ppi >= 48 && ppi <= 960 ? ppi : 96;
        state.Visible = qv::ReadRegBool(root, key, "Visible", true);
    }
    ReadBar(root, key, "tbMenu", state.Menu);
    ReadBar(root, key, "tbMain", state.Toolbar);
    state.BottomVisible = qv::ReadRegBool(root, key, "pBottom.Visible", state.BottomVisible);
    int column0 = ReadInt(root, key, "Column0", state.Column0);
    int column1 = ReadInt(root, key, "Column1", state.Column1);
    if (column0 >= 0 && column0 <= 10000) state.Column0 = column0;
    if (column1 >= 0 && column1 <= 10000) state.Column1 = column1;
    // Any style but stay on top is the normal one.
    state.FormStyle = ReadInt(root, key, "FormStyle", state.FormStyle) == 3 ? 3 : 0;
    return state;
}

void WriteWindowState(HKEY root, const std::string& key, const TWindowState& state) {
    qv::WriteRegInteger(root, key, "FormVersion", 0);
    qv::WriteRegInteger(root, key, "Flags", static_cast<std::int32_t>(state.Flags));
    qv::WriteRegInteger(root, key, "ShowCmd", static_cast<std::int32_t>(state.ShowCmd));
    qv::WriteRegInteger(root, key, "PixelsPerInch", state.PixelsPerInch);
    qv::WriteRegString(root, key, "MinMaxPos",
                       FormatFourIntegers({static_cast<int>(state.MinPos.x), static_cast<int>(state.MinPos.y),
                                           static_cast<int>(state.MaxPos.x), static_cast<int>(state.MaxPos.y)}));
    qv::WriteRegString(root, key, "NormPos",
                       FormatFourIntegers({static_cast<int>(state.NormPos.left), static_cast<int>(state.NormPos.top),
                                           static_cast<int>(state.NormPos.right),
                                           static_cast<int>(state.NormPos.bottom)}));
    qv::WriteRegBool(root, key, "Visible", state.Visible);
    WriteBar(root, key, "tbMenu", state.Menu);
    WriteBar(root, key, "tbMain", state.Toolbar);
    qv::WriteRegBool(root, key, "pBottom.Visible", state.BottomVisible);
    qv::WriteRegInteger(root, key, "Column0", state.Column0);
    qv::WriteRegInteger(root, key, "Column1", state.Column1);
    qv::WriteRegInteger(root, key, "FormStyle", state.FormStyle);
}

void SanitizePlacement(TWindowState& state, int dpi, SIZE minSize, const std::vector<RECT>& workAreas) {
    if (!state.HasPlacement) return;
    state.Visible = true;
    state.ShowCmd = state.ShowCmd == SW_SHOWMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    state.Flags &= ~static_cast<UINT>(WPF_SETMINPOSITION);
    RECT& r = state.NormPos;
    int width = r.right - r.left, height = r.bottom - r.top;
    if (state.PixelsPerInch != dpi && state.PixelsPerInch > 0) {
        width = MulDiv(width, dpi, state.PixelsPerInch);
        height = MulDiv(height, dpi, state.PixelsPerInch);
        state.PixelsPerInch = dpi;
    }
    width = std::max<int>(width, minSize.cx);
    height = std::max<int>(height, minSize.cy);
    r.right = r.left + width;
    r.bottom = r.top + height;
    if (workAreas.empty()) return;
    // The title bar must be reachable: a strip along the window's top edge
    // has to overlap a work area by a grip's width.
    RECT title{r.left, r.top, r.right, r.top + GetSystemMetrics(SM_CYCAPTION) + 4};
    for (const RECT& work : workAreas) {
        RECT overlap{};
        if (IntersectRect(&overlap, &title, &work) && overlap.right - overlap.left >= 32 && r.top >= work.top) return;
    }
    const RECT& primary = workAreas.front();
    width = std::min<int>(width, primary.right - primary.left);
    height = std::min<int>(height, primary.bottom - primary.top);
    r.left = primary.left + ((primary.right - primary.left) - width) / 2;
    r.top = primary.top + ((primary.bottom - primary.top) - height) / 2;
    r.right = r.left + width;
    r.bottom = r.top + height;
}

namespace {

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    auto* areas = reinterpret_cast<std::vector<RECT>*>(param);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoA(monitor, &info)) {
        if (info.dwFlags & MONITORINFOF_PRIMARY) {
            areas->insert(areas->begin(), info.rcWork);
        } else {
            areas->push_back(info.rcWork);
        }
    }
    return TRUE;
}

}  // namespace

std::vector<RECT> MonitorWorkAreas() {
    std::vector<RECT> areas;
    EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, reinterpret_cast<LPARAM>(&areas));
    if (areas.empty()) {
        RECT work{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        areas.push_back(work);
    }
    // Placements are in workspace coordinates: relative to the primary
    // monitor's work area rather than to the screen.
    RECT primaryWork = areas.front();
    POINT origin{0, 0};
    HMONITOR primary = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoA(primary, &info)) {
        int dx = primaryWork.left - info.rcMonitor.left, dy = primaryWork.top - info.rcMonitor.top;
        for (RECT& area : areas) OffsetRect(&area, -dx, -dy);
    }
    return areas;
}
