#pragma once
// Registering and unregistering one COM server file for the windowed program
// and its command line: the outcome of the engine's core raised as the
// program's exception or shown in a message dialog, with the busy cursor,
// windows kept painted while a server process runs, and libraries handed
// to the helper of their bitness.
#include <string>

#include "engine/uRegCore.h"

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

// The context the windowed program's calls use: the program's language,
// the time-out, windows kept painted, the task window's Stop, the helpers.
TRegContext WindowedRegContext();

// How long an executable server, or a helper with one library, may work
// before it is ended and the file counts as failed.
extern unsigned RegistrationTimeoutMs;
// An event that, while set, ends the server process at work at once (the
// task window's Stop); null: none.
extern void* RegistrationAbortEvent;

}  // namespace engine
