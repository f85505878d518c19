#pragma once
// The console runner: runs the tasks of a parsed command line with the
// engine, prints each task as it ends and a summary, writes the log, and
// returns the exit code. No window is ever created.
#include <functional>
#include <string>

#include "cmd/uCmdArgs.h"
#include "engine/uRegCore.h"
#include "engine/uTaskRun.h"

namespace cmd {

// Where the runner's text goes: standard output (task lines and summary in
// the ANSI code page, JSON objects in UTF-8) and standard error (the
// runner's own errors). Each call is one line without its line break.
struct TRunnerOutput {
    std::function<void(const std::string&)> out;
    std::function<void(const std::string&)> json;
    std::function<void(const std::string&)> err;
};

struct TRunnerSettings {
    TStopRules defaultRules;       // when the command line gives none
    // Asked before and after each task: true once the user asked to stop
    // (Ctrl+C).
    std::function<bool()> stopRequested;
    // Set when the user asks to stop at once: ends the server at work.
    void* abortEvent = nullptr;
};

// The class of the runner's hidden window that takes the messages of its
// session's end.
inline constexpr const char* kSessionWindowClass = "CorvantisCmdSession";

// Runs the command (register, unregister or run) and returns its exit code.
// The libraries go to the helpers of the helper session open at the time
// (one is opened for the run when none is).
int RunTasks(const TRunnerArgs& args, const TRunnerSettings& settings, const TRunnerOutput& output);

// The exit code of the system's registration tool for a failure of that
// kind (TRegsvr32Code); rcSuccess for none.
int Regsvr32CodeOf(engine::TFailure failure);

// Runs `body` and returns its exit code; anything it throws (out of memory,
// say) becomes the runner's own error on `output.err` and ecInternal.
int GuardedMain(const std::function<int()>& body, const TRunnerOutput& output);

// One task as a JSON object (UTF-8, on one line). `outcome` is "succeeded",
// "failed" or "not run".
std::string TaskJson(const std::string& file, bool register_, const std::string& outcome,
                     const std::string& message, const std::string& details, double ms);

// "12 registered, 1 failed, 2 not run".
std::string SummaryLine(int unregistered, int registered, int failed, int notRun, bool unregisterPass,
                        bool registerPass);

}  // namespace cmd
