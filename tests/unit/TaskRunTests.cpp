// The task run without a window: its rows, captions and status texts, the
// order of the tasks, the stop rules, the progress and the hooks. A scripted
// stand-in for the registration of one file raises the outcome chosen for
// each path and direction and records every call.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/QVExceptions.h"
#include "engine/uTaskRun.h"

namespace {

using Strings = std::vector<std::string>;

const char kDone[] = "The processing of requested tasks was completed.";
const char kDoneWithErrors[] =
    "The processing of requested tasks was completed with errors. Please review the list of errors below for "
    "more details.";
const char kStoppedFirst[] = "Processing stopped after first error.";

// "U path" or "R path": one call of the stand-in, or one row of a run.
std::string Key(const std::string& path, bool register_) { return (register_ ? "R " : "U ") + path; }

// The stand-in for RegisterServerFile. Unless scripted otherwise a call
// succeeds: it raises EQVException of kind 2, as the real one does.
class ScriptedPerform {
public:
    enum class TAction { Raise, ThrowRuntimeError, ThrowInt, Return };

    // The call for that path and direction raises EQVException of `kind`
    // with the message "<key> failed".
    void Fail(const std::string& path, bool register_, std::uint8_t kind = qekError, std::string details = "") {
        script_[Key(path, register_)] = TStep{TAction::Raise, kind, std::move(details)};
    }
    void Do(const std::string& path, bool register_, TAction action) {
        script_[Key(path, register_)] = TStep{action, qekSuccess, ""};
    }
    static std::string FailureMessage(const std::string& path, bool register_) {
        return Key(path, register_) + " failed";
    }

    // Also appended to `log` when one is given, to interleave with the hooks.
    std::function<void(const std::string&, bool)> Fn(Strings* log = nullptr) {
        return [this, log](const std::string& path, bool register_) {
            const std::string key = Key(path, register_);
            calls.push_back(key);
            if (log) log->push_back("perform " + key);
            TStep step{TAction::Raise, qekSuccess, ""};
            auto found = script_.find(key);
            if (found != script_.end()) step = found->second;
            switch (step.action) {
            case TAction::ThrowRuntimeError: throw std::runtime_error("no memory for " + key);
            case TAction::ThrowInt: throw 42;
            case TAction::Return: return;
            case TAction::Raise:
            default:
                if (step.kind == qekSuccess) throw EQVException(key + " done", "", qekSuccess);
                throw EQVException(key + " failed", step.details, step.kind);
            }
        };
    }

