// The console runner turns anything its run throws into its own exit code
// and a message, never an abort.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "cmd/uCmdRunner.h"

TEST(CmdRunner, AnInternalFailureIsExitCodeFiveWithAMessage) {
    struct {
        std::function<int()> body;
        int exitCode;
        const char* message;  // on standard error; empty: none
    } cases[] = {
        {[]() -> int { throw std::bad_alloc(); }, 5, "CorvantisCmd: internal error: out of memory."},
        {[]() -> int { throw std::runtime_error("the list broke"); }, 5, "CorvantisCmd: internal error: the list broke."},
        {[]() -> int { throw 42; }, 5, "CorvantisCmd: internal error: an unexpected error."},
        {[] { return 4; }, 4, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> errors;
        cmd::TRunnerOutput output;
        output.err = [&](const std::string& line) { errors.push_back(line); };
        EXPECT_EQ(cmd::GuardedMain(c.body, output), c.exitCode);
        EXPECT_EQ(errors, *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    }
    // A message that itself fails for want of memory leaves the exit code.
    cmd::TRunnerOutput failing;
    failing.err = [](const std::string&) { throw std::bad_alloc(); };
    EXPECT_EQ(cmd::GuardedMain([]() -> int { throw std::bad_alloc(); }, failing), cmd::ecInternal);
}
