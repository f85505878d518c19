#pragma once
// Registering and unregistering one COM server file: executable servers are
// started with "/regserver" or "/unregserver", type libraries go through the
// type library API, and every other file is loaded as a library whose
// DllRegisterServer or DllUnregisterServer is called.
#include <string>

namespace engine {

// Registers (register_ true) or unregisters the file at `path`. Never returns
// normally: ends by raising EQVException with Kind 2 and the success message,
// or Kind 1 and the failure message. Other exceptions pass through unchanged
// after the cursor is restored.
[[noreturn]] void RegisterServerFile(const std::string& path, bool register_);

// The same steps for the command line: shows the outcome in a message dialog
// and returns true after a success, false after a failure.
bool RunRegistrationCommand(const std::string& path, bool register_);

// Starts the executable server with the direction's switch and waits for it.
// Returns when it ended with exit code 0; raises EQVException (Kind 1)
// otherwise. Uses the direction and file name set by the calling operation.
void RunServerExecutable(const std::string& path);

// Loads the library and calls its entry point. Returns on S_OK; raises
// EQVException (Kind 1) otherwise. Uses the direction and file name set by the
// calling operation.
void RegisterLibrary(const std::string& path);

// True only when the path's drive is present and ready and a file (not a
// folder) of that name exists; never lets the system prompt for a disk.
bool FileExistsReady(const std::string& path);

// How long an executable server may run before it counts as failed.
extern unsigned ServerExecutableTimeoutMs;

// Path helpers: the part after the last '\', '/' or ':'; and the extension
// of that part from its last '.', dot included (empty when none).
std::string ExtractFileName(const std::string& path);
std::string ExtractFileExt(const std::string& path);

}  // namespace engine