    Strings calls;

private:
    struct TStep {
        TAction action;
        std::uint8_t kind;
        std::string details;
    };
    std::map<std::string, TStep> script_;
};

char StatusLetter(TTaskStatus status) {
    switch (status) {
    case tsWaiting: return 'W';
    case tsCompleted: return 'C';
    case tsFailed: return 'F';
    case tsCancelled: return 'X';
    }
    return '?';
}

// The rows' states as letters: W waiting, C completed, F failed, X cancelled.
std::string Statuses(const TTaskRun& run) {
    std::string text;
    for (const TTaskRow& row : run.Rows()) text += StatusLetter(row.Status);
    return text;
}

std::vector<int> Images(const TTaskRun& run) {
    std::vector<int> images;
    for (const TTaskRow& row : run.Rows()) images.push_back(row.Image);
    return images;
}

Strings RowKeys(const TTaskRun& run) {
    Strings keys;
    for (const TTaskRow& row : run.Rows()) keys.push_back(Key(row.Path, row.Register));
    return keys;
}

Strings ErrorTexts(const TTaskRun& run) {
    Strings texts;
    for (const TErrorRow& error : run.Errors()) texts.push_back(error.Text);
    return texts;
}

std::vector<int> ErrorImages(const TTaskRun& run) {
    std::vector<int> images;
    for (const TErrorRow& error : run.Errors()) images.push_back(error.Image);
    return images;
}

Strings StatusTexts(const TTaskRun& run) {
    Strings texts;
    for (int row = 0; row < static_cast<int>(run.Rows().size()); ++row) texts.push_back(run.StatusText(row));
    return texts;
}

// Hooks that log every call together with the run's state at that moment:
// "pm", "start <row> <status>", "rows <first>-<last> <statuses>",
// "errors <count>" and "progress <value>".
TTaskRunHooks Recording(const TTaskRun& run, Strings* log) {
    TTaskRunHooks hooks;
    hooks.ProcessMessages = [log] { log->push_back("pm"); };
    hooks.TaskStarting = [&run, log](int row) {
        log->push_back("start " + std::to_string(row) + " " +
                       StatusLetter(run.Rows()[static_cast<size_t>(row)].Status));
    };
    hooks.RowsChanged = [&run, log](int first, int last) {
        std::string states;
        for (int row = first; row <= last; ++row) states += StatusLetter(run.Rows()[static_cast<size_t>(row)].Status);
        log->push_back("rows " + std::to_string(first) + "-" + std::to_string(last) + " " + states);
    };
    hooks.ErrorsChanged = [&run, log] { log->push_back("errors " + std::to_string(run.Errors().size())); };
    hooks.ProgressChanged = [&run, log] { log->push_back("progress " + std::to_string(run.Progress())); };
    return hooks;
}

TStopRules Rules(TStopAfter stopAfter, std::int32_t maxErrors = 5) { return TStopRules{stopAfter, maxErrors}; }

const Strings kFour = {"C:\\Work\\a.dll", "C:\\Work\\b.dll", "C:\\Work\\c.dll", "C:\\Work\\d.dll"};

// ---------------------------------------------------------------------------
// Rows

TEST(TaskRunRows, RegisterWithoutUnregisterBeforeHasOneRegisterRowPerFile) {
    const Strings files = {"C:\\x\\a.dll", "b.ocx", "C:\\x\\a.dll"};
    TTaskRun run(files, true, false);
    EXPECT_EQ(RowKeys(run), (Strings{"R C:\\x\\a.dll", "R b.ocx", "R C:\\x\\a.dll"})) << "duplicates are kept";
    EXPECT_EQ(Statuses(run), "WWW");
    EXPECT_EQ(Images(run), (std::vector<int>{tiWaiting, tiWaiting, tiWaiting}));
    EXPECT_EQ(run.ProgressMax(), 3);
    EXPECT_EQ(run.Progress(), 0);
    EXPECT_EQ(run.ErrorCount(), 0);
    EXPECT_TRUE(run.Errors().empty());
    EXPECT_TRUE(run.RegisterMode());
    EXPECT_FALSE(run.Finished());
}

TEST(TaskRunRows, RegisterWithUnregisterBeforeHasAllUnregisterRowsFirst) {
    const Strings files = {"C:\\x\\a.dll", "C:\\x\\b.dll", "C:\\x\\c.dll"};
    TTaskRun run(files, true, true);
    EXPECT_EQ(RowKeys(run), (Strings{"U C:\\x\\a.dll", "U C:\\x\\b.dll", "U C:\\x\\c.dll", "R C:\\x\\a.dll",
                                     "R C:\\x\\b.dll", "R C:\\x\\c.dll"}));
    EXPECT_EQ(Statuses(run), "WWWWWW");
    EXPECT_EQ(run.ProgressMax(), 6);
    EXPECT_TRUE(run.RegisterMode());
}

TEST(TaskRunRows, UnregisterRunIgnoresUnregisterBefore) {
    const Strings files = {"C:\\x\\a.dll", "C:\\x\\b.dll"};
    for (bool unregisterBefore : {false, true}) {
        SCOPED_TRACE(unregisterBefore ? "unregisterBefore" : "no unregisterBefore");
        TTaskRun run(files, false, unregisterBefore);
        EXPECT_EQ(RowKeys(run), (Strings{"U C:\\x\\a.dll", "U C:\\x\\b.dll"}));
        EXPECT_EQ(run.ProgressMax(), 2);
        EXPECT_FALSE(run.RegisterMode());

        ScriptedPerform perform;
        run.Run(perform.Fn(), Rules(stopNever), TTaskRunHooks{});
        EXPECT_EQ(perform.calls, (Strings{"U C:\\x\\a.dll", "U C:\\x\\b.dll"}));
        EXPECT_EQ(Statuses(run), "CC");
    }
}

TEST(TaskRunRows, EmptyListRunsNothingAndEndsCompleted) {
    for (int mode = 0; mode < 4; ++mode) {
        bool register_ = (mode & 1) != 0;
        bool unregisterBefore = (mode & 2) != 0;
        SCOPED_TRACE(mode);
        TTaskRun run({}, register_, unregisterBefore);
        EXPECT_TRUE(run.Rows().empty());
        EXPECT_EQ(run.ProgressMax(), 0);

        ScriptedPerform perform;
        Strings log;
        run.Run(perform.Fn(), Rules(stopAfterFirst), Recording(run, &log));
        EXPECT_TRUE(perform.calls.empty());
        EXPECT_TRUE(log.empty()) << "no task, no hook";
        EXPECT_TRUE(run.Finished());
        EXPECT_EQ(run.ProgressMax(), 0);
        EXPECT_EQ(run.Progress(), 0);
        EXPECT_EQ(run.ErrorCount(), 0);
        EXPECT_TRUE(run.Errors().empty());
        EXPECT_EQ(run.RegisterMode(), register_);
        EXPECT_EQ(run.FinalDescription(), kDone);
    }
}

// ---------------------------------------------------------------------------
// Texts

TEST(TaskRunTexts, CaptionsNameTheDirectionAndTheFileWithoutItsFolder) {
    const Strings files = {"C:\\Products\\Module0001\\bin\\a.dll", "C:/Products/Module0002/b.ocx", "D:c.exe",
                           "plain.tlb", "\\\\server\\share\\d.dll"};
    TTaskRun run(files, true, true);
    EXPECT_EQ(run.Caption(0), "Unregister 'a.dll'...");
    EXPECT_EQ(run.Caption(1), "Unregister 'b.ocx'...");
    EXPECT_EQ(run.Caption(2), "Unregister 'c.exe'...");
    EXPECT_EQ(run.Caption(3), "Unregister 'plain.tlb'...");
    EXPECT_EQ(run.Caption(4), "Unregister 'd.dll'...");
    EXPECT_EQ(run.Caption(5), "Register 'a.dll'...");
    EXPECT_EQ(run.Caption(6), "Register 'b.ocx'...");
    EXPECT_EQ(run.Caption(7), "Register 'c.exe'...");
    EXPECT_EQ(run.Caption(8), "Register 'plain.tlb'...");
    EXPECT_EQ(run.Caption(9), "Register 'd.dll'...");
}

TEST(TaskRunTexts, CaptionShowsPlaceholdersInTheFileNameLiterally) {
    TTaskRun run({"C:\\x\\100%s %d%%.dll", "C:\\x\\"}, true, false);
    EXPECT_EQ(run.Caption(0), "Register '100%s %d%%.dll'...");
    EXPECT_EQ(run.Caption(1), "Register ''...") << "a path ending in a separator has an empty name";
}

TEST(TaskRunTexts, StatusTextsFollowTheRowStates) {
    TTaskRun run(kFour, true, false);
    EXPECT_EQ(StatusTexts(run), (Strings{"Waiting", "Waiting", "Waiting", "Waiting"}));
    ScriptedPerform perform;
    perform.Fail(kFour[1], true);
    run.Run(perform.Fn(), Rules(stopAfterFirst), TTaskRunHooks{});
    EXPECT_EQ(StatusTexts(run), (Strings{"Completed", "Failed", "Cancelled", "Cancelled"}));
}

TEST(TaskRunTexts, FinalDescriptionTellsWhetherThereWereErrors) {
    {
        TTaskRun run(kFour, true, false);
        ScriptedPerform perform;
        run.Run(perform.Fn(), Rules(stopNever), TTaskRunHooks{});
        EXPECT_EQ(run.FinalDescription(), kDone);
    }
    {
        TTaskRun run(kFour, true, false);
        ScriptedPerform perform;
        perform.Fail(kFour[3], true);
        run.Run(perform.Fn(), Rules(stopNever), TTaskRunHooks{});
        EXPECT_EQ(run.FinalDescription(), kDoneWithErrors);
    }
}

// ---------------------------------------------------------------------------
// Order of the tasks and outcomes of one task

TEST(TaskRunOrder, PerformRunsTheUnregisterPassThenTheRegisterPass) {
    const Strings files = {"C:\\x\\a.dll", "C:\\y\\b.exe", "c.tlb"};
    {
        TTaskRun run(files, true, true);
        ScriptedPerform perform;
        run.Run(perform.Fn(), Rules(stopNever), TTaskRunHooks{});
        EXPECT_EQ(perform.calls, (Strings{"U C:\\x\\a.dll", "U C:\\y\\b.exe", "U c.tlb", "R C:\\x\\a.dll",
                                          "R C:\\y\\b.exe", "R c.tlb"}))
            << "full paths, in list order, unregistering first";
        EXPECT_EQ(Statuses(run), "CCCCCC");
        EXPECT_EQ(Images(run), (std::vector<int>(6, tiCompleted)));
        EXPECT_TRUE(run.RegisterMode());
        EXPECT_TRUE(run.Finished());
    }
    {
        TTaskRun run(files, true, false);
        ScriptedPerform perform;
        run.Run(perform.Fn(), Rules(stopNever), TTaskRunHooks{});
        EXPECT_EQ(perform.calls, (Strings{"R C:\\x\\a.dll", "R C:\\y\\b.exe", "R c.tlb"}));
    }
}

TEST(TaskRunOrder, OnlyKindTwoCountsAsSuccess) {
    const Strings files = {"k0.dll", "k1.dll", "k2.dll", "k3.dll", "k255.dll"};
    TTaskRun run(files, true, false);
    ScriptedPerform perform;
    perform.Fail("k0.dll", true, qekFatal);
    perform.Fail("k1.dll", true, qekError, "Why it failed.\r\nSystem error 5.\r\n");
    perform.Fail("k3.dll", true, 3);
    perform.Fail("k255.dll", true, 255, "One line");
    run.Run(perform.Fn(), Rules(stopNever), TTaskRunHooks{});
    EXPECT_EQ(Statuses(run), "FFCFF");
    EXPECT_EQ(Images(run), (std::vector<int>{tiFailed, tiFailed, tiCompleted, tiFailed, tiFailed}));
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage("k0.dll", true),
                                        ScriptedPerform::FailureMessage("k1.dll", true), "    Why it failed.",
                                        "    System error 5.", ScriptedPerform::FailureMessage("k3.dll", true),
                                        ScriptedPerform::FailureMessage("k255.dll", true), "    One line"}))
        << "each line of the details follows its failure, indented";
    EXPECT_EQ(ErrorImages(run), (std::vector<int>{tiWarning, tiWarning, tiNone, tiNone, tiWarning, tiWarning, tiNone}));
    EXPECT_EQ(run.ErrorCount(), 4);
}

