#pragma once
// Whether the texts of a window fit their controls, measured with the font
// each control actually draws with, so that the check holds at any DPI and
// with any face.
#include <windows.h>

#include <string>
#include <vector>

namespace testenv {

// Every visible control of the window (a child at any depth) whose text does
// not fit its rectangle: static texts (wrapped when the control wraps),
// check boxes and radio buttons (their glyph included), push buttons (their
// margins included), group box captions, and tab controls (every tab inside
// the control, no scroll arrows). One line per control, naming its text and
// the sizes needed and given, in pixels.
std::vector<std::string> TextMisfits(HWND window);

// The misfits as one text for a failure message; empty when all fit.
std::string DescribeMisfits(HWND window);

// The '&' letters (upper case) of the visible, enabled controls of the
// window that carry one, each with the text it came from.
std::vector<std::pair<char, std::string>> Mnemonics(HWND window);

}  // namespace testenv
