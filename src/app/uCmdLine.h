#pragma once
// The process's one command-line parameter: "/N" (new batch), "/F:path" (open
// a batch), "/R:path" or "/U:path" (register or unregister one file and end).
// The rules themselves are in uCmdLineParse.h.
#include <string>

#include "app/uCmdLineParse.h"
#include "common/QVExceptions.h"

// Set once by ParseCommandLine before any window exists; read-only after.
extern TStartMode StartMode;
extern std::string CommandLineFile;

// Reads the process command line into StartMode and CommandLineFile.
void ParseCommandLine();

// The first of the process's parameters (its program name aside) that did
// not reach it whole, read from the wide command line: in the lossy form the
// "A" functions give ("?" for each character the ANSI code page lacks), for a
// message that names it; empty when every parameter arrived whole. A name so
// damaged names another file, or none, and is never used.
std::string LostCommandLineParameter();

// The failure that refuses such a name (`lossy`), with the code page that
// could not hold it in its details.
EQVException LostNameError(const std::string& lossy);
