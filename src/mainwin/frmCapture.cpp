#include "mainwin/frmCapture.h"

#include <windows.h>

#include <algorithm>

#include "common/QVExceptions.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/frmLog.h"
#include "engine/uCaptureWix.h"
#include "engine/uRegistry.h"
#include "engine/uVerify.h"
#include "resource.h"

namespace {

constexpr int kMargin = 8;
constexpr int kButtonWidth = 75;
constexpr int kRadioHeight = 17;

// The folder a WiX fragment made from the main window installs into; the
// console runner lets it be named.
const char kWxsFolder[] = "INSTALLFOLDER";

bool EndsWithNoCase(const std::string& text, const char* end) {
    const size_t n = std::char_traits<char>::length(end);
    return text.size() >= n && lstrcmpiA(text.c_str() + text.size() - n, end) == 0;
}

}  // namespace

TCaptureFormat CaptureFormatOf(const std::string& path, unsigned filterIndex) {
    if (EndsWithNoCase(path, ".reg")) return TCaptureFormat::Reg;
    if (EndsWithNoCase(path, ".wxs")) return TCaptureFormat::Wxs;
    if (EndsWithNoCase(path, ".json")) return TCaptureFormat::Json;
    if (filterIndex == 2) return TCaptureFormat::Wxs;
    if (filterIndex == 3) return TCaptureFormat::Json;
    return TCaptureFormat::Reg;
}

std::string CaptureFileBytes(const std::vector<engine::TCapture>& captures, TCaptureFormat format,
                             std::vector<std::string>& problems) {
    switch (format) {
        case TCaptureFormat::Reg: return engine::RegFileBytes(captures);
        case TCaptureFormat::Wxs: {
            engine::TWxsResult fragment = engine::WxsFragment(captures, kWxsFolder);
            problems = std::move(fragment.problems);
            return fragment.text;
        }
        case TCaptureFormat::Json: break;
    }
    // One JSON document: an array of the captures, one per line.
    std::string text = "[";
    for (size_t i = 0; i < captures.size(); ++i) {
        text += i == 0 ? "\r\n" : ",\r\n";
        text += engine::CaptureJson(captures[i]);
    }
    return text + "\r\n]\r\n";
}

// ------------------------------------------------------------ the dialog

TCaptureFrm::TCaptureFrm(const std::string& selected, int count) {
    // No WS_CLIPCHILDREN: the group box paints only its frame, and the form
    // paints the group's inside.
    CreateForm("Capture Registration...", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME);
    KeyPreview = true;
    gbScope = Add<ui::TGroupBox>(" Capture the registration of ", ui::TBounds{kMargin, 6, 300, 70});
    rdSelected = Add<ui::TRadioButton>(
        selected.empty() ? std::string("the &selected file") : "the &selected file, '" + selected + "'",
        ui::TBounds{kMargin + 12, 24, 270, kRadioHeight});
    rdAll = Add<ui::TRadioButton>("&every file of the batch (" + std::to_string(count) + ")",
                                  ui::TBounds{kMargin + 12, 48, 270, kRadioHeight});
    ui::TRadioButton::Group({rdSelected, rdAll});
    lblNote = Add<ui::TLabel>(
        "Nothing is registered: each library's registration runs with its registry writes sent to scratch keys, "
        "which are read and removed. Executable servers cannot be captured.",
        ui::TBounds{kMargin, 84, 300, 42});
    cmdOK = Add<ui::TButton>("OK", ui::TBounds{316, 10, kButtonWidth, 25});
    cmdOK->ModalResult = ui::mrOk;
    cmdCancel = Add<ui::TButton>("Cancel", ui::TBounds{316, 42, kButtonWidth, 25});
    cmdCancel->ModalResult = ui::mrCancel;
    SetDefaultButton(cmdOK);

    // Every control as wide as its text needs (Wine's fonts are wider than
    // Windows' own): the radio buttons set the group's width, the buttons
    // stand beside it.
    const int glyph = 20;
    const int radios = std::max(rdSelected->TextWidth96() + glyph, rdAll->TextWidth96() + glyph);
    const int groupWidth = std::max({300, radios + 24, gbScope->TextWidth96() + 16});
    const int buttonWidth = std::max({kButtonWidth, cmdOK->TextWidth96() + 16, cmdCancel->TextWidth96() + 16});
    gbScope->SetBounds({kMargin, 6, groupWidth, 70});
    rdSelected->SetBounds({kMargin + 12, 24, radios, kRadioHeight});
    rdAll->SetBounds({kMargin + 12, 48, radios, kRadioHeight});
    const int buttonsLeft = kMargin + groupWidth + kMargin;
    cmdOK->SetBounds({buttonsLeft, 10, buttonWidth, 25});
    cmdCancel->SetBounds({buttonsLeft, 42, buttonWidth, 25});
    const int width = buttonsLeft + buttonWidth + kMargin;
    // The note wraps within the width; its height follows its lines.
    const int noteHeight = lblNote->TextHeight96(width - 2 * kMargin);
    lblNote->SetBounds({kMargin, 84, width - 2 * kMargin, noteHeight});
    SetClientSize(width, 84 + noteHeight + kMargin);

    rdSelected->SetEnabled(!selected.empty());
    (selected.empty() ? rdAll : rdSelected)->SetChecked(true);
    cmdOK->SetEnabled(!selected.empty() || count > 0);
    SetActiveControl(selected.empty() ? rdAll : rdSelected);
}

