#pragma once
// The form base: one top-level window built in code. It stores `this` at
// WM_NCCREATE, routes messages to virtual handlers, clears the link at
// WM_NCDESTROY and hands every exception to the application's hook. Forms are
// not copyable; their controls are owned by the form and die with it.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/QVHandles.h"
#include "ui/Controls.h"

namespace ui {

// Results of a modal form; 0 keeps the modal loop running.
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2 };

// Shift state passed to the key handlers.
enum TShift : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4 };

class TForm {
public:
    TForm() = default;
    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    HWND Handle() const { return handle_; }
    static TForm* FromHandle(HWND hwnd);

    std::string Caption() const;
    void SetCaption(const std::string& text);

    // Sizes and positions are given at 96 DPI and scaled for the screen.
    void SetClientSize(int width96, int height96);
    void SetOuterHeight(int height96);
    void CenterOnScreen();
    // Centred on the application's main form when it is shown, else on the
    // screen.
    void CenterOnMainForm();

    // The font of the form and of all its controls. An empty face, or a face
    // that is not installed, leaves the current face.
    void SetFontFace(const std::string& face);
    std::string FontFace() const { return fontFace_; }
    HFONT Font() const { return font_.get(); }
    // A font of the form's face in another size or weight, owned by the form.
    HFONT MakeFont(int pointSize, bool bold);

    // Shows the form modally: the other windows of the thread are disabled
    // and a nested message loop runs until ModalResult becomes non-zero.
    int ShowModal();
    bool InModal() const { return inModal_; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }

    void Show();
    // Modal: ends the loop with mrCancel (when CloseQuery allows it).
    // Modeless: destroys the window (when CloseQuery allows it).
    void Close();

    // The control that gets the focus when the form is first activated.
    void SetActiveControl(TControl* control);
    // The button pressed by Enter when the focus is not on a button.
    void SetDefaultButton(TButton* button) { defaultButton_ = button; }
    TButton* DefaultButton() const { return defaultButton_; }

    // Key preview: the form sees key presses before the focused control.
    bool KeyPreview = false;
    // The help topic shown for F1 in this form.
    int HelpContext = 0;

    // Keyboard navigation, mnemonics and key preview; true when consumed.
    virtual bool PreTranslateMessage(MSG& msg);

    // Registers a control created on this form (called by TControl).
    void AdoptControl(std::unique_ptr<TControl> control);
    TControl* ControlById(int id) const;
    int NextControlId() { return nextId_++; }

    int Scale(int pixels96) const;

    // Timers of the form: the callback runs on WM_TIMER for that id.
    UINT_PTR AddTimer(std::function<void()> callback);
    void RemoveTimer(UINT_PTR id);

protected:
    // Creates the window; derived forms call it first in their constructor.
    void CreateForm(const std::string& caption, DWORD style, DWORD exStyle);

    template <class T, class... Args>
    T* Add(Args&&... args) {
        auto control = std::make_unique<T>(*this, std::forward<Args>(args)...);
        T* raw = control.get();
        AdoptControl(std::move(control));
        return raw;
    }

    virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);

    // Key preview handlers; return true to consume the key.
    virtual bool FormKeyDown(WORD key, unsigned shift);
    virtual bool FormKeyUp(WORD key, unsigned shift);
    virtual bool FormCloseQuery() { return true; }
    // Runs after the form's font changed: forms that size controls to their
    // texts lay them out again here (their controls may not exist yet).
    virtual void FontChanged() {}
    // Background brush for static controls (and read-only edits); null keeps
    // the system default.
    virtual HBRUSH ControlColor(HDC dc, HWND control);

private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void UpdateDefaultLook(HWND focus);
    void UseFont(const std::string& face);
    bool HandleMnemonic(char ch);
    void ShowFocusCues();

    HWND handle_ = nullptr;
    std::vector<std::unique_ptr<TControl>> controls_;
    std::vector<std::function<void()>> timers_;
    qv::GdiObject<HFONT> font_;
    std::vector<qv::GdiObject<HFONT>> extraFonts_;
    std::string fontFace_;
    TButton* defaultButton_ = nullptr;
    HWND savedFocus_ = nullptr;
    int modalResult_ = mrNone;
    bool inModal_ = false;
    // Enter or Esc pressed in an open drop-down list: the list took the
    // press, so its release is no key of the form's either.
    WORD listKey_ = 0;
    int nextId_ = 100;
};

// True when a screen font family of that face is installed.
bool IsFontInstalled(const std::string& face);

// A font of `lf`'s size, weight, character set and quality with the face
// `face` (ANSI code page). Made from the wide LOGFONT, whose face holds 31
// characters: the ANSI one holds 31 bytes, as few as ten letters of a face
// named in another script in UTF-8.
HFONT CreateFontWithFace(const LOGFONTA& lf, const std::string& face);
// A face name from the system's wide font functions, in the ANSI code page.
std::string FaceNameOf(const wchar_t* face);
// DrawText of text in the ANSI code page. DrawTextA reads its bytes in the
// code page of the font's character set (Windows-1252 for a Western font),
// not the program's, so UTF-8 text would be drawn and measured as other
// letters: the text goes through its wide form instead.
int DrawTextAnsi(HDC dc, const std::string& text, RECT* rect, UINT format);

}  // namespace ui
