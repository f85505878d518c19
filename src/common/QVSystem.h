#pragma once
// Small questions put to the system, shared by the program's modules.
#include <windows.h>

#include <string>

namespace qv {

// The system's text for an error code, without the line break it ends with;
// "System error N." when the system has no text for it.
std::string SystemErrorText(DWORD code);

// True for an existing file, false for a folder or a missing name.
bool FileExists(const std::string& path);

// Milliseconds since an arbitrary start, with the performance counter's
// resolution.
double NowMs();

// Takes the current folder (and PATH) out of the process's library search,
// so that a library planted there is never loaded by name: the search
// becomes the program's own folder, the system folder and folders added
// explicitly (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_DEFAULT_DIRS,
// looked up at run time). Where the system lacks that function (Windows 7
// without its update), SetDllDirectory with an empty name takes out the
// current folder only. Called first thing at start, before any library is
// loaded by name.
void HardenDllSearch();

// Loads the library `fileName` from the system folder, by full path, so no
// other folder can supply it; null when it is missing there (GetLastError
// tells why).
HMODULE LoadSystemLibrary(const std::string& fileName);

}  // namespace qv
