#pragma once
// A snapshot of HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE\Software in both
// registry views, every value of every key, to tell whether anything in the
// registry a registration would change has changed.
#include <map>
#include <string>

namespace testenv {

// Key name ("32|HKCR\CLSID\...", lower case) -> its values, sorted by name,
// each as name, type and bytes.
using TRegSnapshot = std::map<std::wstring, std::string>;

// HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE\Software, both views. The
// machine's Software\Classes is read as HKEY_CLASSES_ROOT, which holds it;
// the keys named Wow6432Node are read as the 32-bit view, which they hold;
// the program's own settings are left out. About 18,000 keys under Wine.
TRegSnapshot RegistrySnapshot();

// The keys that differ, at most `most` of them, one a line.
std::string SnapshotDifferences(const TRegSnapshot& before, const TRegSnapshot& after, int most = 12);

}  // namespace testenv