TEST(TaskRunOrder, PerformThatReturnsNormallyCountsAsDone) {
    TTaskRun run({"a.dll", "b.dll"}, true, false);
    ScriptedPerform perform;
    perform.Do("a.dll", true, ScriptedPerform::TAction::Return);
    run.Run(perform.Fn(), Rules(stopAfterFirst), TTaskRunHooks{});
    EXPECT_EQ(Statuses(run), "CC");
    EXPECT_TRUE(run.Errors().empty());
}

TEST(TaskRunOrder, HooksMayBeLeftEmpty) {
    TTaskRun run(kFour, true, true);
    ScriptedPerform perform;
    perform.Fail(kFour[0], false);
    run.Run(perform.Fn(), Rules(stopAfterFirst), TTaskRunHooks{});
    EXPECT_EQ(Statuses(run), "FXXXXXXX");
    EXPECT_TRUE(run.Finished());
}

// ---------------------------------------------------------------------------
// Stop after the first error

TEST(TaskRunStopAfterFirst, FailureOnSecondOfFourCancelsTheRest) {
    TTaskRun run(kFour, true, false);
    ScriptedPerform perform;
    perform.Fail(kFour[1], true);
    run.Run(perform.Fn(), Rules(stopAfterFirst), TTaskRunHooks{});
    EXPECT_EQ(perform.calls, (Strings{Key(kFour[0], true), Key(kFour[1], true)})) << "nothing runs after the stop";
    EXPECT_EQ(Statuses(run), "CFXX");
    EXPECT_EQ(Images(run), (std::vector<int>{tiCompleted, tiFailed, tiWarning, tiWarning}));
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage(kFour[1], true), kStoppedFirst}));
    EXPECT_EQ(ErrorImages(run), (std::vector<int>{tiWarning, tiStopped}));
    EXPECT_EQ(run.ErrorCount(), 1) << "the notice is no error";
    EXPECT_EQ(run.Progress(), 1);
    EXPECT_EQ(run.ProgressMax(), 4);
    EXPECT_TRUE(run.Finished());
    EXPECT_TRUE(run.RegisterMode()) << "only an unregistration pass clears it";
    EXPECT_EQ(run.FinalDescription(), kDoneWithErrors);
}

