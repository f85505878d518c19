#pragma once
// Standard controls beyond the basic ones: group boxes, labels that lead to
// a control, radio buttons, a three-state check box, spin boxes and the
// owner-drawn font and colour lists.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace ui {

class TGroupBox : public TControl {
public:
    // A framed caption; the controls it groups are created after it.
    TGroupBox(TForm& owner, const std::string& caption, const TBounds& bounds);
};

class TFocusLabel : public TControl {
public:
    // A one-line label whose '&' letter moves the focus to `FocusControl`.
    TFocusLabel(TForm& owner, const std::string& caption, const TBounds& bounds);
    TControl* FocusControl = nullptr;
    bool MnemonicPressed() override;
};

class TRadioButton : public TControl {
public:
    TRadioButton(TForm& owner, const std::string& caption, const TBounds& bounds);
    // Makes the buttons one group: checking one unchecks the others.
    static void Group(const std::vector<TRadioButton*>& buttons);
    bool Checked() const;
    // Sets the state (unchecking the group's others when checked) without
    // running OnClick.
    void SetChecked(bool checked);
    // Checks the button as the user's click would and runs OnClick.
    void Click();
    // Runs after the user checked the button.
    std::function<void()> OnClick;
    void Notify(WORD code) override;
    bool MnemonicPressed() override;

private:
    std::vector<TRadioButton*> group_;
};

// The states of a three-state check box, as the button control numbers them.
enum TCheckState : int { cbUnchecked = 0, cbChecked = 1, cbGrayed = 2 };

class TStateCheckBox : public TControl {
public:
    // A check box that can show a third, indeterminate state. The user
    // cannot choose that state: a click checks an unchecked or indeterminate
    // box and unchecks a checked one.
    TStateCheckBox(TForm& owner, const std::string& caption, const TBounds& bounds);
    TCheckState State() const;
    void SetState(TCheckState state);
    void Click();
    std::function<void()> OnClick;
    void Notify(WORD code) override;
    bool MnemonicPressed() override;
};

class TSpinEdit : public TControl {
public:
    // An edit with up and down buttons that step by one within min..max.
    // Only digits, '+' and '-' can be typed (other characters beep); a
    // number outside the range is brought into it when the box loses the
    // focus. Text that is no whole number is left as it stands.
    TSpinEdit(TForm& owner, const TBounds& bounds, int min, int max);
    int Min() const { return min_; }
    int Max() const { return max_; }
    // Shows the value brought into the range.
    void SetValue(int value);
    // The text read as a decimal whole number brought into the range;
    // nothing when the text is not a whole number.
    std::optional<int> Value() const;
    // Replaces a whole number outside the range by the nearest bound.
    void ClampText();
    void SetVisible(bool visible) override;
    void SetEnabled(bool enabled) override;
    void Notify(WORD code) override;
    HWND UpDown() const { return upDown_; }

private:
    HWND upDown_ = nullptr;
    int min_, max_;
};

// Reads a whole decimal number with an optional sign; values beyond the
// 32-bit range saturate. Nothing when the text is not such a number.
std::optional<long long> ParseWholeNumber(const std::string& text);

class TFontComboBox : public TControl {
public:
    // A drop-down list, sorted, of the installed TrueType fonts of the ANSI
    // character set (no symbol fonts), each name drawn in its own face.
    TFontComboBox(TForm& owner, const TBounds& bounds);
    std::vector<std::string> Names() const;
    // Selects the name compared without regard to case; an installed face
    // the list does not offer is added first; none when not installed.
    void SelectName(const std::string& name);
    // The selected name; empty when none is selected.
    std::string SelectedName() const;
    bool DrawItem(const DRAWITEMSTRUCT& item) override;
    // Esc in the open list keeps the choice it had when it opened.
    void Notify(WORD code) override;

private:
    LRESULT openedWith_ = CB_ERR - 1;  // not open
};

// A named colour of a colour list.
struct TNamedColor {
    const char* Name;
    std::uint32_t Value;  // 0x00BBGGRR, or 0x80 high byte with a system colour index
};

// The colours a colour list offers, in order: the sixteen standard colours,
// four further named colours and the Windows system colours.
const std::vector<TNamedColor>& StandardColors();
// The RGB colour a colour value stands for: a system colour index is looked
// up; 0xFF000000 (no colour) gives nothing.
std::optional<COLORREF> ColorToRgb(std::uint32_t value);

class TColorComboBox : public TControl {
public:
    // A drop-down list of named colours, each with a swatch.
    TColorComboBox(TForm& owner, const TBounds& bounds);
    // Selects the entry of that colour value; none when it is not offered.
    void SelectColor(std::uint32_t value);
    // The selected colour value; nothing when no entry is selected.
    std::optional<std::uint32_t> SelectedColor() const;
    bool DrawItem(const DRAWITEMSTRUCT& item) override;
    // Esc in the open list keeps the choice it had when it opened.
    void Notify(WORD code) override;

private:
    LRESULT openedWith_ = CB_ERR - 1;  // not open
};

}  // namespace ui
