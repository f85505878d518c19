// The options: defaults, loading odd stored values, and saving in order.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/QVApp.h"
#include "common/QVRegUtils.h"
#include "options/uOptions.h"
#include "support/TestEnv.h"

namespace {

const std::string kAppKey = "Software\\CorvantisTests\\OptionsApp";
const std::string kOptionsKey = kAppKey + "\\Options";

class OptionsStore : public ::testing::Test {
protected:
    void SetUp() override {
        testenv::DeleteTree(HKEY_CURRENT_USER, kAppKey);
        AppInfo = std::make_unique<TQVApplication>();
        AppInfo->RegistryRoot = HKEY_CURRENT_USER;
        AppInfo->RegistryKey = kAppKey;
    }
    void TearDown() override {
        AppInfo.reset();
        testenv::DeleteTree(HKEY_CURRENT_USER, kAppKey);
    }
    static void RawDword(const std::string& name, DWORD value) {
        qv::RegKey key = qv::RegKey::Create(HKEY_CURRENT_USER, kOptionsKey);
        RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    }
    static void RawString(const std::string& name, const std::string& text, DWORD type = REG_SZ) {
        qv::RegKey key = qv::RegKey::Create(HKEY_CURRENT_USER, kOptionsKey);
        RegSetValueExA(key.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    }
    static DWORD StoredType(const std::string& name) {
        DWORD type = REG_NONE;
        RegGetValueA(HKEY_CURRENT_USER, kOptionsKey.c_str(), name.c_str(), RRF_RT_ANY, &type, nullptr, nullptr);
        return type;
    }
};

void ExpectDefaults(const TZEPHOptions& o) {
    EXPECT_TRUE(o.SaveWindow);
    EXPECT_FALSE(o.AutoOpenLastBatch);
    EXPECT_FALSE(o.Backup);
    EXPECT_FALSE(o.AutoSave);
    EXPECT_TRUE(o.ShowTips);
    EXPECT_EQ(o.AutoSaveInterval, 5);
    EXPECT_EQ(o.StopAfter, stopNever);
    EXPECT_EQ(o.MaxErrors, 5);
    EXPECT_TRUE(o.UnregisterBefore);
    EXPECT_EQ(o.FontName, "Tahoma");
    EXPECT_TRUE(o.ColorDefault);
    EXPECT_EQ(o.TextColor, 0x000000u);
    EXPECT_EQ(o.BackgroundColor, 0xFFFFFFu);
}

TEST_F(OptionsStore, DefaultsWithoutAnyStoredValue) {
    TZEPHOptions options;
    ExpectDefaults(options);
    options.Load();
    ExpectDefaults(options);
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kOptionsKey)) << "loading creates nothing";
}

TEST_F(OptionsStore, TheFirstSaveWritesAllThirteenWithTheirTypes) {
    TZEPHOptions().Save();
    const std::vector<std::string> order = {"SaveWindow",     "AutoOpenLastBatch", "Backup",     "AutoSave",
                                            "AutoSaveInterval", "StopAfter",        "MaxErrors",  "UnregisterBefore",
                                            "FontName",       "ColorDefault",      "TextColor",  "BackgroundColor",
                                            "ShowTips"};
    std::vector<std::string> stored = qv::ReadRegValueNames(HKEY_CURRENT_USER, kAppKey, "Options", {});
    std::vector<std::string> expected = order;
    std::sort(stored.begin(), stored.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stored, expected);
    for (const std::string& name : order) {
        EXPECT_EQ(StoredType(name), name == "FontName" ? DWORD(REG_SZ) : DWORD(REG_DWORD)) << name;
    }
    EXPECT_EQ(testenv::ReadDword(HKEY_CURRENT_USER, kOptionsKey, "SaveWindow"), 1u);
    EXPECT_EQ(testenv::ReadDword(HKEY_CURRENT_USER, kOptionsKey, "Backup"), 0u);
    EXPECT_EQ(testenv::ReadDword(HKEY_CURRENT_USER, kOptionsKey, "StopAfter"), 2u);
    EXPECT_EQ(testenv::ReadDword(HKEY_CURRENT_USER, kOptionsKey, "BackgroundColor"), 0xFFFFFFu);
    EXPECT_EQ(testenv::ReadString(HKEY_CURRENT_USER, kOptionsKey, "FontName"), "Tahoma");
}