TEST(TaskRunStopAfterFirst, FailureOnFirstRowCancelsAllOthers) {
    TTaskRun run(kFour, false, false);
    ScriptedPerform perform;
    perform.Fail(kFour[0], false);
    run.Run(perform.Fn(), Rules(stopAfterFirst), TTaskRunHooks{});
    EXPECT_EQ(perform.calls.size(), 1u);
    EXPECT_EQ(Statuses(run), "FXXX");
    EXPECT_EQ(run.Progress(), 0);
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage(kFour[0], false), kStoppedFirst}));
}

TEST(TaskRunStopAfterFirst, FailureOnLastRowStillAddsTheNoticeAndCancelsNothing) {
    TTaskRun run(kFour, true, false);
    ScriptedPerform perform;
    perform.Fail(kFour[3], true);
    Strings log;
    run.Run(perform.Fn(), Rules(stopAfterFirst), Recording(run, &log));
    EXPECT_EQ(perform.calls.size(), 4u);
    EXPECT_EQ(Statuses(run), "CCCF");
    EXPECT_EQ(Images(run), (std::vector<int>{tiCompleted, tiCompleted, tiCompleted, tiFailed}));
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage(kFour[3], true), kStoppedFirst}));
    EXPECT_EQ(ErrorImages(run), (std::vector<int>{tiWarning, tiStopped}));
    EXPECT_EQ(run.Progress(), 3) << "the task that stops the run does not advance the progress";
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "rows 3-3 F");
    EXPECT_EQ(log.back(), "errors 2") << "no cancellation, no progress, no message processing after the stop";
    EXPECT_TRUE(run.Finished());
}

