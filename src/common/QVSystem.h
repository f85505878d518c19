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

}  // namespace qv
