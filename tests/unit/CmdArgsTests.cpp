// The console runner's command line: what each accepted line means, and
// that every wrong one is refused with a reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmd/uCmdArgs.h"

using cmd::ParseRunnerArguments;
using cmd::TCommand;
using cmd::TRunnerArgs;
using Strings = std::vector<std::string>;

TEST(RunnerArguments, AcceptedLines) {
    struct TCase {
        Strings args;
        TCommand command;
        Strings files;
        std::string batch;
        bool unregister, unregisterFirst, continueAll, quiet, json;
        int stopAfter;
        std::string log;
    };
    const TCase cases[] = {
        {{"register", "a.dll", "b c.dll"}, TCommand::Register, {"a.dll", "b c.dll"}, "", false, false, false, false,
         false, 0, ""},
        {{"UNREGISTER", "--quiet", "a.dll"}, TCommand::Unregister, {"a.dll"}, "", false, false, false, true, false, 0,
         ""},
        {{"--json", "run", "x.kvx", "--unregister", "--stop-after", "3", "--log=e.log"}, TCommand::Run, {}, "x.kvx",
         true, false, false, false, true, 3, "e.log"},
        {{"run", "x.kvx", "--Unregister-First", "--continue", "--log", "my log.txt"}, TCommand::Run, {}, "x.kvx",
         false, true, true, false, false, 0, "my log.txt"},
        {{"register", "--", "--json", "-q"}, TCommand::Register, {"--json", "-q"}, "", false, false, false, false,
         false, 0, ""},
        {{"register", "--stop-after=1000000", "-"}, TCommand::Register, {"-"}, "", false, false, false, false, false,
         1000000, ""},
        {{"bogus", "--help"}, TCommand::Help, {}, "", false, false, false, false, false, 0, ""},
        {{"/?"}, TCommand::Help, {}, "", false, false, false, false, false, 0, ""},
        {{"--version"}, TCommand::Version, {}, "", false, false, false, false, false, 0, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        TRunnerArgs args;
        std::string error;
        ASSERT_TRUE(ParseRunnerArguments(c.args, args, error)) << error;
        EXPECT_EQ(args.command, c.command);
        EXPECT_EQ(args.files, c.files);
        EXPECT_EQ(args.batch, c.batch);
        EXPECT_EQ(args.unregister, c.unregister);
        EXPECT_EQ(args.unregisterFirst, c.unregisterFirst);
        EXPECT_EQ(args.continueAll, c.continueAll);
        EXPECT_EQ(args.quiet, c.quiet);
        EXPECT_EQ(args.json, c.json);
        EXPECT_EQ(args.stopAfter, c.stopAfter);
        EXPECT_EQ(args.log, c.log);
    }
}

TEST(RunnerArguments, WrongLinesAreRefusedWithTheirReason) {
    const std::pair<Strings, const char*> cases[] = {
        {{}, "No command"},
        {{"--quiet"}, "No command"},
        {{"install", "a.dll"}, "Unknown command \"install\""},
        {{"register"}, "register needs at least one file."},
        {{"register", ""}, "An empty file name"},
        {{"run"}, "run needs a batch file."},
        {{"run", "a.kvx", "b.kvx"}, "run takes one batch file."},
        {{"register", "a.dll", "--unregister"}, "--unregister belongs to run"},
        {{"unregister", "a.dll", "--unregister-first"}, "--unregister-first belongs to registering."},
        {{"run", "a.kvx", "--unregister", "--unregister-first"}, "--unregister-first belongs to registering."},
        {{"register", "a.dll", "--stop-after"}, "--stop-after needs a number"},
        {{"register", "a.dll", "--stop-after", "0"}, "from 1 to 1000000, not \"0\""},
        {{"register", "a.dll", "--stop-after", "-1"}, "not \"-1\""},
        {{"register", "a.dll", "--stop-after=1000001"}, "not \"1000001\""},
        {{"register", "a.dll", "--stop-after", "2x"}, "not \"2x\""},
        {{"register", "a.dll", "--stop-after", "2", "--stop-after", "3"}, "given twice"},
        {{"register", "a.dll", "--continue", "--stop-after", "2"}, "exclude each other"},
        {{"register", "a.dll", "--stop-after", "2", "--continue"}, "exclude each other"},
        {{"register", "a.dll", "--log"}, "--log needs a file name."},
        {{"register", "a.dll", "--log="}, "--log needs a file name."},
        {{"register", "a.dll", "--log", "a", "--log", "b"}, "--log is given twice."},
        {{"register", "a.dll", "--quiet=yes"}, "--quiet takes no value."},
        {{"register", "a.dll", "--verbose"}, "Unknown option --verbose."},
        {{"register", "a.dll", "--no-register"}, "--no-register needs --install"},
        {{"register", "a.dll", "--install", "--install=x"}, "--install is given twice."},
        {{"register", "a.dll", "--install", "--no-register=yes"}, "--no-register takes no value."},
        {{"register", "a.dll", "--regsvr32-exit-codes=1"}, "--regsvr32-exit-codes takes no value."},
        {{"capture"}, "capture needs at least one file."},
        {{"capture", "a.dll", "--reg"}, "--reg needs a file name."},
        {{"capture", "a.dll", "--reg="}, "--reg needs a file name."},
        {{"capture", "a.dll", "--reg", "a", "--reg", "b"}, "--reg is given twice."},
        {{"register", "a.dll", "--reg", "o.reg"}, "--reg belongs to capture."},
        {{"run", "b.kvx", "--reg=o.reg"}, "--reg belongs to capture."},
        {{"capture", "a.dll", "--install"}, "capture takes only"},
        {{"capture", "a.dll", "--unregister-first"}, "capture takes only"},
        {{"capture", "a.dll", "--log", "e.log"}, "capture takes only"},
        {{"capture", "a.dll", "--per-user"}, "capture takes only"},
        {{"capture", "a.dll", "--wxs"}, "--wxs needs a file name."},
        {{"capture", "a.dll", "--wxs="}, "--wxs needs a file name."},
        {{"capture", "a.dll", "--wxs", "a", "--wxs=b"}, "--wxs is given twice."},
        {{"register", "a.dll", "--wxs", "o.wxs"}, "--wxs belongs to capture."},
        {{"capture", "a.dll", "--wxs-folder", "APPDIR"}, "--wxs-folder belongs to --wxs."},
        {{"capture", "a.dll", "--wxs", "o.wxs", "--wxs-folder"}, "--wxs-folder needs a folder id."},
        {{"capture", "a.dll", "--wxs", "o.wxs", "--wxs-folder=A", "--wxs-folder=B"}, "--wxs-folder is given twice."},
        {{"capture", "a.dll", "--wxs", "o.wxs", "--wxs-folder=9DIR"}, "--wxs-folder needs a folder id"},
        {{"capture", "a.dll", "--wxs", "o.wxs", "--wxs-folder=MY-DIR"}, "not \"MY-DIR\"."},
        {{"capture", "a.dll", "--wxs", "o.wxs", "--wxs-folder="}, "--wxs-folder needs a folder id"},
        {{"verify"}, "verify needs at least one file."},
        {{"verify", "a.dll", "--reg", "o.reg"}, "--reg belongs to capture."},
        {{"verify", "a.dll", "--log", "e.log"}, "verify takes only --json, --quiet and --timeout."},
        {{"verify", "a.dll", "--per-user"}, "verify takes only"},
        {{"verify", "a.dll", "--install"}, "verify takes only"},
        {{"verify", "a.dll", "--unregister"}, "verify takes only"},
        {{"verify", "a.dll", "--continue"}, "verify takes only"},
        {{"verify", "a.dll", "--stop-after=2"}, "verify takes only"},
        {{"verify", "a.dll", "--regsvr32-exit-codes"}, "verify takes only"},
        {{"verify", "a.dll", "--timeout", "0"}, "--timeout needs a whole number of seconds"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.first));
        TRunnerArgs args;
        std::string error;
        EXPECT_FALSE(ParseRunnerArguments(c.first, args, error));
        EXPECT_NE(error.find(c.second), std::string::npos) << error;
    }
}

