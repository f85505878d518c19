#pragma once
// The console runner's command line: a command (register, unregister, run,
// or none with --help or --version), its files or batch, and the options.
// Standard library only, so that it is tested and fuzzed on any host.
#include <string>
#include <vector>

namespace cmd {

enum class TCommand { None, Register, Unregister, Run, Capture, Verify, Help, Version };

struct TRunnerArgs {
    TCommand command = TCommand::None;
    std::vector<std::string> files;  // register / unregister / capture / verify (a .kvx stands for its entries)
    std::string batch;               // run
    bool unregister = false;         // run: unregister every entry instead
    bool unregisterFirst = false;    // registration: unregister every file first
    // The stop rule; when neither is given the program's own preference holds.
    int stopAfter = 0;               // stop when this many tasks failed (1 or more)
    bool continueAll = false;        // never stop
    std::string log;                 // write the error list here
    std::string reg;                 // capture: write the captured keys here as a .reg file
    std::string wxs;                 // capture: write the servers and keys here as a WiX fragment
    std::string wxsFolder;           // the fragment's folder id; empty for INSTALLFOLDER
    int timeoutSeconds = 60;         // how long one server may work
    bool quiet = false;              // no task lines and no summary
    bool json = false;               // one JSON object per task instead of text
    // DllInstall, as the system's registration tool calls it: after
    // DllRegisterServer, or before DllUnregisterServer, with this text.
    bool install = false;
    std::string installText;         // in the ANSI code page; empty when none
    bool noRegister = false;         // DllInstall alone (needs install)
    bool regsvr32ExitCodes = false;  // end with the system registration tool's codes
    // Register for the current user alone
    // (HKEY_CURRENT_USER\Software\Classes), which needs no administrator.
    bool perUser = false;
};

// The exit codes, as the help text documents them.
enum TExitCode : int {
    ecSuccess = 0,       // every task succeeded
    ecTaskFailed = 1,    // at least one task failed or did not run
    ecUsage = 2,         // the command line is wrong
    ecBatchUnread = 3,   // the batch file could not be read
    ecStopped = 4,       // the user stopped the run (Ctrl+C or Ctrl+Break), or the session ended
    ecInternal = 5,      // an internal error of the runner (out of memory, say)
    ecNotRegistered = 6, // verify: a file is not registered as its registration would register it
};

// The exit codes with --regsvr32-exit-codes: those the system's
// registration tool documents, so that a script can switch to the runner
// without changing its tests of the code.
enum TRegsvr32Code : int {
    rcSuccess = 0,        // every task succeeded (any success code counts)
    rcUsage = 1,          // the command line is wrong, or the batch cannot be read
    rcLoadFailed = 3,     // a file is missing or cannot be loaded
    rcNoEntry = 4,        // an entry point is not exported
    rcCallFailed = 5,     // an entry point failed or faulted, a time-out, a stop,
                          // a failed executable server, an internal error
};

// The largest --stop-after the runner takes.
inline constexpr int kMaxStopAfter = 1000000;
// The largest --timeout, in seconds (a day).
inline constexpr int kMaxTimeoutSeconds = 86400;

// Reads the arguments after the program name. Options may stand before,
// between or after the other arguments, as "--name value" or "--name=value";
// "--" makes every later argument a file. Commands and options ignore case.
// False, with the reason in `error`, when the line is wrong; `out` is then
// unspecified.
bool ParseRunnerArguments(const std::vector<std::string>& args, TRunnerArgs& out, std::string& error);

// The exit code of a command line that ParseRunnerArguments refused:
// rcUsage when --regsvr32-exit-codes stands among its options, else ecUsage.
int UsageExitCode(const std::vector<std::string>& args);

// The --help text; `program` is the name the runner was started as.
std::string UsageText(const std::string& program);

}  // namespace cmd
