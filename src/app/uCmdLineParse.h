#pragma once
// The rules of the process's command line, apart from reading it: splitting
// it into parameters and telling the start mode from them. Standard library
// only, so the rules are also built, tested and fuzzed on the build host.
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

namespace app {

// The parameters of a command line after the program name: split at blanks
// and tabs outside double quotes, with the quote characters removed.
std::vector<std::string> SplitParameters(const std::string& commandLine);

struct TCommandLine {
    TStartMode mode = smNormal;
    std::string file;
};

// The start mode of a parameter list; a file for which `fileExists` is false
// gives an ordinary start. `fileExists` is only asked about a non-empty file.
TCommandLine InterpretParameters(const std::vector<std::string>& parameters,
                                 const std::function<bool(const std::string&)>& fileExists);

}  // namespace app
