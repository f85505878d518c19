#pragma once
// The controls of a form: thin owners of child windows, created in code at
// positions given at 96 DPI. Each belongs to one form, which routes its
// notifications to it.
#include <windows.h>

#include <functional>
#include <string>

namespace ui {

class TForm;

struct TBounds {
    int left, top, width, height;
};

class TControl {
public:
    TControl(TForm& owner, const char* className, const std::string& text, const TBounds& bounds,
             DWORD style, DWORD exStyle = 0);
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    HWND Handle() const { return handle_; }
    int Id() const { return id_; }
    TForm& Owner() const { return owner_; }

    std::string Text() const;
    void SetText(const std::string& text);
    bool Visible() const;
    // Virtual so that a control made of several windows shows or enables
    // them together.
    virtual void SetVisible(bool visible);
    bool Enabled() const;
    virtual void SetEnabled(bool enabled);
    // Position and size at 96 DPI.
    void SetBounds(const TBounds& bounds);
    void SetWidth(int width96);
    // The width, at 96 DPI and rounded up, that the control needs to show
    // `text` (or its own text) on one line in the font it draws with:
    // the text, plus a check box's or radio button's glyph and gap, or a
    // push button's frame and margins, or a group box's corners.
    int TextWidth96() const { return TextWidth96(Text()); }
    int TextWidth96(const std::string& text) const;
    // The height, at 96 DPI and rounded up, that the control's own text
    // needs when wrapped at words within `width96`.
    int TextHeight96(int width96) const;
    void SetLeft(int left96);
    TBounds Bounds() const { return bounds_; }
    void SetFocus();
    bool Focused() const;
    // Draws the control with that font (owned by the caller or the form).
    void SetFont(HFONT font);
    // Whether Tab stops at the control.
    void SetTabStop(bool on);
    // Puts the control after `previous` in the tab order (first when null).
    void PlaceInTabOrderAfter(const TControl* previous);

    // A WM_COMMAND notification from the control.
    virtual void Notify(WORD code) { (void)code; }
    // A WM_NOTIFY notification from the control; true when handled, with
    // the message's result in `result`.
    virtual bool HandleNotify(NMHDR* header, LRESULT* result) {
        (void)header;
        (void)result;
        return false;
    }
    // WM_CONTEXTMENU over the control, at a screen position (-1, -1 from the
    // keyboard).
    std::function<void(POINT)> OnContextMenu;
    // Whether the control handles Enter itself.
    virtual bool WantsReturn() const { return false; }
    // The letter of the caption's mnemonic was pressed (Alt + letter); true
    // when the control acted on it. Push buttons and check boxes are handled
    // by the form.
    virtual bool MnemonicPressed() { return false; }
    // Owner drawing, routed by the form to the control with the item's id;
    // true when handled.
    virtual bool DrawItem(const DRAWITEMSTRUCT& item) {
        (void)item;
        return false;
    }
    virtual bool MeasureItem(MEASUREITEMSTRUCT& item) {
        (void)item;
        return false;
    }

    // A free number for the form's own use.
    int Tag = 0;

private:
    TForm& owner_;
    HWND handle_ = nullptr;
    int id_ = 0;
    TBounds bounds_;
};

class TLabel : public TControl {
public:
    // A word-wrapping static text; '&' is shown as it stands.
    TLabel(TForm& owner, const std::string& text, const TBounds& bounds);
};

class TButton : public TControl {
public:
    TButton(TForm& owner, const std::string& caption, const TBounds& bounds);
    std::function<void()> OnClick;
    // Sets the modal result of the form when clicked (0: none).
    int ModalResult = 0;
    // Runs the click as the user's press would.
    void Click();
    void SetDefaultLook(bool on);
    void Notify(WORD code) override;
};

class TCheckBox : public TControl {
public:
    // A check box that toggles itself when clicked; '&' marks its mnemonic.
    TCheckBox(TForm& owner, const std::string& caption, const TBounds& bounds);
    bool Checked() const;
    // Sets the state without running OnClick.
    void SetChecked(bool checked);
    // Runs after every change made by the user (click, Space, mnemonic).
    std::function<void()> OnClick;
    // Toggles the box as the user's click would.
    void Click();
    void Notify(WORD code) override;
};

class TImage : public TControl {
public:
    // A picture box that shows one icon at its natural size.
    TImage(TForm& owner, const TBounds& bounds);
    void SetIcon(HICON icon);
    HICON Icon() const;
};

class TBevel : public TControl {
public:
    // An etched horizontal line.
    TBevel(TForm& owner, const TBounds& bounds);
};

class TMemo : public TControl {
public:
    // A multi-line text box; read-only when asked.
    TMemo(TForm& owner, const TBounds& bounds, bool readOnly);
};

}  // namespace ui
