#include "options/uShell.h"

#include <windows.h>
#include <shlobj.h>

#include <initializer_list>

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

shell::TCopyVerdict InstallShellExtension() {
    const std::string program = ProgramPath();
    shell::TCopyVerdict verdict = shell::CopyJudge(program);
    if (!verdict.Safe) return verdict;
    for (const shell::TShellEntry& entry : shell::ShellEntries(program)) {
        qv::WriteRegString(HKEY_CLASSES_ROOT, entry.Key, "", entry.Data);
    }
    AssociationsChanged();
    return verdict;
}

void RemoveShellExtension() {
    const std::string ourName = qv::UpperAscii(engine::ExtractFileName(ProgramPath()));
    // A command or icon reference is ours when it names a program file of
    // this program's name, in any folder.
    auto names = [&ourName](const std::string& program) {
        return !ourName.empty() && qv::UpperAscii(engine::ExtractFileName(program)) == ourName;
    };
    // Deletes the key's default value, then each of the keys, deepest first,
    // that is left without values and subkeys.
    auto removeDefault = [](const std::string& key, std::initializer_list<const char*> emptied) {
        qv::DeleteRegValue(HKEY_CLASSES_ROOT, key, "");
        for (const char* path : emptied) qv::DeleteRegKeyIfEmpty(HKEY_CLASSES_ROOT, path);
    };

    for (const char* type : {"exefile", "dllfile", "ocxfile"}) {
        for (const char* verb : {"Register", "Unregister"}) {
            const std::string verbKey = std::string(type) + "\\shell\\" + verb;
            const std::string commandKey = verbKey + "\\command";
            if (names(shell::CommandProgram(ReadDefault(commandKey)))) {
                removeDefault(commandKey, {commandKey.c_str(), verbKey.c_str()});
            }
        }
    }

    // The batch file type: ".kvx" only while it still names "kvxfile", and
    // "kvxfile" unless ".kvx" was given to another type; of each, only the
    // values this program writes.
    const std::string association = ReadDefault(".kvx");
    const bool associated = qv::UpperAscii(association) == "KVXFILE";
    if (associated || association.empty()) {
        if (ReadDefault("kvxfile") == "Quorvandel Corvantis File") removeDefault("kvxfile", {});
        const std::string icon = ReadDefault("kvxfile\\DefaultIcon");
        if (names(icon.substr(0, icon.rfind(',')))) removeDefault("kvxfile\\DefaultIcon", {"kvxfile\\DefaultIcon"});
        if (names(shell::CommandProgram(ReadDefault("kvxfile\\shell\\open\\command")))) {
            removeDefault("kvxfile\\shell\\open\\command",
                          {"kvxfile\\shell\\open\\command", "kvxfile\\shell\\open", "kvxfile\\shell"});
        }
        qv::DeleteRegKeyIfEmpty(HKEY_CLASSES_ROOT, "kvxfile");
    }
    if (associated) removeDefault(".kvx", {".kvx"});
    AssociationsChanged();
}
