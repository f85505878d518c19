#include "app/uCmdLineParse.h"

namespace app {

namespace {

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace

std::vector<std::string> SplitParameters(const std::string& commandLine) {
    std::vector<std::string> tokens;
    size_t i = 0;
    const size_t n = commandLine.size();
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (true) {
        while (i < n && blank(commandLine[i])) ++i;
        if (i >= n) break;
        std::string token;
        bool quoted = false;
        for (; i < n && (quoted || !blank(commandLine[i])); ++i) {
            if (commandLine[i] == '"') {
                quoted = !quoted;
            } else {
                token += commandLine[i];
            }
        }
        tokens.push_back(std::move(token));
    }
    // The first token is the program itself.
    if (!tokens.empty()) tokens.erase(tokens.begin());
    return tokens;
}

TCommandLine InterpretParameters(const std::vector<std::string>& parameters,
                                 const std::function<bool(const std::string&)>& fileExists) {
    TCommandLine result;
    if (parameters.size() != 1) return result;
    const std::string& parameter = parameters.front();
    std::string head = UpperAscii(parameter.substr(0, 3));
    if (head.compare(0, 2, "/N") == 0) {
        result.mode = smNewBatch;
    } else if (head == "/F:" || head == "/R:" || head == "/U:") {
        result.mode = head == "/F:" ? smOpenBatch : head == "/R:" ? smRegister : smUnregister;
        result.file = parameter.substr(3);
    }
    if (!result.file.empty() && !fileExists(result.file)) result = TCommandLine{};
    return result;
}

}  // namespace app
