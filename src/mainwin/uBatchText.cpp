#include "mainwin/uBatchText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

const char kBatchHeader[] = "; Quorvandel Corvantis File";
const char kOldBatchHeader[] = "; Quorvandel Corvantor File";
const char kUtf8Bom[] = "\xEF\xBB\xBF";
static_assert(sizeof kUtf8Bom == kUtf8BomSize + 1, "the mark's size");

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

namespace {
bool StartsWithBom(const std::string& bytes) { return bytes.compare(0, kUtf8BomSize, kUtf8Bom) == 0; }
}  // namespace

bool StartsWithBatchHeader(const std::string& start) {
    static_assert(sizeof kBatchHeader == sizeof kOldBatchHeader, "both headers have one length");
    constexpr std::size_t length = sizeof kBatchHeader - 1;
    static_assert(kBatchHeaderProbe == kUtf8BomSize + length + 1, "the probe holds a mark, a header and one byte");
    // The header is ASCII, which reads the same in UTF-8 and in every legacy
    // code page, so the bytes are compared as they are.
    const std::size_t at = StartsWithBom(start) ? kUtf8BomSize : 0;
    if (start.size() < at + length) return false;
    if (start.compare(at, length, kBatchHeader) != 0 && start.compare(at, length, kOldBatchHeader) != 0) return false;
    // The header line must end right there: at the end of the text, at a
    // line break or at a NUL (which ends the text).
    if (start.size() == at + length) return true;
    const char next = start[at + length];
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

bool IsValidUtf8(const char* data, std::size_t size) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* const end = p + size;
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        // The number of continuation bytes, and the range the first of them
        // must lie in: narrower after E0, ED, F0 and F4, which rules out
        // overlong forms, surrogates and code points past U+10FFFF.
        std::size_t more = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) <= more) return false;
        if (p[1] < low || p[1] > high) return false;
        for (std::size_t i = 2; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
        }
        p += more + 1;
    }
    return true;
}

std::string DecodeBatchText(std::string bytes, const TLegacyCodePage& legacy) {
    const std::size_t nul = bytes.find('\0');
    if (nul != std::string::npos) bytes.resize(nul);
    // A mark says how the writer meant the file; should the rest not be
    // UTF-8 after all, it is still read without the mark.
    if (StartsWithBom(bytes)) bytes.erase(0, kUtf8BomSize);
    if (IsValidUtf8(bytes.data(), bytes.size())) return bytes;
    return legacy.ToUtf8(bytes);
}

std::string EncodeBatchText(const std::vector<std::string>& paths, const TLegacyCodePage& legacy) {
    std::string text = FormatBatchText(paths);
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii) return text;
    // Legacy bytes that happen to be valid UTF-8 (1252's "Ã©" is UTF-8's
    // "é") would be read back as UTF-8: such a text is written as UTF-8.
    std::string bytes;
    if (legacy.FromUtf8(text, &bytes) && !IsValidUtf8(bytes.data(), bytes.size())) return bytes;
    return kUtf8Bom + text;
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
