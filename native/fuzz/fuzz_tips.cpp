// Fuzzes the tips-file reader: the tips file lies beside the program, where
// anything may replace it. Its lines follow the same rules as a batch file's,
// so the two splitters must agree; shuffling must keep every tip.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "common/QVTipsFile.h"
#include "mainwin/uBatchText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> tips = qv::SplitTips(text);
    std::string joined;
    for (const std::string& tip : tips) {
        FUZZ_CHECK(tip.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        joined += tip;
    }
    FUZZ_CHECK(joined == fuzz::WithoutLineBreaks(text));
    FUZZ_CHECK(tips == SplitBatchLines(text));

    // The shuffle is quadratic in the number of lines and dominates the
    // run time; a few dozen lines exercise all of it.
    if (tips.size() <= 32) {
        std::vector<std::string> shuffled = tips;
        std::mt19937 random(static_cast<std::mt19937::result_type>(size));
        qv::ShuffleStrings(shuffled, random);
        FUZZ_CHECK(shuffled.size() == tips.size());
        std::vector<std::string> a = tips;
        std::vector<std::string> b = shuffled;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        FUZZ_CHECK(a == b);
    }
    return 0;
}
