// The windowed start-up and shutdown, run in this process.
#include <gtest/gtest.h>

#include "app/uMain.h"
#include "common/QVApp.h"
#include "common/QVRegUtils.h"
#include "common/QVSplashFrm2.h"
#include "options/uOptions.h"
#include "support/TestEnv.h"
#include "ui/Application.h"

namespace {

const std::string kAppKey = "Software\\Quorvandel\\Quorvandel Tessaly\\Corvantis";

TEST(StartApplication, FillsTheRecordWritesTheInstallationAndLoadsOptions) {
    testenv::DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
    qv::WriteRegInteger(HKEY_LOCAL_MACHINE, kAppKey + "\\Options", "MaxErrors", 7);

    DWORD started = GetTickCount();
    StartApplication();
    DWORD elapsed = GetTickCount() - started;
    // This program has no splash artwork, and the splash still stays its time.
    EXPECT_EQ(MakeSplashPicture(), nullptr);
    EXPECT_GE(elapsed, SplashDurationMs);
    EXPECT_EQ(SplashForm(), nullptr) << "the splash is gone once start-up ends";

    ASSERT_NE(AppInfo, nullptr);
    const std::string exe = testenv::BinDir() + "app_tests.exe";
    EXPECT_EQ(lstrcmpiA(AppInfo->ExeName.c_str(), exe.c_str()), 0);
    EXPECT_EQ(lstrcmpiA(AppInfo->AppPath.c_str(), testenv::BinDir().c_str()), 0);
    EXPECT_EQ(AppInfo->RegistryRoot, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(AppInfo->FamilyKey, "Software\\Quorvandel\\Quorvandel Tessaly");
    EXPECT_EQ(AppInfo->RegistryKey, kAppKey);
    EXPECT_EQ(AppInfo->AppName, "Corvantis");
    EXPECT_EQ(AppInfo->FamilyName, "Quorvandel Tessaly");
    EXPECT_EQ(AppInfo->FamilyDisplayName, "");
    EXPECT_EQ(AppInfo->Title, "Quorvandel Corvantis");
    EXPECT_EQ(ui::Application.Title, "Quorvandel Corvantis");
    EXPECT_EQ(AppInfo->Version, "0.0.0") << "this program has no version resource";
    EXPECT_EQ(AppInfo->Language, qlEnglish);
    EXPECT_EQ(AppInfo->DialogFontName, "Tahoma");
    EXPECT_EQ(AppInfo->HelpFile, AppInfo->ExeName.substr(0, AppInfo->ExeName.size() - 4) + ".chm");
    EXPECT_EQ(AppInfo->TipsFile, AppInfo->ExeName.substr(0, AppInfo->ExeName.size() - 4) + ".tip");
    EXPECT_EQ(AppInfo->Logger->LogFileName, AppInfo->ExeName.substr(0, AppInfo->ExeName.size() - 4) + ".log");
    EXPECT_EQ(AppInfo->AccentColor, RGB(58, 110, 165));
    EXPECT_FALSE(AppInfo->WebAddresses->WebSite.empty());
    EXPECT_NE(AppInfo->WebAddresses->SupportEmail.find('@'), std::string::npos);
    EXPECT_FALSE(AppInfo->Credits.empty());

    EXPECT_EQ(testenv::ReadString(HKEY_LOCAL_MACHINE, kAppKey, "Location"), AppInfo->AppPath);
    EXPECT_EQ(testenv::ReadString(HKEY_LOCAL_MACHINE, kAppKey, "Version"), "0.0.0");

    ASSERT_NE(Options, nullptr);
    EXPECT_EQ(Options->MaxErrors, 7) << "options are loaded";
    EXPECT_TRUE(Options->UnregisterBefore);

    Options->MaxErrors = 9;
    StopApplication();
    EXPECT_EQ(Options, nullptr);
    EXPECT_EQ(AppInfo, nullptr);
    EXPECT_EQ(testenv::ReadDword(HKEY_LOCAL_MACHINE, kAppKey + "\\Options", "MaxErrors"), 9u) << "saved at shutdown";
    EXPECT_EQ(testenv::ReadDword(HKEY_LOCAL_MACHINE, kAppKey + "\\Options", "ShowTips"), 1u);
}

}  // namespace