TEST(TaskRunStopAfterFirst, SingleFileFailureAddsTheNotice) {
    TTaskRun run({"only.dll"}, false, true);
    ScriptedPerform perform;
    perform.Fail("only.dll", false);
    run.Run(perform.Fn(), Rules(stopAfterFirst), TTaskRunHooks{});
    EXPECT_EQ(Statuses(run), "F");
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage("only.dll", false), kStoppedFirst}));
}

// ---------------------------------------------------------------------------
// Stop after N errors

TEST(TaskRunStopAfterN, SecondFailureStopsWithTheCountInTheNotice) {
    const Strings files = {"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"};
    TTaskRun run(files, true, false);
    ScriptedPerform perform;
    perform.Fail("b.dll", true);
    perform.Fail("d.dll", true);
    run.Run(perform.Fn(), Rules(stopAfterN, 2), TTaskRunHooks{});
    EXPECT_EQ(perform.calls, (Strings{"R a.dll", "R b.dll", "R c.dll", "R d.dll"}));
    EXPECT_EQ(Statuses(run), "CFCFX");
    EXPECT_EQ(Images(run), (std::vector<int>{tiCompleted, tiFailed, tiCompleted, tiFailed, tiWarning}));
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage("b.dll", true),
                                        ScriptedPerform::FailureMessage("d.dll", true),
                                        "Processing stopped after 2 error(s)."}));
    EXPECT_EQ(ErrorImages(run), (std::vector<int>{tiWarning, tiWarning, tiStopped}));
    EXPECT_EQ(run.ErrorCount(), 2);
    EXPECT_EQ(run.Progress(), 3) << "the first failure continues, the second stops";
    EXPECT_EQ(run.FinalDescription(), kDoneWithErrors);
}

TEST(TaskRunStopAfterN, SecondFailureOnTheLastRowEndsTheRunNaturally) {
    const Strings files = {"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"};
    TTaskRun run(files, true, false);
    ScriptedPerform perform;
    perform.Fail("b.dll", true);
    perform.Fail("e.dll", true);
    Strings log;
    run.Run(perform.Fn(), Rules(stopAfterN, 2), Recording(run, &log));
    EXPECT_EQ(perform.calls.size(), 5u);
    EXPECT_EQ(Statuses(run), "CFCCF");
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage("b.dll", true),
                                        ScriptedPerform::FailureMessage("e.dll", true)}))
        << "no notice";
    EXPECT_EQ(run.ErrorCount(), 2);
    EXPECT_EQ(run.Progress(), 5) << "a run that ends naturally counts every task";
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "progress 5");
    EXPECT_EQ(log.back(), "pm");
}

TEST(TaskRunStopAfterN, CountsTheMaximumExactly) {
    const Strings files = {"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"};
    for (std::int32_t maxErrors : {1, 3, 4}) {
        SCOPED_TRACE(maxErrors);
        TTaskRun run(files, true, false);
        ScriptedPerform perform;
        for (const std::string& file : files) perform.Fail(file, true);
        run.Run(perform.Fn(), Rules(stopAfterN, maxErrors), TTaskRunHooks{});
        EXPECT_EQ(perform.calls.size(), static_cast<size_t>(maxErrors));
        EXPECT_EQ(Statuses(run), std::string(static_cast<size_t>(maxErrors), 'F') +
                                     std::string(static_cast<size_t>(5 - maxErrors), 'X'));
        EXPECT_EQ(run.ErrorCount(), maxErrors);
        ASSERT_EQ(run.Errors().size(), static_cast<size_t>(maxErrors) + 1);
        EXPECT_EQ(run.Errors().back().Text,
                  "Processing stopped after " + std::to_string(maxErrors) + " error(s).");
        EXPECT_EQ(run.Errors().back().Image, tiStopped);
        EXPECT_EQ(run.Progress(), maxErrors - 1);
    }
}

