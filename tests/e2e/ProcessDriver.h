#pragma once
// Starts Corvantis.exe as a separate process, the way the shell starts it from
// a file's context menu, and drives the window it shows from the outside:
// reads captions and control texts, presses buttons, waits for the exit code.
#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// Full path of the built program, next to the test program.
std::string CorvantisExe();

// `"/R:<file>"`: one quoted parameter, as a shell verb passes it.
std::string QuotedSwitch(const std::string& switchText, const std::string& file);

// One child control of a window, as seen from another process.
struct ChildControl {
    HWND hwnd = nullptr;
    std::string className;
    std::string text;
    LONG style = 0;
    bool visible = false;
};

class CorvantisProcess {
public:
    // Starts `"<full exe path>" <parameters>`; `parameters` is used verbatim
    // and may be empty. A failure to start is reported as a test failure.
    explicit CorvantisProcess(const std::string& parameters);
    // The same through CreateProcessW, for parameters no code page holds.
    explicit CorvantisProcess(const std::wstring& parameters);
    // Starts the program the way Explorer does for a verb of a file's
    // context menu (or the default verb when `verb` is empty), through the
    // shell's file associations.
    CorvantisProcess(const std::string& verb, const std::string& file);
    // Ends the process if it is still running (after a failed test).
    ~CorvantisProcess();
    CorvantisProcess(const CorvantisProcess&) = delete;
    CorvantisProcess& operator=(const CorvantisProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD ProcessId() const { return processId_; }
    const std::string& CommandLine() const { return commandLine_; }

    // Waits for the first visible top-level window with a caption (not the
    // splash window) of the process and remembers it. Null (and a test failure) when none shows in time, or
    // when the process ends first.
    HWND WaitForWindow(DWORD timeoutMs = 10000);
    HWND Window() const { return window_; }
    // Every visible top-level window the process owns right now.
    std::vector<HWND> VisibleTopLevelWindows() const;

    std::string Caption() const;
    std::string ClassName() const;
    LONG Style() const;
    LONG ExStyle() const;

    // The window's children, in creation order, texts read with WM_GETTEXT
    // (which also works for edit controls of another process).
    std::vector<ChildControl> Children() const;
    // Texts of the visible push buttons, left to right, then top to bottom.
    std::vector<std::string> VisibleButtonTexts() const;
    // The child button with that caption; null when there is none.
    HWND Button(const std::string& caption) const;
    // Texts of the visible non-empty STATIC controls (the message labels).
    std::vector<std::string> LabelTexts() const;
    // Text of the first EDIT control (the details of the details dialog).
    std::string EditText() const;

    // Posts a click to the button with that caption. False (and a test
    // failure) when the window has no such button.
    bool PressButton(const std::string& caption);
    // Posts a key press (down and up) to the given control.
    void PostKey(HWND target, WORD vk);
    // Posts WM_CLOSE to the window.
    void PostClose();

    // Waits for the process to end and returns its 32-bit exit code. When it
    // is still running after the timeout it is terminated, the test fails and
    // 0xFFFFFFFF is returned.
    DWORD WaitForExit(DWORD timeoutMs = 15000);
    bool HasExited() const;

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
    std::string commandLine_;
};

// The common case of one run: start with `parameters`, wait for the window,
// read what it shows, press `button` (or post WM_CLOSE when `button` is
// empty) and wait for the exit code.
struct RunResult {
    bool windowShown = false;
    std::string caption;
    std::string className;
    LONG style = 0;
    int visibleTopLevelWindows = 0;
    std::vector<std::string> labels;
    std::vector<std::string> visibleButtons;
    std::string details;
    // 0xFFFFFFFF when the process had to be terminated.
    DWORD exitCode = 0xFFFFFFFF;

    // The single message label, or "" when there is not exactly one.
    std::string Message() const { return labels.size() == 1 ? labels.front() : std::string(); }
};

RunResult RunAndPress(const std::string& parameters, const std::string& button);

}  // namespace e2e
