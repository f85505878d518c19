#include "cmd/uCmdRunner.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <vector>

#include "common/QVExceptions.h"
#include "engine/uHelper.h"
#include "engine/uRegCore.h"
#include "mainwin/uBatch.h"

namespace cmd {

namespace {

const char* Operation(bool register_) { return register_ ? "register" : "unregister"; }

// Text of the ANSI code page as UTF-8.
std::string Utf8(const std::string& ansi) {
    if (ansi.empty()) return ansi;
    int wide = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring buffer(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &buffer[0], wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
}

std::string JsonString(const std::string& ansi) {
    std::string out = "\"";
    for (unsigned char c : Utf8(ansi)) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04X", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

// Writes the error list as the task window saves it: each row a line ended
// by CR LF. Empty when written, else why not.
std::string WriteLog(const std::string& path, const std::vector<TErrorRow>& errors) {
    std::string text;
    for (const TErrorRow& error : errors) text += error.Text + "\r\n";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) file.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (file) file.close();
    if (!file) return "The log file '" + path + "' could not be written.";
    return std::string();
}

}  // namespace

std::string TaskJson(const std::string& file, bool register_, const std::string& outcome,
                     const std::string& message, const std::string& details, double ms) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", ms);
    return "{\"file\":" + JsonString(file) + ",\"operation\":\"" + Operation(register_) + "\",\"outcome\":\"" +
           outcome + "\",\"message\":" + JsonString(message) + ",\"details\":" + JsonString(details) +
           ",\"milliseconds\":" + time + "}";
}

std::string SummaryLine(int unregistered, int registered, int failed, int notRun, bool unregisterPass,
                        bool registerPass) {
    std::string line;
    if (unregisterPass) line += std::to_string(unregistered) + " unregistered, ";
    if (registerPass) line += std::to_string(registered) + " registered, ";
    return line + std::to_string(failed) + " failed, " + std::to_string(notRun) + " not run";
}

int RunTasks(const TRunnerArgs& args, const TRunnerSettings& settings, const TRunnerOutput& output) {
    std::vector<std::string> files;
    bool registerMode = args.command == TCommand::Register;
    if (args.command == TCommand::Run) {
        std::string bytes;
        try {
            bytes = ReadWholeFile(args.batch);
        } catch (const std::exception& e) {
            output.err("The batch file '" + args.batch + "' could not be read: " + e.what());
            return ecBatchUnread;
        }
        if (!ParseBatchText(bytes, &files)) {
            output.err("'" + args.batch + "' is not a batch file: its first line is not \"" + kBatchHeader + "\".");
            return ecBatchUnread;
        }
        registerMode = !args.unregister;
    } else {
        files = args.files;
    }
    // Relative paths are taken against the current folder, once, so that
    // every task and every line names the same file.
    for (std::string& file : files) {
        if (!file.empty()) file = engine::FullPathOf(file);
    }

    TStopRules rules = settings.defaultRules;
    if (args.continueAll) rules = TStopRules{stopNever, rules.MaxErrors};
    if (args.stopAfter > 0) rules = TStopRules{stopAfterN, args.stopAfter};

    TTaskRun run(files, registerMode, registerMode && args.unregisterFirst);
    // One helper of each bitness for the whole run, unless the caller
    // opened them already.
    std::optional<engine::THelperSession> helpers;
    if (!engine::THelperSession::Current()) helpers.emplace();
    engine::TRegContext context;
    context.language = qlEnglish;
    context.timeoutMs = static_cast<unsigned>(args.timeoutSeconds) * 1000u;
    context.abortEvent = settings.abortEvent;
    engine::UseHelpers(context);
    engine::TRegOutcome last;
    const bool text = !args.quiet && !args.json;

    auto perform = [&](const std::string& path, bool register_) {
        last = engine::RegisterFileCore(path, register_, context);
        throw EQVException(last.message, last.details, last.success ? qekSuccess : qekError);
    };
    size_t shownErrors = 0;
    TTaskRunHooks hooks;
    hooks.RowsChanged = [&](int first, int lastRow) {
        for (int i = first; i <= lastRow; ++i) {
            const TTaskRow& row = run.Rows()[static_cast<size_t>(i)];
            const std::string subject = std::string(Operation(row.Register)) + " \"" + row.Path + "\": ";
            if (row.Status == tsCancelled) {
                if (text) output.out(subject + "not run.");
                if (args.json && !args.quiet) output.json(TaskJson(row.Path, row.Register, "not run", "", "", 0));
                continue;
            }
            const bool ok = row.Status == tsCompleted;
            if (text) {
                output.out(subject + (ok ? "succeeded. " : "FAILED. ") + last.message);
                for (const std::string& line : IndentedDetailLines(last.details)) output.out(line);
            }
            if (args.json && !args.quiet) {
                output.json(TaskJson(row.Path, row.Register, ok ? "succeeded" : "failed", last.message, last.details,
                                     last.ms));
            }
        }
    };
    hooks.ErrorsChanged = [&] {
        // The stop notices; the failures were printed with their tasks.
        for (; shownErrors < run.Errors().size(); ++shownErrors) {
            const TErrorRow& error = run.Errors()[shownErrors];
            if (error.Image == tiStopped && text) output.out(error.Text);
        }
    };
    hooks.StopRequested = settings.stopRequested;
    run.Run(perform, rules, hooks);

    int unregistered = 0, registered = 0, failed = 0, notRun = 0;
    for (const TTaskRow& row : run.Rows()) {
        if (row.Status == tsCompleted) ++(row.Register ? registered : unregistered);
        if (row.Status == tsFailed) ++failed;
        if (row.Status == tsCancelled || row.Status == tsWaiting) ++notRun;
    }
    if (text) {
        output.out(SummaryLine(unregistered, registered, failed, notRun, !registerMode || args.unregisterFirst,
                               registerMode));
    }
    const bool stopped = settings.stopRequested && settings.stopRequested() && !run.Errors().empty() &&
                         run.Errors().back().Image == tiStopped;
    int exitCode = stopped ? ecStopped : failed + notRun > 0 ? ecTaskFailed : ecSuccess;
    if (!args.log.empty()) {
        std::string problem = WriteLog(args.log, run.Errors());
        if (!problem.empty()) {
            output.err(problem);
            if (exitCode == ecSuccess) exitCode = ecTaskFailed;
        }
    }
    return exitCode;
}

int GuardedMain(const std::function<int()>& body, const TRunnerOutput& output) {
    const char* what = nullptr;
    std::string text;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        what = "out of memory";
    } catch (const std::exception& e) {
        text = e.what();
        what = text.c_str();
    } catch (...) {
        what = "an unexpected error";
    }
    // The message itself may fail for want of memory; the exit code stands.
    try {
        output.err(std::string("CorvantisCmd: internal error: ") + what + ".");
    } catch (...) {
    }
    return ecInternal;
}

}  // namespace cmd