TEST(RunnerArguments, CaptureTakesFilesAndARegFile) {
    const struct {
        Strings args;
        Strings files;
        std::string reg;
        bool json;
        std::string wxs = "", wxsFolder = "";
    } cases[] = {
        {{"capture", "a.dll"}, {"a.dll"}, "", false},
        {{"CAPTURE", "--reg", "o u.reg", "a.dll", "b.tlb", "--json"}, {"a.dll", "b.tlb"}, "o u.reg", true},
        {{"capture", "--REG=x.reg", "--", "--reg"}, {"--reg"}, "x.reg", false},
        {{"capture", "a.dll", "--wxs", "o.wxs"}, {"a.dll"}, "", false, "o.wxs", ""},
        {{"capture", "--WXS-FOLDER", "_App.Dir9", "a.dll", "--wxs=o.wxs", "--reg", "o.reg"}, {"a.dll"}, "o.reg", false,
         "o.wxs", "_App.Dir9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        TRunnerArgs args;
        std::string error;
        ASSERT_TRUE(ParseRunnerArguments(c.args, args, error)) << error;
        EXPECT_EQ(args.command, TCommand::Capture);
        EXPECT_EQ(args.files, c.files);
        EXPECT_EQ(args.reg, c.reg);
        EXPECT_EQ(args.json, c.json);
        EXPECT_EQ(args.wxs, c.wxs);
        EXPECT_EQ(args.wxsFolder, c.wxsFolder);
    }
}

TEST(RunnerArguments, VerifyTakesFilesAndBatches) {
    const struct {
        Strings args;
        Strings files;
        bool json, quiet;
        int timeout;
    } cases[] = {
        {{"verify", "a.dll"}, {"a.dll"}, false, false, 60},
        {{"VERIFY", "--json", "a.dll", "b.kvx", "c.tlb", "--timeout=5"}, {"a.dll", "b.kvx", "c.tlb"}, true, false, 5},
        {{"-q", "verify", "--", "--json"}, {"--json"}, false, true, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        TRunnerArgs args;
        std::string error;
        ASSERT_TRUE(ParseRunnerArguments(c.args, args, error)) << error;
        EXPECT_EQ(args.command, TCommand::Verify);
        EXPECT_EQ(args.files, c.files);
        EXPECT_EQ(args.json, c.json);
        EXPECT_EQ(args.quiet, c.quiet);
        EXPECT_EQ(args.timeoutSeconds, c.timeout);
    }
    // Its own exit code, listed by --help.
    EXPECT_NE(cmd::UsageText("CorvantisCmd").find("\n  " + std::to_string(cmd::ecNotRegistered) + "  verify: "),
              std::string::npos);
}

TEST(RunnerArguments, InstallOptionsAndTheirExitCodes) {
    const struct {
        Strings args;
        bool install;
        std::string text;
        bool noRegister, regsvr32;
        Strings files;
    } cases[] = {
        {{"register", "a.dll", "--install"}, true, "", false, false, {"a.dll"}},
        // The text only after "=": a next argument is a file.
        {{"unregister", "--INSTALL=User Mode", "a.dll", "b.dll"}, true, "User Mode", false, false, {"a.dll", "b.dll"}},
        {{"register", "--install", "x", "--no-register", "--Regsvr32-Exit-Codes"}, true, "", true, true, {"x"}},
        {{"register", "--install=a=b", "--", "--install"}, true, "a=b", false, false, {"--install"}},
        {{"run", "b.kvx", "--regsvr32-exit-codes"}, false, "", false, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        TRunnerArgs args;
        std::string error;
        ASSERT_TRUE(ParseRunnerArguments(c.args, args, error)) << error;
        EXPECT_EQ(args.install, c.install);
        EXPECT_EQ(args.installText, c.text);
        EXPECT_EQ(args.noRegister, c.noRegister);
        EXPECT_EQ(args.regsvr32ExitCodes, c.regsvr32);
        EXPECT_EQ(args.files, c.files);
    }
    // A wrong line ends with regsvr32's code once the switch stands among
    // the options, even when the line is wrong for another reason.
    const std::pair<Strings, int> usage[] = {
        {{"register", "--no-register"}, cmd::ecUsage},
        {{"register", "--no-register", "--REGSVR32-exit-codes"}, cmd::rcUsage},
        {{"--regsvr32-exit-codes=yes"}, cmd::ecUsage},
        {{"register", "--", "--regsvr32-exit-codes"}, cmd::ecUsage},
    };
    for (const auto& c : usage) EXPECT_EQ(cmd::UsageExitCode(c.first), c.second) << testing::PrintToString(c.first);
}

// --per-user stands anywhere, in any case, with every command and the other
// options, and takes no value.
TEST(RunnerArguments, PerUserCombinesWithTheOtherOptions) {
    const struct {
        Strings args;
        bool accepted;
        bool perUser;
        TCommand command;
        bool install;
    } cases[] = {
        {{"register", "a.dll"}, true, false, TCommand::Register, false},
        {{"register", "a.dll", "--per-user"}, true, true, TCommand::Register, false},
        {{"--PER-USER", "unregister", "a.dll", "--install=x"}, true, true, TCommand::Unregister, true},
        {{"run", "b.kvx", "--per-user", "--unregister-first", "--json"}, true, true, TCommand::Run, false},
        {{"register", "--per-user", "--install", "--no-register", "a.dll"}, true, true, TCommand::Register, true},
        {{"register", "--", "--per-user"}, true, false, TCommand::Register, false},
        {{"register", "a.dll", "--per-user=yes"}, false, false, TCommand::None, false},
        {{"register", "a.dll", "--peruser"}, false, false, TCommand::None, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        TRunnerArgs args;
        std::string error;
        ASSERT_EQ(ParseRunnerArguments(c.args, args, error), c.accepted) << error;
        if (!c.accepted) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(args.perUser, c.perUser);
        EXPECT_EQ(args.command, c.command);
        EXPECT_EQ(args.install, c.install);
    }
    EXPECT_NE(cmd::UsageText("CorvantisCmd").find("  --per-user "), std::string::npos);
}
