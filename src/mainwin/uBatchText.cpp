#include "mainwin/uBatchText.h"

#include <algorithm>

const char kBatchHeader[] = "; Quorvandel Corvantis File";
const char kOldBatchHeader[] = "; Quorvandel Corvantor File";

std::string BatchKey(const std::string& path) {
    std::string key = path;
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

std::vector<std::string> SplitBatchLines(const std::string& bytes) {
    const size_t end = std::min(bytes.find('\0'), bytes.size());
    std::vector<std::string> lines;
    size_t start = 0;
    size_t pos = 0;
    while (pos < end) {
        char c = bytes[pos];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(bytes, start, pos - start);
            if (c == '\r' && pos + 1 < end && bytes[pos + 1] == '\n') ++pos;
            start = ++pos;
        } else {
            ++pos;
        }
    }
    // The text after the last line break, when there is any.
    if (start < end) lines.emplace_back(bytes, start, end - start);
    return lines;
}

bool ParseBatchText(const std::string& bytes, std::vector<std::string>* paths) {
    std::vector<std::string> lines = SplitBatchLines(bytes);
    if (lines.empty() || (lines[0] != kBatchHeader && lines[0] != kOldBatchHeader)) return false;
    if (paths) paths->assign(lines.begin() + 1, lines.end());
    return true;
}

bool StartsWithBatchHeader(const std::string& start) {
    static_assert(sizeof kBatchHeader == sizeof kOldBatchHeader, "both headers have one length");
    constexpr std::size_t length = sizeof kBatchHeader - 1;
    static_assert(kBatchHeaderProbe == length + 1, "the probe holds a header and one byte");
    if (start.size() < length) return false;
    if (start.compare(0, length, kBatchHeader) != 0 && start.compare(0, length, kOldBatchHeader) != 0) return false;
    // The header line must end right there: at the end of the text, at a
    // line break or at a NUL (which ends the text).
    if (start.size() == length) return true;
    const char next = start[length];
    return next == '\r' || next == '\n' || next == '\0';
}

std::string FormatBatchText(const std::vector<std::string>& paths) {
    std::string text = std::string(kBatchHeader) + "\r\n";
    for (const std::string& path : paths) {
        text += path;
        text += "\r\n";
    }
    return text;
}

namespace {
std::string PrefixFileName(const std::string& path, const char* prefix) {
    size_t cut = path.find_last_of("\\/:");
    size_t nameStart = cut == std::string::npos ? 0 : cut + 1;
    return path.substr(0, nameStart) + prefix + path.substr(nameStart);
}
}  // namespace

std::string RecoveryFileName(const std::string& path) { return PrefixFileName(path, "Recovery of "); }

std::string BackupFileName(const std::string& path) { return PrefixFileName(path, "Backup of "); }
