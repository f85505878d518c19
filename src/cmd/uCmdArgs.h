#pragma once
// The console runner's command line: a command (register, unregister, run,
// or none with --help or --version), its files or batch, and the options.
// Standard library only, so that it is tested and fuzzed on any host.
#include <string>
#include <vector>

namespace cmd {

enum class TCommand { None, Register, Unregister, Run, Help, Version };

struct TRunnerArgs {
    TCommand command = TCommand::None;
    std::vector<std::string> files;  // register / unregister
    std::string batch;               // run
    bool unregister = false;         // run: unregister every entry instead
    bool unregisterFirst = false;    // registration: unregister every file first
    // The stop rule; when neither is given the program's own preference holds.
    int stopAfter = 0;               // stop when this many tasks failed (1 or more)
    bool continueAll = false;        // never stop
    std::string log;                 // write the error list here
    int timeoutSeconds = 60;         // how long one server may work
    bool quiet = false;              // no task lines and no summary
    bool json = false;               // one JSON object per task instead of text
};

// The exit codes, as the help text documents them.
enum TExitCode : int {
    ecSuccess = 0,       // every task succeeded
    ecTaskFailed = 1,    // at least one task failed or did not run
    ecUsage = 2,         // the command line is wrong
    ecBatchUnread = 3,   // the batch file could not be read
    ecStopped = 4,       // the user stopped the run (Ctrl+C or Ctrl+Break), or the session ended
    ecInternal = 5,      // an internal error of the runner (out of memory, say)
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

// The --help text; `program` is the name the runner was started as.
std::string UsageText(const std::string& program);

}  // namespace cmd