TEST(TaskRunStopAfterN, MaxOfOneOnTheLastRowDiffersFromStopAfterFirst) {
    TTaskRun run(kFour, true, false);
    ScriptedPerform perform;
    perform.Fail(kFour[3], true);
    run.Run(perform.Fn(), Rules(stopAfterN, 1), TTaskRunHooks{});
    EXPECT_EQ(Statuses(run), "CCCF");
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage(kFour[3], true)}));
    EXPECT_EQ(run.Progress(), 4);
}

TEST(TaskRunStopAfterN, MaxErrorsBelowOneMeansOne) {
    for (std::int32_t maxErrors : {0, -1}) {
        SCOPED_TRACE(maxErrors);
        TTaskRun run(kFour, true, true);
        ScriptedPerform perform;
        for (const std::string& file : kFour) {
            perform.Fail(file, false);
            perform.Fail(file, true);
        }
        run.Run(perform.Fn(), Rules(stopAfterN, maxErrors), TTaskRunHooks{});
        EXPECT_EQ(perform.calls.size(), 1u);
        EXPECT_EQ(Statuses(run), "FXXXXXXX");
        EXPECT_EQ(run.ErrorCount(), 1);
        EXPECT_EQ(run.Errors().size(), 2u) << "the failure and the notice";
        EXPECT_FALSE(run.RegisterMode());
    }
}

// ---------------------------------------------------------------------------
// Never stop

TEST(TaskRunStopNever, RunsEveryTaskAndListsEveryError) {
    TTaskRun run(kFour, true, true);
    ScriptedPerform perform;
    perform.Fail(kFour[0], false);
    perform.Fail(kFour[2], false);
    perform.Fail(kFour[1], true);
    perform.Fail(kFour[3], true);
    run.Run(perform.Fn(), Rules(stopNever, 1), TTaskRunHooks{});
    EXPECT_EQ(perform.calls.size(), 8u);
    EXPECT_EQ(Statuses(run), "FCFCCFCF");
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage(kFour[0], false),
                                        ScriptedPerform::FailureMessage(kFour[2], false),
                                        ScriptedPerform::FailureMessage(kFour[1], true),
                                        ScriptedPerform::FailureMessage(kFour[3], true)}));
    EXPECT_EQ(ErrorImages(run), (std::vector<int>(4, tiWarning)));
    EXPECT_EQ(run.ErrorCount(), 4) << "counted across both passes";
    EXPECT_EQ(run.Progress(), 8);
    EXPECT_TRUE(run.RegisterMode()) << "failures that do not stop keep the registration pass";
    EXPECT_EQ(run.FinalDescription(), kDoneWithErrors);
}

TEST(TaskRunStopNever, UnknownStopValueBehavesLikeNeverStopping) {
    TTaskRun run(kFour, true, false);
    ScriptedPerform perform;
    for (const std::string& file : kFour) perform.Fail(file, true);
    run.Run(perform.Fn(), Rules(static_cast<TStopAfter>(7), 1), TTaskRunHooks{});
    EXPECT_EQ(perform.calls.size(), 4u);
    EXPECT_EQ(Statuses(run), "FFFF");
    EXPECT_EQ(ErrorImages(run), (std::vector<int>(4, tiWarning))) << "no notice";
    EXPECT_EQ(run.ErrorCount(), 4);
    EXPECT_EQ(run.Progress(), 4);
}

// ---------------------------------------------------------------------------
// Unregister before registering

TEST(TaskRunUnregisterBefore, StopOnFirstUnregistrationSkipsTheRegisterPass) {
    const Strings files = {"C:\\x\\a.dll", "C:\\x\\b.dll", "C:\\x\\c.dll"};
    TTaskRun run(files, true, true);
    ScriptedPerform perform;
    perform.Fail(files[0], false);
    Strings log;
    run.Run(perform.Fn(), Rules(stopAfterFirst), Recording(run, &log));
    EXPECT_EQ(perform.calls, (Strings{"U C:\\x\\a.dll"})) << "no registration is attempted";
    EXPECT_EQ(Statuses(run), "FXXXXX");
    EXPECT_EQ(Images(run),
              (std::vector<int>{tiFailed, tiWarning, tiWarning, tiWarning, tiWarning, tiWarning}));
    EXPECT_FALSE(run.RegisterMode());
    EXPECT_TRUE(run.Finished());
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage(files[0], false), kStoppedFirst}));
    EXPECT_EQ(run.Progress(), 0);
    EXPECT_EQ(log.back(), "rows 1-5 XXXXX") << "one refresh for every cancelled row, both passes";
}

