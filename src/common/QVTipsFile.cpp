#include "common/QVTipsFile.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <utility>

namespace qv {

std::vector<std::string> SplitTips(const std::string& text) {
    std::vector<std::string> tips;
    size_t end = text.find('\0');
    if (end == std::string::npos) end = text.size();
    size_t start = 0;
    while (start < end) {
        size_t stop = start;
        while (stop < end && text[stop] != '\r' && text[stop] != '\n') ++stop;
        tips.push_back(text.substr(start, stop - start));
        if (stop < end && text[stop] == '\r' && stop + 1 < end && text[stop + 1] == '\n') ++stop;
        start = stop + 1;
    }
    return tips;
}

bool ReadTipsFile(const std::string& path, std::vector<std::string>& tips) {
    tips.clear();
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return false;
    tips = SplitTips(text);
    return true;
}

void ShuffleStrings(std::vector<std::string>& lines, std::mt19937& random) {
    std::vector<std::string> work = std::move(lines);
    std::vector<std::string> result;
    result.reserve(work.size());
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    while (!work.empty()) {
        size_t left = work.size();
        size_t i = static_cast<size_t>(draw(random) * static_cast<double>(left));
        // The distribution may return 1.0 itself after rounding; that would
        // name a line past the end.
        if (i >= left) i = left - 1;
        result.push_back(std::move(work[i]));
        work.erase(work.begin() + static_cast<std::ptrdiff_t>(i));
    }
    lines = std::move(result);
}

void ShuffleStrings(std::vector<std::string>& lines) {
    std::mt19937 random(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    ShuffleStrings(lines, random);
}

}  // namespace qv
