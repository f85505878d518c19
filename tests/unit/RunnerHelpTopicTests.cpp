// The console runner's help topic (help/html/console_runner.htm) kept in step
// with the runner: every command and option its --help text lists, and every
// exit code the runner defines, must be described in the topic.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cmd/uCmdArgs.h"

namespace {

// A file of the source tree, read whole; empty when it cannot be read.
std::string SourceFile(const std::string& relative) {
    std::string root = CORVANTIS_SOURCE_DIR;
#ifdef _WIN32
    // Under Wine the Unix root is drive Z:.
    if (!root.empty() && root[0] == '/') root = "Z:" + root;
#endif
    std::ifstream file(root + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string Topic() { return SourceFile("help/html/console_runner.htm"); }

std::set<std::string> Matches(const std::string& text, const std::string& pattern, int group = 1) {
    std::set<std::string> found;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
        found.insert((*it)[group].str());
    return found;
}

// The topic's "Exit codes" section: from its heading to the next heading.
std::string ExitCodeSection(const std::string& topic) {
    size_t start = topic.find("<h2>Exit codes</h2>");
    if (start == std::string::npos) return std::string();
    size_t end = topic.find("<h2", start + 1);
    return topic.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The exit codes of the usage text's "Exit codes:" list ("  N  meaning").
std::set<std::string> UsageExitCodes(const std::string& usage) {
    size_t start = usage.find("\nExit codes:\n");
    if (start == std::string::npos) return {};
    return Matches(usage.substr(start), "\n  ([0-9]+)  ");
}

TEST(RunnerHelpTopic, DescribesEveryCommandAndOptionOfTheUsage) {
    const std::string usage = cmd::UsageText("CorvantisCmd");
    const std::string topic = Topic();
    ASSERT_FALSE(topic.empty()) << "help/html/console_runner.htm could not be read";

    const std::set<std::string> commands = Matches(usage, "\n  CorvantisCmd ([a-z]+)");
    EXPECT_GE(commands.size(), 3u) << usage;
    for (const std::string& command : commands) {
        EXPECT_TRUE(std::regex_search(topic, std::regex("CorvantisCmd " + command + "[ <]")))
            << "the topic shows no \"CorvantisCmd " << command << "\"";
    }
    const std::set<std::string> options = Matches(usage, "(--[a-z][a-z0-9-]*)");
    EXPECT_GE(options.size(), 10u) << usage;
    for (const std::string& option : options) {
        // Whole names only: "--unregister" is not found in "--unregister-first".
        EXPECT_TRUE(std::regex_search(topic, std::regex("<code>" + option + "(?![a-z0-9-])")))
            << "the topic does not describe " << option;
    }
}

TEST(RunnerHelpTopic, DescribesEveryExitCodeTheRunnerDefines) {
    const std::string usage = cmd::UsageText("CorvantisCmd");
    const std::string section = ExitCodeSection(Topic());
    ASSERT_FALSE(section.empty()) << "the topic has no \"Exit codes\" section";

    // The codes as the runner's header defines them, read from its source so
    // that a code added there is seen here.
    const std::string header = SourceFile("src/cmd/uCmdArgs.h");
    const size_t begin = header.find("enum TExitCode");
    ASSERT_NE(begin, std::string::npos) << "src/cmd/uCmdArgs.h could not be read";
    const std::string body = header.substr(begin, header.find("};", begin) - begin);
    const std::set<std::string> defined = Matches(body, "\\bec[A-Za-z]+ = ([0-9]+),");
    EXPECT_GE(defined.size(), 6u) << body;
    EXPECT_EQ(defined.count(std::to_string(cmd::ecInternal)), 1u);

    const std::set<std::string> listed = UsageExitCodes(usage);
    EXPECT_EQ(listed, defined) << "--help lists other exit codes than the runner defines";
    for (const std::string& code : defined) {
        EXPECT_NE(section.find("<tr><td>" + code + "</td>"), std::string::npos)
            << "the topic does not describe exit code " << code;
    }
}

}  // namespace