TEST(TaskRunUnregisterBefore, StopOnLastUnregistrationCancelsEveryRegistration) {
    for (TStopRules rules : {Rules(stopAfterFirst), Rules(stopAfterN, 1)}) {
        SCOPED_TRACE(static_cast<int>(rules.StopAfter));
        TTaskRun run(kFour, true, true);
        ScriptedPerform perform;
        perform.Fail(kFour[3], false);
        run.Run(perform.Fn(), rules, TTaskRunHooks{});
        EXPECT_EQ(perform.calls.size(), 4u);
        EXPECT_EQ(Statuses(run), "CCCFXXXX");
        EXPECT_FALSE(run.RegisterMode());
        EXPECT_EQ(run.Errors().size(), 2u);
        EXPECT_EQ(run.Errors().back().Image, tiStopped);
        EXPECT_EQ(run.Progress(), 3);
    }
}

TEST(TaskRunUnregisterBefore, StopInTheRegisterPassKeepsRegisterMode) {
    TTaskRun run(kFour, true, true);
    ScriptedPerform perform;
    perform.Fail(kFour[1], true);
    run.Run(perform.Fn(), Rules(stopAfterFirst), TTaskRunHooks{});
    EXPECT_EQ(perform.calls, (Strings{Key(kFour[0], false), Key(kFour[1], false), Key(kFour[2], false),
                                      Key(kFour[3], false), Key(kFour[0], true), Key(kFour[1], true)}));
    EXPECT_EQ(Statuses(run), "CCCCCFXX");
    EXPECT_TRUE(run.RegisterMode());
    EXPECT_EQ(run.Progress(), 5);
}

TEST(TaskRunUnregisterBefore, ErrorsCountAcrossBothPasses) {
    TTaskRun run(kFour, true, true);
    ScriptedPerform perform;
    perform.Fail(kFour[2], false);
    perform.Fail(kFour[0], true);
    run.Run(perform.Fn(), Rules(stopAfterN, 2), TTaskRunHooks{});
    EXPECT_EQ(perform.calls.size(), 5u);
    EXPECT_EQ(Statuses(run), "CCFCFXXX");
    EXPECT_EQ(run.ErrorCount(), 2);
    EXPECT_EQ(ErrorTexts(run), (Strings{ScriptedPerform::FailureMessage(kFour[2], false),
                                        ScriptedPerform::FailureMessage(kFour[0], true),
                                        "Processing stopped after 2 error(s)."}));
    EXPECT_TRUE(run.RegisterMode()) << "the stop came in the registration pass";
    EXPECT_EQ(run.Progress(), 4);
}

// ---------------------------------------------------------------------------
// Hooks and progress

TEST(TaskRunHooks, CalledAroundEveryTaskInOrder) {
    TTaskRun run({"a.dll", "b.dll", "c.dll"}, true, false);
    ScriptedPerform perform;
    perform.Fail("b.dll", true);
    Strings log;
    run.Run(perform.Fn(&log), Rules(stopNever), Recording(run, &log));
    EXPECT_EQ(log, (Strings{
                       "pm", "start 0 W", "perform R a.dll", "rows 0-0 C", "progress 1", "pm",  //
                       "pm", "start 1 W", "perform R b.dll", "rows 1-1 F", "errors 1", "progress 2", "pm",  //
                       "pm", "start 2 W", "perform R c.dll", "rows 2-2 C", "progress 3", "pm",  //
                   }));
}

TEST(TaskRunHooks, StopRefreshesTheCancelledRowsOnceAndEndsWithoutProgress) {
    TTaskRun run(kFour, false, false);
    ScriptedPerform perform;
    perform.Fail(kFour[1], false);
    Strings log;
    run.Run(perform.Fn(&log), Rules(stopAfterFirst), Recording(run, &log));
    EXPECT_EQ(log, (Strings{
                       "pm", "start 0 W", "perform " + Key(kFour[0], false), "rows 0-0 C", "progress 1", "pm",  //
                       "pm", "start 1 W", "perform " + Key(kFour[1], false), "rows 1-1 F", "errors 2",
                       "rows 2-3 XX",
                   }))
        << "the error list changes once, with the message and the notice";
}

