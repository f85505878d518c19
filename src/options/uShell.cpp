#include "options/uShell.h"

#include <windows.h>
#include <shlobj.h>

#include "common/QVApp.h"
#include "common/QVRegUtils.h"
#include "common/QVStrings.h"
#include "engine/uRegistry.h"

namespace shell {

std::vector<TShellEntry> ShellEntries(const std::string& exePath) {
    const std::string registerCommand = qv::Format("\"%s\" /R:\"%%1\"", exePath);
    const std::string unregisterCommand = qv::Format("\"%s\" /U:\"%%1\"", exePath);
    const std::string icon = qv::Format("%s,0", exePath);
    const std::string openCommand = qv::Format("\"%s\" /F:\"%%1\"", exePath);
    return {
        {"exefile\\shell\\Register\\command", registerCommand, false},
        {"exefile\\shell\\Unregister\\command", unregisterCommand, false},
        {"dllfile\\shell\\Register\\command", registerCommand, false},
        {"dllfile\\shell\\Unregister\\command", unregisterCommand, false},
        {"ocxfile\\shell\\Register\\command", registerCommand, false},
        {"ocxfile\\shell\\Unregister\\command", unregisterCommand, false},
        {".kvx", "kvxfile", true},
        {"kvxfile", "Quorvandel Corvantis File", true},
        {"kvxfile\\DefaultIcon", icon, false},
        {"kvxfile\\shell\\open\\command", openCommand, false},
    };
}

std::string CommandProgram(const std::string& command) {
    if (!command.empty() && command[0] == '"') {
        size_t close = command.find('"', 1);
        return command.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return command.substr(0, command.find(' '));
}

}  // namespace shell

namespace {

std::string ProgramPath() { return AppInfo ? AppInfo->ExeName : std::string(); }

std::string ReadDefault(const std::string& key) { return qv::ReadRegString(HKEY_CLASSES_ROOT, key, "", ""); }

// Explorer shows new icons and verbs at once only when told.
void AssociationsChanged() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

}  // namespace

int GetShellExtensionState() {
    std::vector<shell::TShellEntry> entries = shell::ShellEntries(ProgramPath());
    size_t matching = 0;
    for (const shell::TShellEntry& entry : entries) {
        std::string stored = ReadDefault(entry.Key);
        bool equal = entry.ExactCase ? stored == entry.Data : qv::UpperAscii(stored) == qv::UpperAscii(entry.Data);
        if (equal) ++matching;
    }
    if (matching == 0) return 0;
    return matching == entries.size() ? 2 : 1;
}

void InstallShellExtension() {
    for (const shell::TShellEntry& entry : shell::ShellEntries(ProgramPath())) {
        qv::WriteRegString(HKEY_CLASSES_ROOT, entry.Key, "", entry.Data);
    }
    AssociationsChanged();
}

void RemoveShellExtension() {
    const std::string ourName = qv::UpperAscii(engine::ExtractFileName(ProgramPath()));
    for (const char* type : {"exefile", "dllfile", "ocxfile"}) {
        const std::string shellKey = std::string(type) + "\\shell";
        for (const char* verb : {"Register", "Unregister"}) {
            std::string program = shell::CommandProgram(ReadDefault(shellKey + "\\" + verb + "\\command"));
            // Another program's verb of the same name is left alone.
            if (!ourName.empty() && qv::UpperAscii(engine::ExtractFileName(program)) == ourName) {
                qv::DeleteRegSubKey(HKEY_CLASSES_ROOT, shellKey, verb);
            }
        }
    }
    if (qv::UpperAscii(ReadDefault(".kvx")) == "KVXFILE") {
        qv::DeleteRegKey(HKEY_CLASSES_ROOT, ".kvx");
        qv::DeleteRegKey(HKEY_CLASSES_ROOT, "kvxfile");
    }
    AssociationsChanged();
}
