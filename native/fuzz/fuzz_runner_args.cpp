// Fuzzes the console runner's argument list: the input is cut at its NULs
// into arguments, as a script could pass them. Whatever is accepted must be
// a complete, consistent request; whatever is refused must say why.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "cmd/uCmdArgs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || text[i] == '\0') {
            args.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    cmd::TRunnerArgs parsed;
    std::string error;
    if (!cmd::ParseRunnerArguments(args, parsed, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(error.empty());
    FUZZ_CHECK(!(parsed.continueAll && parsed.stopAfter != 0));
    FUZZ_CHECK(parsed.stopAfter >= 0 && parsed.stopAfter <= cmd::kMaxStopAfter);
    switch (parsed.command) {
    case cmd::TCommand::Register:
    case cmd::TCommand::Unregister:
        FUZZ_CHECK(!parsed.files.empty() && parsed.batch.empty() && !parsed.unregister);
        for (const std::string& file : parsed.files) FUZZ_CHECK(!file.empty());
        FUZZ_CHECK(!(parsed.command == cmd::TCommand::Unregister && parsed.unregisterFirst));
        break;
    case cmd::TCommand::Run:
        FUZZ_CHECK(parsed.files.empty() && !parsed.batch.empty());
        FUZZ_CHECK(!(parsed.unregister && parsed.unregisterFirst));
        break;
    case cmd::TCommand::Help:
    case cmd::TCommand::Version: break;
    case cmd::TCommand::None: FUZZ_CHECK(false);
    }
    // Every file comes from the input.
    std::size_t total = parsed.batch.size();
    for (const std::string& file : parsed.files) total += file.size();
    FUZZ_CHECK(total <= size);
    return 0;
}
