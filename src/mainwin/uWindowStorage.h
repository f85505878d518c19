#pragma once
// The main window's stored state: its placement, its bars, its bottom panel,
// its column widths and its style, as values of the "Storage" subkey of the
// application key. Reading never fails: a value that is missing or malformed
// leaves the caller's default in place, and a placement that would put the
// window out of reach is corrected.
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TBarState {
    int CurrentDock = 0;  // 0 top, 1 bottom, 2 left, 3 right
    int DockPos = 0;
    int DockRow = 0;
    bool Visible = true;
};

struct TWindowState {
    bool HasPlacement = false;  // a whole, well-formed placement was read
    UINT Flags = 0;
    UINT ShowCmd = SW_SHOWNORMAL;
    int PixelsPerInch = 96;
    POINT MinPos{-1, -1};
    POINT MaxPos{-1, -1};
    RECT NormPos{0, 0, 0, 0};
    bool Visible = true;
    TBarState Menu;     // "tbMenu.*"
    TBarState Toolbar;  // "tbMain.*"
    bool BottomVisible = true;  // "pBottom.Visible"
    int Column0 = 150;
    int Column1 = 230;
    int FormStyle = 0;  // 0 normal, 3 stay on top
};

// Four integers written as "%d,%d,%d,%d"; false (and `out` untouched) for
// any other text.
bool ParseFourIntegers(const std::string& text, std::array<int, 4>& out);
std::string FormatFourIntegers(const std::array<int, 4>& values);

// Reads the state under root\key, starting from `defaults`.
TWindowState ReadWindowState(HKEY root, const std::string& key, const TWindowState& defaults);
// Writes every value of the state under root\key.
void WriteWindowState(HKEY root, const std::string& key, const TWindowState& state);

// Makes a read placement safe to apply: never hidden or minimised (a
// maximised window stays maximised), sizes scaled from the stored DPI to
// `dpi` and at least `minSize`, and a window whose title bar would lie on
// none of the `workAreas` centred on the first of them.
void SanitizePlacement(TWindowState& state, int dpi, SIZE minSize, const std::vector<RECT>& workAreas);

// The work areas of every monitor, the primary one first.
std::vector<RECT> MonitorWorkAreas();