TEST(TaskRunHooks, ProcessMessagesBeforeEachTaskAndAfterEachContinuingTask) {
    const Strings files = {"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"};
    struct TCase {
        TStopRules rules;
        int failAt;
        int expectedPm;
        int expectedProgressCalls;
    };
    // 5 tasks: 10 when none stops; stopping on task k (0-based) gives k + 1
    // calls before tasks and k after.
    for (const TCase& c : {TCase{Rules(stopNever), 2, 10, 5}, TCase{Rules(stopAfterFirst), 2, 5, 2},
                           TCase{Rules(stopAfterFirst), 4, 9, 4}, TCase{Rules(stopAfterN, 1), 4, 10, 5}}) {
        SCOPED_TRACE(c.failAt);
        TTaskRun run(files, true, false);
        ScriptedPerform perform;
        perform.Fail(files[static_cast<size_t>(c.failAt)], true);
        int pm = 0;
        std::vector<int> progress;
        TTaskRunHooks hooks;
        hooks.ProcessMessages = [&pm] { ++pm; };
        hooks.ProgressChanged = [&] { progress.push_back(run.Progress()); };
        run.Run(perform.Fn(), c.rules, hooks);
        EXPECT_EQ(pm, c.expectedPm);
        ASSERT_EQ(static_cast<int>(progress.size()), c.expectedProgressCalls);
        for (size_t i = 0; i < progress.size(); ++i) EXPECT_EQ(progress[i], static_cast<int>(i) + 1);
        EXPECT_EQ(run.Progress(), c.expectedProgressCalls);
    }
}

TEST(TaskRunHooks, ErrorsChangedOncePerFailureWithTheListComplete) {
    TTaskRun run(kFour, true, true);
    ScriptedPerform perform;
    perform.Fail(kFour[0], false);
    perform.Fail(kFour[3], false);
    perform.Fail(kFour[2], true);
    std::vector<size_t> sizes;
    TTaskRunHooks hooks;
    hooks.ErrorsChanged = [&] { sizes.push_back(run.Errors().size()); };
    run.Run(perform.Fn(), Rules(stopAfterN, 3), hooks);
    EXPECT_EQ(sizes, (std::vector<size_t>{1, 2, 4})) << "the third failure comes with its notice";
    EXPECT_EQ(Statuses(run), "FCCFCCFX");
}

// ---------------------------------------------------------------------------
// Other exceptions

TEST(TaskRunExceptions, OtherExceptionPassesThroughAndLeavesLaterRowsWaiting) {
    TTaskRun run(kFour, true, true);
    ScriptedPerform perform;
    perform.Do(kFour[1], false, ScriptedPerform::TAction::ThrowRuntimeError);
    Strings log;
    try {
        run.Run(perform.Fn(&log), Rules(stopNever), Recording(run, &log));
        ADD_FAILURE() << "Run returned normally";
    } catch (const EQVException&) {
        ADD_FAILURE() << "the exception was turned into EQVException";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), ("no memory for " + Key(kFour[1], false)).c_str());
    }
    EXPECT_EQ(perform.calls, (Strings{Key(kFour[0], false), Key(kFour[1], false)}));
    EXPECT_EQ(Statuses(run), "CWWWWWWW") << "the interrupted row and every later one stay waiting";
    EXPECT_EQ(Images(run)[1], tiWaiting);
    EXPECT_TRUE(run.Errors().empty());
    EXPECT_EQ(run.ErrorCount(), 0);
    EXPECT_EQ(run.Progress(), 1);
    EXPECT_EQ(log.back(), "perform " + Key(kFour[1], false)) << "no hook after the exception";
}

TEST(TaskRunExceptions, NonStandardExceptionPassesThroughUnchanged) {
    TTaskRun run(kFour, false, false);
    ScriptedPerform perform;
    perform.Do(kFour[0], false, ScriptedPerform::TAction::ThrowInt);
    int thrown = 0;
    try {
        run.Run(perform.Fn(), Rules(stopAfterFirst), TTaskRunHooks{});
    } catch (int value) {
        thrown = value;
    }
    EXPECT_EQ(thrown, 42);
    EXPECT_EQ(Statuses(run), "WWWW");
    EXPECT_EQ(perform.calls.size(), 1u);
}

}  // namespace
