#pragma once
// The application object: the one user-interface thread's message loop, the
// screen cursor, and the application-wide exception hook that every window
// procedure hands its exceptions to (no exception may cross a window
// procedure, since i686 code cannot unwind through system frames).
#include <windows.h>

#include <exception>
#include <functional>
#include <string>

namespace ui {

class TForm;

enum class TCursor { Default, HourGlass };

class TApplication {
public:
    TApplication() = default;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Registers the window classes and initialises the common controls.
    void Initialize();

    HINSTANCE Instance() const { return instance_; }

    std::string Title;

    // The form whose closing ends the message loop; also the owner of the
    // modal forms shown while it exists. May be null (command-line path).
    TForm* MainForm() const { return mainForm_; }
    void SetMainForm(TForm* form) { mainForm_ = form; }
    HWND MainFormHandle() const;
    // The application's own hidden window, created on first use: the owner
    // of windows that belong to the application rather than to a form.
    HWND Handle();

    // Runs the message loop until WM_QUIT; returns its exit code.
    int Run();
    // Ends the message loop with the given exit code.
    void Terminate(int exitCode = 0);
    bool Terminated() const { return terminated_; }

    // Handles every message waiting in the queue, then returns. A WM_QUIT met
    // on the way is put back so that the outer loop still sees it.
    void ProcessMessages();
    // Gives the message to the form it belongs to (key preview and keyboard
    // navigation) and dispatches it when the form did not consume it.
    void HandleMessage(MSG& msg);

    // The screen cursor shown over every form of the application.
    void SetScreenCursor(TCursor cursor);
    TCursor ScreenCursor() const { return cursor_; }
    HCURSOR ScreenCursorHandle() const;

    // Called for every exception caught at a window procedure or a timer.
    std::function<void(std::exception_ptr)> OnException;
    void HandleException(std::exception_ptr error);

    // Runs whenever the message loop has handled every waiting message.
    std::function<void()> OnIdle;
    void Idle();

    // The current hint (the help line of the command under the pointer or
    // the keyboard); OnHint is told whenever it changes.
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint);
    std::function<void(const std::string&)> OnHint;

    // Pixels of the screen for a length given at 96 DPI.
    int Scale(int pixels96) const;
    int Dpi() const { return dpi_; }

private:
    HINSTANCE instance_ = nullptr;
    HWND handle_ = nullptr;
    TForm* mainForm_ = nullptr;
    TCursor cursor_ = TCursor::Default;
    bool terminated_ = false;
    int dpi_ = 96;
    std::string hint_;
};

extern TApplication Application;

// Shows the hourglass over the application until the scope is left, however
// it is left.
class TBusyCursor {
public:
    TBusyCursor() { Application.SetScreenCursor(TCursor::HourGlass); }
    ~TBusyCursor() { Application.SetScreenCursor(TCursor::Default); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

}  // namespace ui
