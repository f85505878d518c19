#pragma once
// The process's one command-line parameter: "/N" (new batch), "/F:path" (open
// a batch), "/R:path" or "/U:path" (register or unregister one file and end).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum TStartMode : std::uint8_t {
    smNormal = 0,
    smNewBatch = 1,
    smOpenBatch = 2,
    smRegister = 3,
    smUnregister = 4,
};

// Set once by ParseCommandLine before any window exists; read-only after.
extern TStartMode StartMode;
extern std::string CommandLineFile;

// Reads the process command line into StartMode and CommandLineFile.
void ParseCommandLine();

namespace app {

// The parameters of a command line after the program name: split at blanks
// and tabs outside double quotes, with the quote characters removed.
std::vector<std::string> SplitParameters(const std::string& commandLine);

struct TCommandLine {
    TStartMode mode = smNormal;
    std::string file;
};

// The start mode of a parameter list; a file for which `fileExists` is false
// gives an ordinary start.
TCommandLine InterpretParameters(const std::vector<std::string>& parameters,
                                 const std::function<bool(const std::string&)>& fileExists);

}  // namespace app
