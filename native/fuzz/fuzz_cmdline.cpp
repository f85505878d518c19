// Fuzzes the command line: any text may follow the program's name, from a
// shell verb, a script or a user. The input is read twice: as one command
// line, and cut at its NULs into a parameter list handed straight to the
// interpreter.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "app/uCmdLineParse.h"

namespace {

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// Interprets the parameters with every file present and with none, and
// checks what each gives against the switch rules.
void CheckInterpretation(const std::vector<std::string>& parameters) {
    int asked = 0;
    std::string askedAbout;
    auto present = [&](const std::string& path) {
        ++asked;
        askedAbout = path;
        return true;
    };
    const app::TCommandLine found = app::InterpretParameters(parameters, present);
    FUZZ_CHECK(asked <= 1);
    if (asked == 1) FUZZ_CHECK(!askedAbout.empty() && askedAbout == found.file);

    TStartMode mode = smNormal;
    std::string file;
    if (parameters.size() == 1) {
        const std::string head = UpperAscii(parameters[0].substr(0, 3));
        if (head.compare(0, 2, "/N") == 0) {
            mode = smNewBatch;
        } else if (head == "/F:" || head == "/R:" || head == "/U:") {
            mode = head[1] == 'F' ? smOpenBatch : head[1] == 'R' ? smRegister : smUnregister;
            file = parameters[0].substr(3);
        }
    }
    FUZZ_CHECK(found.mode == mode);
    FUZZ_CHECK(found.file == file);

    const app::TCommandLine missing =
        app::InterpretParameters(parameters, [](const std::string&) { return false; });
    if (file.empty()) {
        FUZZ_CHECK(missing.mode == mode && missing.file.empty());
    } else {
        FUZZ_CHECK(missing.mode == smNormal && missing.file.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::vector<std::string> parameters = app::SplitParameters(text);
    std::size_t total = 0;
    for (const std::string& parameter : parameters) {
        FUZZ_CHECK(parameter.find('"') == std::string::npos);
        total += parameter.size();
    }
    FUZZ_CHECK(total + parameters.size() <= size);
    // Quoted again behind a program name, the parameters split back as they were.
    std::string line = "prog";
    for (const std::string& parameter : parameters) line += " \"" + parameter + "\"";
    FUZZ_CHECK(app::SplitParameters(line) == parameters);
    CheckInterpretation(parameters);

    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || text[i] == '\0') {
            pieces.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    CheckInterpretation(pieces);
    return 0;
}
