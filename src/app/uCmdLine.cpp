#include "app/uCmdLine.h"

#include <windows.h>
#include <shellapi.h>

#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uRegCore.h"
#include "engine/uRegistry.h"
#include "resource.h"

TStartMode StartMode = smNormal;
std::string CommandLineFile;

void ParseCommandLine() {
    app::TCommandLine parsed =
        app::InterpretParameters(app::SplitParameters(GetCommandLineA()), engine::FileExistsReady);
    StartMode = parsed.mode;
    CommandLineFile = parsed.file;
}

std::string LostCommandLineParameter() {
    int count = 0;
    LPWSTR* parameters = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string lost;
    for (int i = 1; parameters && i < count && lost.empty(); ++i) {
        std::string text;
        if (!qv::WideToAnsi(parameters[i], text)) lost = text;
    }
    if (parameters) LocalFree(parameters);
    return lost;
}

EQVException LostNameError(const std::string& lossy) {
    return EQVException(qv::LoadFmt(IDS_NAME_LOST, engine::ExtractFileName(lossy)),
                        qv::LoadFmt(IDS_NAME_LOST_DETAILS, lossy, static_cast<int>(GetACP())), qekError);
}
