#pragma once
// The preferences dialog: edits the global options and switches the Explorer
// integration on and off. Apply and OK store the controls into the options,
// install or remove the integration, let the caller take the options over
// and save them.
#include <functional>
#include <optional>

#include "ui/ComCtrls.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"

class TOptionsDlg : public ui::TForm {
public:
    // `applied` runs after every store of the controls, before the options
    // are saved (the main window's ApplyOptions); it may be empty.
    explicit TOptionsDlg(std::function<void()> applied);

    // Fills every control from the options and the integration's state.
    void OptionsToControls();
    // Checks both numbers, then copies the controls into the options,
    // installs or removes the integration, runs `applied` and saves. A
    // number box whose text is not a whole number gets a warning and the
    // focus; then nothing is copied and false is returned.
    bool ControlsToOptions();

    void cmdApplyClick();
    void cmdOKClick();
    void cmdCancelClick();
    void chkAutoSaveClick();
    void rdStopAfterNClick();
    void rdColorDefaultWindowsClick();

    ui::TTabControl* pcOptions = nullptr;
    int tsGeneral = 0, tsBatch = 1, tsFilesList = 2;
    ui::TGroupBox *gbGeneral = nullptr, *gbStartup = nullptr, *gbSave = nullptr, *gbSystem = nullptr;
    ui::TCheckBox *chkSaveWindow = nullptr, *chkAutoOpenLastBatch = nullptr, *chkBackup = nullptr,
                  *chkAutoSave = nullptr, *chkUnregisterBefore = nullptr;
    ui::TSpinEdit *txtAutoSaveInterval = nullptr, *txtStopAfter = nullptr;
    ui::TLabel *lblMins = nullptr, *lblErrors = nullptr;
    ui::TStateCheckBox* chkShell = nullptr;
    ui::TGroupBox *gbStopAfter = nullptr, *gbRegisterAll = nullptr;
    ui::TRadioButton *rdStopNever = nullptr, *rdStopAfterFirst = nullptr, *rdStopAfterN = nullptr;
    ui::TGroupBox *gbListFont = nullptr, *gbListColors = nullptr;
    ui::TFocusLabel *lblFontName = nullptr, *lblTextColor = nullptr, *lblBackColor = nullptr;
    ui::TFontComboBox* cbFontName = nullptr;
    ui::TRadioButton *rdColorDefaultWindows = nullptr, *rdColorUseColors = nullptr;
    ui::TColorComboBox *cbTextColor = nullptr, *cbBackColor = nullptr;
    ui::TButton *cmdOK = nullptr, *cmdCancel = nullptr, *cmdApply = nullptr;

    bool PreTranslateMessage(MSG& msg) override;

protected:
    bool FormKeyUp(WORD key, unsigned shift) override;
    // Sizes the captions to their texts in the dialog's font and places the
    // controls that follow them on their rows.
    void FontChanged() override;

private:
    // The box's number, or nothing after warning about it.
    std::optional<int> CheckedNumber(ui::TSpinEdit& box, unsigned fieldId);

    std::function<void()> applied_;
};

// Shows the preferences dialog modally on its first page. `applied` runs
// after each Apply or OK has stored the options (see TOptionsDlg).
void ShowOptionsDialog(std::function<void()> applied = {});
