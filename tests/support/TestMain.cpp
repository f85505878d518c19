// Test entry: the same process set-up as the program's own entry (COM
// apartment, application object, title) before the tests run.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "common/QVStrings.h"
#include "resource.h"
#include "ui/Application.h"

int main(int argc, char** argv) {
    HRESULT com = CoInitialize(nullptr);
    ui::Application.Initialize();
    ui::Application.Title = qv::LoadStr(IDS_APP_TITLE);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