bool TCaptureFrm::FormKeyUp(WORD key, unsigned) {
    if (key != VK_ESCAPE) return false;
    Close();
    return true;
}

// ------------------------------------------------------------ the runs

namespace {

std::string TaskFileName(const std::string& path) { return engine::ExtractFileName(path); }

}  // namespace

void RunCaptureList(const std::vector<std::string>& files, const std::string& path, TCaptureFormat format) {
    TLogFrm log(files, TTaskVerb::Capture);
    std::vector<engine::TCapture> captured;
    log.Perform = [&captured](const std::string& file, bool) {
        engine::TCapture capture = engine::CaptureFile(file, engine::WindowedRegContext());
        if (!capture.clean) {
            std::string message = capture.outcome.message;
            if (message.empty()) message = "Cannot capture '" + TaskFileName(file) + "'.";
            throw EQVException(message, capture.outcome.details, qekError);
        }
        const std::string counts =
            std::to_string(capture.keys.size()) + " keys, " + std::to_string(capture.ValueCount()) + " values";
        captured.push_back(std::move(capture));
        throw EQVException(counts, "", qekSuccess);
    };
    log.OnRunEnded = [&]() -> std::string {
        TTaskRun& run = log.Tasks();
        const bool stopped = std::any_of(run.Rows().begin(), run.Rows().end(),
                                         [](const TTaskRow& row) { return row.Status == tsCancelled; });
        if (stopped || captured.empty()) {
            if (!stopped) return qv::LoadStr(IDS_CAPTURE_NOTHING);
            return std::string();
        }
        std::vector<std::string> problems;
        const std::string bytes = CaptureFileBytes(captured, format, problems);
        for (const std::string& problem : problems) {
            run.AddNotice(qv::LoadStr(IDS_CAPTURE_WIX_PROBLEM), problem, tiWarning);
        }
        // The description names the file alone: it has three lines, and the
        // user has just chosen the folder. The error list has the whole path.
        const std::string name = engine::ExtractFileName(path);
        const unsigned long error = qv::WriteFileReplacing(path, bytes);
        if (error != 0) {
            run.AddNotice(qv::LoadFmt(IDS_CAPTURE_WRITE_FAILED, path), qv::SystemErrorText(error), tiFailed);
            return qv::LoadFmt(IDS_CAPTURE_WRITE_FAILED, name);
        }
        const int total = static_cast<int>(files.size());
        const int done = static_cast<int>(captured.size());
        if (done == total) return qv::LoadFmt(IDS_CAPTURE_DONE, done, name);
        return qv::LoadFmt(IDS_CAPTURE_DONE_ERRORS, done, total, name);
    };
    log.CenterOnMainForm();
    log.ShowModal();
}

void RunVerifyList(const std::vector<std::string>& files) {
    TLogFrm log(files, TTaskVerb::Verify);
    log.Perform = [&log](const std::string& file, bool) {
        const engine::TVerifyResult result = engine::VerifyFile(file, engine::WindowedRegContext());
        // A registration for this user alone holds when the machine's classes
        // do not name another file; its details say what they hold.
        const bool holds = result.Verdict() == engine::TVerifyResult::TVerdict::Holds;
        int image = holds ? tiCompleted : tiWarning;
        if (result.state == engine::TVerifyState::NotRegistered || result.state == engine::TVerifyState::NotVerified) {
            image = tiFailed;
        }
        log.Tasks().NoteOutcome(engine::VerifyStateText(result.state), image);
        const bool plain = result.state == engine::TVerifyState::Registered;
        throw EQVException(result.Message(), plain ? std::string() : result.Details(), holds ? qekSuccess : qekError);
    };
    log.OnRunEnded = [&]() -> std::string {
        const TTaskRun& run = log.Run();
        int verified = 0;
        for (const TTaskRow& row : run.Rows()) {
            if (row.Status == tsCancelled || row.Status == tsWaiting) return std::string();
            ++verified;
        }
        if (run.ErrorCount() == 0) return qv::LoadStr(IDS_VERIFY_DONE);
        return qv::LoadFmt(IDS_VERIFY_DONE_DIFFERENT, run.ErrorCount(), verified);
    };
    log.CenterOnMainForm();
    log.ShowModal();
}
