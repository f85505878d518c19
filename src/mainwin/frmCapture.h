#pragma once
// Capturing and verifying from the main window: the Capture Registration
// dialog, and the task window's capture and verification runs.
#include <string>
#include <vector>

#include "engine/uCapture.h"
#include "ui/Controls.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"

// What a capture writes, by the save dialog's file type.
enum class TCaptureFormat { Reg, Wxs, Json };

// The format a capture file's name asks for: by its extension (".reg",
// ".wxs", ".json", any case), else by the save dialog's file type
// (1 .reg, 2 .wxs, 3 .json).
TCaptureFormat CaptureFormatOf(const std::string& path, unsigned filterIndex);

// The file's contents in the format: the .reg file's UTF-16 bytes, the WiX
// fragment's or the JSON array's UTF-8 text. `problems` receives what the
// format could not hold (values the Windows Installer has no type for).
std::string CaptureFileBytes(const std::vector<engine::TCapture>& captures, TCaptureFormat format,
                             std::vector<std::string>& problems);

// The dialog that asks which files to capture: the selected one or every
// file of the batch.
class TCaptureFrm : public ui::TForm {
public:
    // `selected` is the selected file's name (empty when none is selected);
    // `count` the number of files in the batch.
    TCaptureFrm(const std::string& selected, int count);

    // True when the user chose the whole batch.
    bool WholeBatch() const { return rdAll->Checked(); }

    ui::TGroupBox* gbScope = nullptr;
    ui::TRadioButton* rdSelected = nullptr;
    ui::TRadioButton* rdAll = nullptr;
    ui::TLabel* lblNote = nullptr;
    ui::TButton* cmdOK = nullptr;
    ui::TButton* cmdCancel = nullptr;

protected:
    bool FormKeyUp(WORD key, unsigned shift) override;
};

// Runs the captures of the files in the task window and writes those that
// succeeded to `path` in the format; the window names the failures and
// where the file went.
void RunCaptureList(const std::vector<std::string>& files, const std::string& path, TCaptureFormat format);

// Verifies the files in the task window: each row's state is the file's
// outcome, the error list holds the differences.
void RunVerifyList(const std::vector<std::string>& files);
