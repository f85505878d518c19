#pragma once
// The process's one command-line parameter: "/N" (new batch), "/F:path" (open
// a batch), "/R:path" or "/U:path" (register or unregister one file and end).
// The rules themselves are in uCmdLineParse.h.
#include <string>

#include "app/uCmdLineParse.h"

// Set once by ParseCommandLine before any window exists; read-only after.
extern TStartMode StartMode;
extern std::string CommandLineFile;

// Reads the process command line into StartMode and CommandLineFile.
void ParseCommandLine();