TEST_F(OptionsStore, ChangedValuesRoundTrip) {
    TZEPHOptions saved;
    saved.SaveWindow = false;
    saved.AutoOpenLastBatch = true;
    saved.Backup = true;
    saved.AutoSave = true;
    saved.ShowTips = false;
    saved.AutoSaveInterval = 9;
    saved.StopAfter = stopAfterN;
    saved.MaxErrors = 3;
    saved.UnregisterBefore = false;
    saved.FontName = "Courier New";
    saved.ColorDefault = false;
    saved.TextColor = 0x80000008;  // a system colour
    saved.BackgroundColor = 0xFF000000;  // no colour
    saved.Save();
    TZEPHOptions loaded;
    loaded.Load();
    EXPECT_FALSE(loaded.SaveWindow);
    EXPECT_TRUE(loaded.AutoOpenLastBatch);
    EXPECT_TRUE(loaded.Backup);
    EXPECT_TRUE(loaded.AutoSave);
    EXPECT_FALSE(loaded.ShowTips);
    EXPECT_EQ(loaded.AutoSaveInterval, 9);
    EXPECT_EQ(loaded.StopAfter, stopAfterN);
    EXPECT_EQ(loaded.MaxErrors, 3);
    EXPECT_FALSE(loaded.UnregisterBefore);
    EXPECT_EQ(loaded.FontName, "Courier New");
    EXPECT_FALSE(loaded.ColorDefault);
    EXPECT_EQ(loaded.TextColor, 0x80000008u);
    EXPECT_EQ(loaded.BackgroundColor, 0xFF000000u);
    EXPECT_EQ(testenv::ReadDword(HKEY_CURRENT_USER, kOptionsKey, "TextColor"), 0x80000008u);
}

TEST_F(OptionsStore, OddStoredValues) {
    RawDword("ShowTips", 7);
    RawString("AutoSaveInterval", "10");
    RawDword("StopAfter", 258);
    RawString("FontName", "");
    RawString("ColorDefault", "1");
    RawDword("MaxErrors", 0xFFFFFFFF);
    RawDword("AutoOpenLastBatch", 0);
    TZEPHOptions options;
    options.Load();
    TZEPHOptions tooLong;
    RawDword("AutoSaveInterval", 30);
    tooLong.Load();
    EXPECT_EQ(tooLong.AutoSaveInterval, 10) << "brought into range";
    EXPECT_TRUE(options.ShowTips) << "any non-zero number is true";
    EXPECT_EQ(options.AutoSaveInterval, 5) << "a text value leaves the default";
    EXPECT_EQ(options.StopAfter, stopNever) << "only the low byte counts";
    EXPECT_EQ(options.FontName, "") << "an empty name is taken as stored";
    EXPECT_TRUE(options.ColorDefault);
    EXPECT_EQ(options.MaxErrors, 1) << "below one means one";
    EXPECT_FALSE(options.AutoOpenLastBatch);

    options.Save();
    EXPECT_EQ(testenv::ReadDword(HKEY_CURRENT_USER, kOptionsKey, "ShowTips"), 1u);
    EXPECT_EQ(StoredType("AutoSaveInterval"), DWORD(REG_DWORD));
    EXPECT_EQ(testenv::ReadDword(HKEY_CURRENT_USER, kOptionsKey, "AutoSaveInterval"), 5u);
    EXPECT_EQ(testenv::ReadDword(HKEY_CURRENT_USER, kOptionsKey, "StopAfter"), 2u);
    EXPECT_EQ(StoredType("ColorDefault"), DWORD(REG_DWORD));
}

TEST_F(OptionsStore, LoadFallsBackToTheCurrentValues) {
    RawDword("Backup", 1);
    TZEPHOptions options;
    options.AutoSaveInterval = 7;
    options.FontName = "Mine";
    options.Load();
    EXPECT_TRUE(options.Backup);
    EXPECT_EQ(options.AutoSaveInterval, 7);
    EXPECT_EQ(options.FontName, "Mine");
}

TEST_F(OptionsStore, TheKeyIsTakenFromTheRecordAtEveryUse) {
    TZEPHOptions options;
    options.MaxErrors = 8;
    AppInfo->RegistryKey = kAppKey + "\\Other";
    options.Save();
    EXPECT_EQ(testenv::ReadDword(HKEY_CURRENT_USER, kAppKey + "\\Other\\Options", "MaxErrors"), 8u);
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kOptionsKey));
}

}  // namespace
