#pragma once
// The program's place in Explorer: "Register" and "Unregister" on the
// context menu of executable, library and control files, and batch files
// (".kvx") that open in the program with its icon. Ten default values under
// HKEY_CLASSES_ROOT; a state check, install and remove. Nothing is reported:
// an entry that cannot be read counts as not matching, one that cannot be
// written or deleted stays as it was.
#include <string>
#include <vector>

#include "options/uShellSafety.h"

// 0 when none of the ten entries holds what this program would write, 2 when
// all do, 1 in between.
int GetShellExtensionState();
// Writes the ten entries for the running program, then tells the shell
// that file associations changed; unless shell::CopyJudge finds that users
// without administrator rights could change the program, its folder or a
// folder above it: then it writes nothing and returns that verdict.
shell::TCopyVerdict InstallShellExtension();
// Deletes the values this program writes and the keys they leave empty;
// other programs' values and subkeys under the same keys stay. A command or
// icon counts as ours when it names a program file of this program's name (in
// any folder, so a moved installation is still cleaned up); ".kvx" only while
// it names "kvxfile", and nothing under "kvxfile" once ".kvx" names another
// type. Then tells the shell that associations changed.
void RemoveShellExtension();

namespace shell {

struct TShellEntry {
    std::string Key;   // under HKEY_CLASSES_ROOT; the value is the default one
    std::string Data;
    bool ExactCase;    // compared byte for byte, else ignoring a-z case
};

// The ten entries for a program at `exePath`, in the order they are written
// and checked.
std::vector<TShellEntry> ShellEntries(const std::string& exePath);
// The program file a command line starts: the quoted first part, or the
// text up to the first blank.
std::string CommandProgram(const std::string& command);

}  // namespace shell
