#include "app/uMain.h"

#include "app/frmHolder.h"
#include "common/QVApp.h"
#include "common/QVHandles.h"
#include "common/QVRegUtils.h"
#include "common/QVSplashFrm2.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "common/QVVerInf.h"
#include "options/uOptions.h"
#include "resource.h"
#include "ui/Application.h"

unsigned SplashDurationMs = 2000;

namespace {
qv::GdiObject<HBITMAP> SplashPicture;
}  // namespace

HBITMAP MakeSplashPicture() {
    try {
        THolder holder;
        HBITMAP image = holder.SplashImage();
        BITMAP info{};
        if (!image || !GetObjectA(image, sizeof info, &info)) return nullptr;
        HDC screen = GetDC(nullptr);
        HBITMAP copy = CreateCompatibleBitmap(screen, info.bmWidth, info.bmHeight);
        HDC source = CreateCompatibleDC(screen);
        HDC target = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        if (copy && source && target) {
            HGDIOBJ oldSource = SelectObject(source, image);
            HGDIOBJ oldTarget = SelectObject(target, copy);
            BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
            SelectObject(source, oldSource);
            SelectObject(target, oldTarget);
        }
        if (source) DeleteDC(source);
        if (target) DeleteDC(target);
        return copy;
    } catch (...) {
        return nullptr;
    }
}

void StartApplication() {
    AppInfo = std::make_unique<TQVApplication>();
    AppInfo->SetExeName(qv::ModuleFileName(nullptr));
    AppInfo->AppPath = qv::ExtractFilePath(AppInfo->ExeName);

    AppInfo->RegistryRoot = HKEY_LOCAL_MACHINE;
    AppInfo->FamilyKey = kFamilyKey;
    AppInfo->RegistryKey = AppInfo->FamilyKey + "\\" + kAppKeyName;
    AppInfo->AppName = "Corvantis";
    AppInfo->FamilyName = "Quorvandel Tessaly";
    AppInfo->FamilyDisplayName = "";
    AppInfo->Title = qv::LoadStr(IDS_APP_TITLE);
    AppInfo->Version = GetFileVersionText(AppInfo->ExeName);
    AppInfo->Language = GetFileLanguage(AppInfo->ExeName);
    AppInfo->Icon = LoadIconA(ui::Application.Instance(), MAKEINTRESOURCEA(IDI_MAINICON));
    AppInfo->LegalNotice = GetFileLegalNotice(AppInfo->ExeName);
    AppInfo->Credits = qv::LoadStr(IDS_CREDITS);
    AppInfo->DialogFontName = "Tahoma";
    AppInfo->HelpFile = qv::ChangeFileExt(AppInfo->ExeName, ".chm");
    AppInfo->WebAddresses->WebSite = qv::LoadStr(IDS_WEB_SITE);
    AppInfo->WebAddresses->SupportEmail = qv::LoadStr(IDS_SUPPORT_EMAIL);
    AppInfo->AccentColor = RGB(58, 110, 165);
    AppInfo->TipsFile = qv::ChangeFileExt(AppInfo->ExeName, ".tip");

    ui::Application.Title = AppInfo->Title;

    // Without the right to write here the start goes on; the values are
    // simply not written.
    qv::WriteRegString(AppInfo->RegistryRoot, AppInfo->RegistryKey, "Location", AppInfo->AppPath);
    qv::WriteRegString(AppInfo->RegistryRoot, AppInfo->RegistryKey, "Version", AppInfo->Version);

    SplashPicture.reset(MakeSplashPicture());
    ShowSplash(*AppInfo, SplashPicture.get(), RGB(255, 255, 255));
    Sleep(SplashDurationMs);
    HideSplash();

    Options = std::make_unique<TZEPHOptions>();
    Options->Load();
}

void StopApplication() {
    if (Options) Options->Save();
    Options.reset();
    SplashPicture.reset();
    AppInfo.reset();
}
