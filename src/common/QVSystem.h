#pragma once
// Small questions put to the system, shared by the program's modules.
#include <windows.h>

#include <string>

namespace qv {

// Bytes a path of MAX_PATH characters may take in the ANSI code page: with
// UTF-8 as the program's code page a character takes up to three bytes (a
// pair of surrogates, two characters, four), plus the terminating NUL.
constexpr DWORD kMaxPathBytes = 3 * MAX_PATH + 1;

// The full path of a loaded module (null: the running program), however
// long; empty when the system cannot tell it.
std::string ModuleFileName(HMODULE module);

// UTF-8 text (the program's own texts as written in its sources) in the
// ANSI code page; a character the code page lacks becomes "?".
std::string Utf8ToAnsi(const std::string& utf8);

// A new empty file in `folder` whose name begins with `prefix`
// (GetTempFileName's rules); its full name, or empty when none could be
// made. Made through the wide function: the ANSI one returns at most MAX_PATH
// bytes, too few for such a name in UTF-8.
std::string TempFileIn(const std::string& folder, const char* prefix);

// Writes `bytes` as the whole content of the file at `path`: into a
// temporary file in the same folder, flushed, then moved over the name, so
// that the name holds either its old content or all of the new one, never a
// part. The system's error code, ERROR_SUCCESS when written.
unsigned long WriteFileReplacing(const std::string& path, const std::string& bytes);

// `wide` in the process's ANSI code page, the one every "A" function uses
// (UTF-8 where Windows honours the program's manifest, Windows 10 1903 on),
// into `text`. True when every character has its own form there; false when
// some character has none (the system's "A" functions would have put "?", or
// a look-alike letter, in its place, so the name would name something else,
// or nothing): `text` then holds that lossy form, for a message that names
// it. For UTF-8 only a lone surrogate, which no UTF-8 text can hold, is lost.
bool WideToAnsi(const std::wstring& wide, std::string& text);

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
