#include "app/uCmdLine.h"

#include <windows.h>

#include "engine/uRegistry.h"

TStartMode StartMode = smNormal;
std::string CommandLineFile;

void ParseCommandLine() {
    app::TCommandLine parsed =
        app::InterpretParameters(app::SplitParameters(GetCommandLineA()), engine::FileExistsReady);
    StartMode = parsed.mode;
    CommandLineFile = parsed.file;
}
