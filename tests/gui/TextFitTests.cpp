// Every window of the program, in each of its states, shows its texts whole:
// static texts, check boxes, radio buttons, buttons, group captions and tabs
// are measured in the font each control draws with, so that the check holds
// at any DPI and with wider faces than the one the layout was drawn with.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "TestServerIds.h"
#include "common/QVAboutFrm2.h"
#include "common/QVApp.h"
#include "common/QVFilePropsFrm.h"
#include "common/QVMsgDetailsFrm.h"
#include "common/QVMsgFrm.h"
#include "common/QVTipOfTheDay.h"
#include "engine/frmLog.h"
#include "options/frmOptions.h"
#include "options/uOptions.h"
#include "support/DialogDriver.h"
#include "support/TestEnv.h"
#include "support/TextFit.h"
#include "ui/Form.h"

using namespace testenv;

namespace {

// A check of the window in its present state, named for the failure message.
DialogStep Fits(const std::string& state) {
    return [state](HWND dialog) { EXPECT_EQ(DescribeMisfits(dialog), "") << state; };
}

// No two visible controls of the window share an '&' letter.
DialogStep UniqueMnemonics(const std::string& state) {
    return [state](HWND dialog) {
        std::map<char, std::string> seen;
        for (const auto& [letter, text] : Mnemonics(dialog)) {
            auto [at, added] = seen.emplace(letter, text);
            EXPECT_TRUE(added) << state << ": '" << text << "' and '" << at->second << "' share Alt+" << letter;
        }
    };
}

DialogStep Close() { return [](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); }; }

std::unique_ptr<TQVApplication> MakeRecord(const std::string& face) {
    auto record = std::make_unique<TQVApplication>();
    record->Title = "Quorvandel Corvantis";
    record->FamilyName = "Quorvandel Tessaly";
    record->Version = "1.4.0 Build 32";
    record->LegalNotice = "Copyright \xC2\xA9 2026 Quorvandel. All rights reserved.";
    record->Credits = "First line of credits.\rSecond line.";
    record->DialogFontName = face;
    record->Language = qlEnglish;
    record->RegistryKey = "Software\\CorvantisTests\\TextFit";
    record->SetExeName("C:\\CorvantisTests\\Corvantis.exe");
    return record;
}

void OptionsWindow(const std::string& face) {
    AppInfo = MakeRecord(face);
    Options = std::make_unique<TZEPHOptions>();
    auto page = [](int index) {
        return [index](HWND dialog) {
            auto* d = dynamic_cast<TOptionsDlg*>(ui::TForm::FromHandle(dialog));
            d->pcOptions->SetActivePage(index);
            d->rdColorUseColors->Click();
        };
    };
    DriveDialog({Fits("General"), UniqueMnemonics("General"), page(1), Fits("Batch Operations"),
                 UniqueMnemonics("Batch Operations"), page(2), Fits("Files List"), UniqueMnemonics("Files List"),
                 Close()},
                [] { ShowOptionsDialog(nullptr); });
    Options.reset();
    AppInfo.reset();
}

void AboutWindow(const std::string& face) {
    auto record = MakeRecord(face);
    DriveDialog({Fits("about"), UniqueMnemonics("about"), Close()}, [&] { ShowAboutBox(*record, face); });
}

void PropertiesWindow(const std::string&) {
    for (const std::string& path : {TestDataDir() + TestServers::kOkServerFile, std::string("C:\\no\\such.dll")}) {
        DriveDialog({Fits(path), UniqueMnemonics(path), Close()}, [&] { ShowFileProperties(path); });
    }
}

void MessageWindow(const std::string& face) {
    for (QVLanguage language : {qlEnglish, qlPortuguese}) {
        for (int set = qbOK; set <= qbYesAllNoAllCancel; ++set) {
            std::string state = "set " + std::to_string(set) + " language " + std::to_string(language);
            DriveDialog({Fits(state), UniqueMnemonics(state), Close()}, [&] {
                QVMessage("Remove all files in batch?", "", qmtQuestion, static_cast<QVButtons>(set), 1, language, face);
            });
        }
    }
}

void DetailsWindow(const std::string& face) {
    for (QVLanguage language : {qlEnglish, qlPortuguese}) {
        auto details = [](HWND dialog) { Click(ChildWithText(dialog, qv::ButtonCaptions(qlEnglish)->DetailsClosed)); };
        auto detalhes = [](HWND dialog) { Click(ChildWithText(dialog, qv::ButtonCaptions(qlPortuguese)->DetailsClosed)); };
        DriveDialog({Fits("details closed"), language == qlEnglish ? DialogStep(details) : DialogStep(detalhes),
                     Fits("details open"), Close()},
                    [&] {
                        QVMessageDetails("Batch file 'Servers.kvx' not found.", "File 'C:\\Servers.kvx' not found.", "",
                                         qdtWarning, language, face, false);
                    });
    }
}

void TipWindow(const std::string& face) {
    std::string tips = MakeTempDir("textfit-tips") + "Corvantis.tip";
    WriteFile(tips, "Press F6 to register every file of the batch.\r\n");
    auto record = MakeRecord(face);
    record->TipsFile = tips;
    DriveDialog({Fits("tip"), UniqueMnemonics("tip"), Close()}, [&] { ShowTipOfTheDay(*record, true, true); });
}

void TaskWindow(const std::string&) {
    std::string sFalse = TestDataDir() + TestServers::kSFalseServerFile;
    TLogFrm log({sFalse, sFalse}, true, false, TStopRules{stopNever, 5});
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }), Fits("after a run with errors"),
                 UniqueMnemonics("after a run"), [&](HWND) { log.cmdDetails->Click(); }, Fits("collapsed"),
                 [&](HWND) { log.cmdDetails->Click(); }, Fits("expanded again"), Close()},
                [&] { log.ShowModal(); });
}

struct WindowCase {
    const char* name;
    void (*show)(const std::string& face);
};

const WindowCase kWindows[] = {
    {"Preferences", OptionsWindow}, {"About", AboutWindow},   {"FileProperties", PropertiesWindow},
    {"Message", MessageWindow},     {"Details", DetailsWindow}, {"TipOfTheDay", TipWindow},
    {"TaskWindow", TaskWindow},
};

class TextFit : public ::testing::TestWithParam<std::tuple<WindowCase, const char*>> {};

TEST_P(TextFit, EveryTextFitsItsControl) {
    const auto& [window, face] = GetParam();
    if (!ui::IsFontInstalled(face)) GTEST_SKIP() << face << " is not installed";
    window.show(face);
}

// Tahoma, the face the layout is drawn with, and a wider one.
INSTANTIATE_TEST_SUITE_P(Windows, TextFit,
                         ::testing::Combine(::testing::ValuesIn(kWindows),
                                            ::testing::Values("Tahoma", "DejaVu Sans")),
                         [](const auto& info) {
                             std::string face = std::get<1>(info.param);
                             face.erase(std::remove(face.begin(), face.end(), ' '), face.end());
                             return std::string(std::get<0>(info.param).name) + "_" + face;
                         });

}  // namespace
