#pragma once
// Drives the program's real modal windows from inside the test process: the
// window is shown by the code under test, and a thread timer, dispatched by
// the window's own modal loop, runs the test's steps against it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testenv {

using DialogStep = std::function<void(HWND dialog)>;

// Runs `show`, which must show a modal form (or system dialog) of this thread. Once the form is
// visible, runs one step per timer tick, so that keys posted by one step are
// handled before the next. Fails the test, and closes the form, when no form
// appears within 5 s or the form is still open 5 s after the last step.
void DriveDialog(std::vector<DialogStep> steps, const std::function<void()>& show);

// Called by a step: run it again at the next tick (up to 10 s).
void RepeatStep();
// A step that waits until the condition holds.
DialogStep WaitUntil(std::function<bool()> condition);

// Counts the visible forms of this thread.
int VisibleForms();

std::string WindowText(HWND hwnd);
// The visible push buttons of the dialog, left to right.
std::vector<HWND> VisibleButtons(HWND dialog);
// The first child whose text is exactly `text`; null when none.
HWND ChildWithText(HWND dialog, const std::string& text);
// The visible child static controls showing an icon.
std::vector<HWND> VisibleIcons(HWND dialog);
// The child's rectangle in the dialog's client coordinates, in 96-DPI units.
RECT ChildBounds(HWND dialog, HWND child);
SIZE ClientSize96(HWND dialog);
int OuterHeight96(HWND dialog);
// Face name of the font a control draws with.
std::string FontFaceOf(HWND control);

// Posts a key press (down and up) to the control that has the focus.
void PressKey(WORD vk);
// Posts only the release of a key to the control that has the focus.
void ReleaseKey(WORD vk);
// Posts a click to a button.
void Click(HWND button);
// In a system file dialog: types the path as the file name and presses OK.
void ChooseFile(HWND dialog, const std::string& path);
// Presses Cancel in a system dialog.
void CancelDialog(HWND dialog);

// The colours on the screen at points of the window's client area, after
// the window has painted itself anew.
std::vector<COLORREF> ScreenPixels(HWND window, const std::vector<POINT>& points);

// When CORVANTIS_SHOTS names a folder, saves a picture of the window there as
// <name>.bmp (for looking at, not for comparing).
void SaveShot(HWND window, const std::string& name);

}  // namespace testenv
