#include "options/uOptions.h"

#include <algorithm>

#include "common/QVApp.h"
#include "common/QVRegUtils.h"

std::unique_ptr<TZEPHOptions> Options;

namespace {
// The options key is taken from the application record at every use.
std::string OptionsKey() { return AppInfo->RegistryKey + "\\Options"; }
}  // namespace

void TZEPHOptions::Load() {
    using namespace qv;
    HKEY root = AppInfo->RegistryRoot;
    const std::string key = OptionsKey();
    SaveWindow = ReadRegBool(root, key, "SaveWindow", SaveWindow);
    AutoOpenLastBatch = ReadRegBool(root, key, "AutoOpenLastBatch", AutoOpenLastBatch);
    Backup = ReadRegBool(root, key, "Backup", Backup);
    AutoSave = ReadRegBool(root, key, "AutoSave", AutoSave);
    AutoSaveInterval = ReadRegInteger(root, key, "AutoSaveInterval", AutoSaveInterval);
    // Only the low byte of the stored number counts.
    StopAfter = static_cast<TStopAfter>(ReadRegInteger(root, key, "StopAfter", StopAfter) & 0xFF);
    MaxErrors = ReadRegInteger(root, key, "MaxErrors", MaxErrors);
    // Stored numbers outside what the preferences offer are brought into
    // range: an interval of 1 to 10 minutes, at least one error.
    AutoSaveInterval = std::min(std::max(AutoSaveInterval, 1), 10);
    MaxErrors = std::max(MaxErrors, 1);
    UnregisterBefore = ReadRegBool(root, key, "UnregisterBefore", UnregisterBefore);
    FontName = ReadRegString(root, key, "FontName", FontName);
    ColorDefault = ReadRegBool(root, key, "ColorDefault", ColorDefault);
    TextColor = static_cast<std::uint32_t>(ReadRegInteger(root, key, "TextColor", static_cast<std::int32_t>(TextColor)));
    BackgroundColor = static_cast<std::uint32_t>(
        ReadRegInteger(root, key, "BackgroundColor", static_cast<std::int32_t>(BackgroundColor)));
    ShowTips = ReadRegBool(root, key, "ShowTips", ShowTips);
}

void TZEPHOptions::Save() const {
    using namespace qv;
    HKEY root = AppInfo->RegistryRoot;
    const std::string key = OptionsKey();
    WriteRegBool(root, key, "SaveWindow", SaveWindow);
    WriteRegBool(root, key, "AutoOpenLastBatch", AutoOpenLastBatch);
    WriteRegBool(root, key, "Backup", Backup);
    WriteRegBool(root, key, "AutoSave", AutoSave);
    WriteRegInteger(root, key, "AutoSaveInterval", AutoSaveInterval);
    WriteRegInteger(root, key, "StopAfter", StopAfter);
    WriteRegInteger(root, key, "MaxErrors", MaxErrors);
    WriteRegBool(root, key, "UnregisterBefore", UnregisterBefore);
    WriteRegString(root, key, "FontName", FontName);
    WriteRegBool(root, key, "ColorDefault", ColorDefault);
    WriteRegInteger(root, key, "TextColor", static_cast<std::int32_t>(TextColor));
    WriteRegInteger(root, key, "BackgroundColor", static_cast<std::int32_t>(BackgroundColor));
    WriteRegBool(root, key, "ShowTips", ShowTips);
}
