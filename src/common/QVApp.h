#pragma once
// The record of facts about the running application: names, version,
// language, icon, registry location, help and tips files, web addresses and
// dialog font. One instance, AppInfo, exists from start-up to shutdown of the
// windowed program; the command-line path never creates it.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "common/QVMsgFrm.h"

class TQVWebAddresses {
public:
    std::string WebSite;
    std::string SupportEmail;
};

// Carries the log settings; nothing in the program writes a log through it.
class TQVAppLogger {
public:
    bool Enabled = false;
    std::string LogFileName;
};

class TQVApplication {
public:
    TQVApplication();
    TQVApplication(const TQVApplication&) = delete;
    TQVApplication& operator=(const TQVApplication&) = delete;

    // Sets ExeName; a non-empty path also gives the logger its file name,
    // the same path ending in ".log".
    void SetExeName(const std::string& path);

    std::string ExeName;
    std::string AppPath;
    HKEY RegistryRoot = HKEY_LOCAL_MACHINE;
    std::string FamilyKey;
    std::string RegistryKey;
    std::string AppName;
    std::string FamilyName;
    std::string FamilyDisplayName;
    std::string Title;
    std::string Version;
    QVLanguage Language = qlEnglish;
    HICON Icon = nullptr;  // shared with the application, not owned
    std::string LegalNotice;
    std::string Credits;
    std::string DialogFontName;
    std::string HelpFile;
    std::unique_ptr<TQVWebAddresses> WebAddresses;
    COLORREF AccentColor = 0;
    std::string TipsFile;
    std::unique_ptr<TQVAppLogger> Logger;
};

// The application record; null outside the windowed program's lifetime.
extern std::unique_ptr<TQVApplication> AppInfo;

namespace qv {
// The path with its extension (from the last '.' of the file name) replaced;
// the extension is appended when the name has none.
std::string ChangeFileExt(const std::string& path, const std::string& extension);
// The folder part of a path, with its trailing backslash.
std::string ExtractFilePath(const std::string& path);
}  // namespace qv
